#include "cli/input_checks.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/session.h"

namespace orvane::cli {
namespace {

std::string CannotRead(const std::string& path) { return "cannot read \"" + path + "\": " + std::strerror(errno); }

std::string TooBig(const std::string& path, std::uintmax_t size, std::uintmax_t limit) {
  return std::string(device::kStatusFileTooBig) + " (\"" + path + "\" has " + std::to_string(size) + " bytes; at most " +
         std::to_string(limit) + " can be sent)";
}

}  // namespace

std::optional<std::string> CheckFileToSend(Command command, const std::string& path) {
  if (command != Command::kPut && command != Command::kFlash && command != Command::kVerify) return std::nullopt;
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) return CannotRead(path);
  if (!S_ISREG(info.st_mode)) return "\"" + path + "\" is not a regular file";
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
  } else {
    return CannotRead(path);
  }
  const auto size = static_cast<std::uintmax_t>(info.st_size);
  if (command != Command::kPut) {
    if (size >= device::kFirmwareLimit) return std::string(device::kStatusFirmwareTooBig);
    return std::nullopt;
  }
  const bool ring = device::FileTypeForPath(path) == 0x5256;
  const std::uintmax_t limit = ring ? kRingPlanFileLimit : kPlanFileLimit;
  if (size > limit) return TooBig(path, size, limit);
  return std::nullopt;
}

}  // namespace orvane::cli
