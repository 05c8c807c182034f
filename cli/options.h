// The command line of orvane-cli: global options, one command with its
// arguments and options. Parsing never touches the device; anything it
// refuses is bad input (exit status 2).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/constants_fields.h"

namespace orvane::cli {

enum class Command { kPorts, kStatus, kPut, kDelete, kErase, kFlash, kVerify, kConstants, kProvision, kHistory };

// The constants fields a `constants` command changes; the others keep what
// the refresh read from the device.
using ConstantsChange = device::ConstantsChange;

inline constexpr const char* kAllPorts = "all";

struct Options {
  std::optional<std::string> port;  // the one port of this run; the stored ComPort when absent
  std::vector<std::string> ports;   // every --port in the order given ("all" alone for every port found)
  bool json = false;
  bool quiet = false;
  bool yes = false;
  bool verbose = false;  // ports: show device files and USB details
  bool help = false;
  bool version = false;
  bool force = false;  // flash, verify: send an image that looks wrong all the same
  // A child of a run on several ports hands its result to its parent as one
  // JSON line on this file descriptor (not shown in the help).
  std::optional<int> result_fd;
  std::optional<std::string> trace_path;  // --trace FILE
  Command command = Command::kStatus;
  std::string path;      // put FILE, flash IMAGE, verify IMAGE, provision JOB
  int file_number = 0;   // delete N, as shown in the file table
  ConstantsChange constants;
  std::optional<std::string> profile_path;  // constants --from FILE
  std::optional<std::int32_t> serial_from;  // constants --serial-from N
  // The station records: an SQLite file or a postgresql:// URL (--db);
  // provision and history use the default place when it is absent.
  std::optional<std::string> db;
  std::optional<std::string> bench_path;       // provision --bench
  bool watch = false;                          // provision --watch
  bool new_records = false;                    // provision --new-records: the store may be made
  std::optional<std::int32_t> history_serial;  // history --serial N
  std::optional<std::string> since;            // history --since DATE
  std::optional<std::string> until;            // history --until DATE
  std::optional<std::string> station_name;     // history --station NAME
  std::optional<std::string> position_name;    // history --position NAME
  std::optional<std::string> result_word;      // history --result WORD: running, done, failed, interrupted
  bool csv = false;                            // history --csv

  // Runs on several modems at once: --port more than once, or --port all.
  bool SeveralPorts() const { return ports.size() > 1 || AllPorts(); }
  bool AllPorts() const { return ports.size() == 1 && ports[0] == kAllPorts; }
};

struct ParseResult {
  std::optional<Options> options;  // empty when refused
  std::string error;               // why, for stderr
};

ParseResult ParseOptions(const std::vector<std::string>& arguments);
// The command line that parses back into these options (the program name
// not included).
std::vector<std::string> ArgumentsOf(const Options& options);

// Why an identifier cannot be stored as given (more than 20 characters, or
// a character code page 1251 lacks), named as `name`; nothing when it can.
std::optional<std::string> CheckIdentifier(const std::string& name, const std::string& text);

// "--tz must be a whole number from -32768 to 32767, not "x"" (with `name`
// for the option), or nothing when text is a number the field accepts (then
// stored in *value).
std::optional<std::string> CheckNumber(const std::string& name, const device::FieldDescription& field,
                                       std::string_view text, std::int32_t* value);

}  // namespace orvane::cli
