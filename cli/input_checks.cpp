#include "cli/input_checks.h"

#include <cstring>

#include "device/session.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

using device::ImageRule;
using device::PlanRule;
using l10n::Format;
using l10n::Tr;
using l10n::TrN;

// The status bar's text, then why in the tool's words.
std::string TooBig(const std::string& path, std::uintmax_t size, std::uintmax_t limit) {
  return Format(TrN("%1$s (\"%2$s\" has %3$ju byte; at most %4$ju can be sent)",
                    "%1$s (\"%2$s\" has %3$ju bytes; at most %4$ju can be sent)", size),
                device::kStatusFileTooBig, path.c_str(), size, limit);
}

std::string ImageTooBig(const std::string& path, std::uintmax_t size, std::uintmax_t limit) {
  return Format(TrN("%1$s (\"%2$s\" has %3$ju byte; the largest image is %4$ju bytes)",
                    "%1$s (\"%2$s\" has %3$ju bytes; the largest image is %4$ju bytes)", size),
                device::kStatusFirmwareTooBig, path.c_str(), size, limit);
}

// What put refuses before the port is opened; the session refuses the rest
// in the status bar's words.
bool RefusedBeforeThePort(PlanRule rule) {
  return rule == PlanRule::kTooBig || rule == PlanRule::kNameMalformed || rule == PlanRule::kNameNotCp1251;
}

}  // namespace

std::string RefusalText(const std::string& path, const device::FileLook& look) {
  if (look.access == device::FileAccess::kNotRegular) return Format(Tr("\"%s\" is not a regular file"), path.c_str());
  return Format(Tr("cannot read \"%s\": %s"), path.c_str(), std::strerror(look.error));
}

std::string RefusalText(const std::string& path, const device::ImageVerdict& verdict) {
  switch (verdict.rule) {
    case ImageRule::kTooBig: return ImageTooBig(path, verdict.size, verdict.limit);
    case ImageRule::kEmpty:
      return Format(Tr("\"%s\" is empty: flashing it would leave the console without its main program "
                       "(give --force to send it all the same)"),
                    path.c_str());
    case ImageRule::kNotNamed:
      return Format(Tr("\"%s\" is not named as a firmware image (*.mts) (give --force to send it all the same)"),
                    path.c_str());
    case ImageRule::kAccepted: break;
  }
  return "";
}

std::string RefusalText(const std::string& path, const device::PlanVerdict& verdict) {
  switch (verdict.rule) {
    case PlanRule::kTooBig: return TooBig(path, verdict.size, verdict.limit);
    case PlanRule::kNameMalformed: return Format(Tr("the name \"%s\" is not valid UTF-8"), path.c_str());
    case PlanRule::kNameNotCp1251:
      return Format(Tr("the name \"%1$s\": \"%2$s\" has no code page 1251 form"), path.c_str(),
                    verdict.character.c_str());
    case PlanRule::kRingTooShort: return device::kStatusPlanTooShort;
    case PlanRule::kNameTooLong: return device::kStatusNameTooLong;
    case PlanRule::kNoRoom: return device::kStatusFileTooBig;
    case PlanRule::kAccepted: break;
  }
  return "";
}

std::optional<std::string> CheckFileToSend(const Options& options) {
  const Command command = options.command;
  const std::string& path = options.path;
  if (command != Command::kPut && command != Command::kFlash && command != Command::kVerify) return std::nullopt;
  const device::FileLook look = device::LookAtFile(path);
  if (look.access != device::FileAccess::kReadable) return RefusalText(path, look);
  if (command != Command::kPut) {
    const device::ImageVerdict verdict = device::CheckImage(path, look.size, options.force);
    if (verdict.Accepted()) return std::nullopt;
    return RefusalText(path, verdict);
  }
  const device::PlanVerdict verdict = device::CheckPlanFile(path, look.size);
  if (!RefusedBeforeThePort(verdict.rule)) return std::nullopt;
  return RefusalText(path, verdict);
}

}  // namespace orvane::cli
