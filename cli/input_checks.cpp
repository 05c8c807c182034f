#include "cli/input_checks.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/session.h"
#include "l10n/l10n.h"
#include "link/cp1251.h"

namespace orvane::cli {
namespace {

using l10n::Format;
using l10n::Tr;
using l10n::TrN;

bool IsImageName(const std::string& path) {
  if (path.size() < 4) return false;
  std::string extension = path.substr(path.size() - 4);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".mts";
}

std::string CannotRead(const std::string& path) {
  return Format(Tr("cannot read \"%s\": %s"), path.c_str(), std::strerror(errno));
}

// The status bar's text, then why in the tool's words.
std::string TooBig(const std::string& path, std::uintmax_t size, std::uintmax_t limit) {
  return Format(TrN("%1$s (\"%2$s\" has %3$ju byte; at most %4$ju can be sent)",
                    "%1$s (\"%2$s\" has %3$ju bytes; at most %4$ju can be sent)", size),
                device::kStatusFileTooBig, path.c_str(), size, limit);
}

std::string ImageTooBig(const std::string& path, std::uintmax_t size) {
  return Format(TrN("%1$s (\"%2$s\" has %3$ju byte; the largest image is %4$ju bytes)",
                    "%1$s (\"%2$s\" has %3$ju bytes; the largest image is %4$ju bytes)", size),
                device::kStatusFirmwareTooBig, path.c_str(), size, std::uintmax_t{device::kFirmwareLimit - 1});
}

// The console stores the name in code page 1251; a character it lacks
// would be stored as '?' without a word.
std::optional<std::string> StoredNameProblem(const std::string& path) {
  const auto gap = link::FirstCharacterWithoutCp1251(device::DeviceFileNameText(path));
  if (!gap) return std::nullopt;
  if (gap->malformed) return Format(Tr("the name \"%s\" is not valid UTF-8"), path.c_str());
  return Format(Tr("the name \"%1$s\": \"%2$s\" has no code page 1251 form"), path.c_str(), gap->character.c_str());
}

}  // namespace

std::optional<std::string> CheckFileToSend(const Options& options) {
  const Command command = options.command;
  const std::string& path = options.path;
  if (command != Command::kPut && command != Command::kFlash && command != Command::kVerify) return std::nullopt;
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) return CannotRead(path);
  if (!S_ISREG(info.st_mode)) return Format(Tr("\"%s\" is not a regular file"), path.c_str());
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
  } else {
    return CannotRead(path);
  }
  const auto size = static_cast<std::uintmax_t>(info.st_size);
  if (command != Command::kPut) {
    if (size >= device::kFirmwareLimit) return ImageTooBig(path, size);
    if (options.force) return std::nullopt;
    if (size == 0) {
      return Format(Tr("\"%s\" is empty: flashing it would leave the console without its main program "
                       "(give --force to send it all the same)"),
                    path.c_str());
    }
    if (!IsImageName(path)) {
      return Format(Tr("\"%s\" is not named as a firmware image (*.mts) (give --force to send it all the same)"),
                    path.c_str());
    }
    return std::nullopt;
  }
  const bool ring = device::FileTypeForPath(path) == 0x5256;
  const std::uintmax_t limit = ring ? kRingPlanFileLimit : kPlanFileLimit;
  if (size > limit) return TooBig(path, size, limit);
  return StoredNameProblem(path);
}

}  // namespace orvane::cli
