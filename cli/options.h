// The command line of orvane-cli: global options, one command and its
// arguments. Parsing never touches the device; anything it refuses is bad
// input (exit status 2).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::cli {

enum ExitStatus : int { kExitDone = 0, kExitLinkFailed = 1, kExitRefused = 2 };

enum class Command { kPorts, kStatus, kPut, kDelete, kErase, kFlash, kConstants };

// The constants fields a `constants` command changes; the others keep what
// the refresh read from the device.
struct ConstantsChange {
  std::optional<std::string> identifier;  // UTF-8, at most 20 characters
  std::optional<std::int32_t> time_zone;
  std::optional<int> summer;              // 0 "Нет", 1 "Есть (стандартный)"
  std::optional<std::int32_t> local_address;
  std::optional<std::int32_t> global_address;
  std::optional<std::int32_t> serial_number;

  bool Empty() const {
    return !identifier && !time_zone && !summer && !local_address && !global_address && !serial_number;
  }
};

struct Options {
  std::optional<std::string> port;  // COMn or a device path; the stored ComPort when absent
  bool json = false;
  bool quiet = false;
  bool yes = false;
  bool verbose = false;  // ports: show device files and USB details
  bool help = false;
  Command command = Command::kStatus;
  std::string path;      // put FILE, flash IMAGE
  int file_number = 0;   // delete N, as shown in the file table
  ConstantsChange constants;
};

struct ParseResult {
  std::optional<Options> options;  // empty when refused
  std::string error;               // why, for stderr
};

ParseResult ParseOptions(const std::vector<std::string>& arguments);

extern const char* const kUsage;

}  // namespace orvane::cli
