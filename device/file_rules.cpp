#include "device/file_rules.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace orvane::device {
namespace {

PlanVerdict Verdict(PlanRule rule, const std::string& path, std::uintmax_t size) {
  PlanVerdict verdict;
  verdict.rule = rule;
  verdict.size = size;
  verdict.limit = PlanFileLimit(path);
  return verdict;
}

bool RingTooShort(const std::string& path, std::uintmax_t size) { return IsRingPlan(path) && size < kRingPlanLeast; }

bool NameTooLong(const std::string& path) { return DeviceFileName(path).size() > kNameFrameLimit; }

}  // namespace

FileLook LookAtFile(const std::string& path) {
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) return {FileAccess::kNoFile, errno, 0};
  if (!S_ISREG(info.st_mode)) return {FileAccess::kNotRegular, 0, 0};
  const auto size = static_cast<std::uintmax_t>(info.st_size);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {FileAccess::kUnreadable, errno, size};
  std::fclose(file);
  return {FileAccess::kReadable, 0, size};
}

bool IsRingPlan(const std::string& path) { return FileTypeForPath(path) == kRingPlanType; }

std::uintmax_t PlanFileLimit(const std::string& path) {
  return IsRingPlan(path) ? kRingPlanFileLimit : kPlanFileLimit;
}

std::optional<link::Cp1251Gap> StoredNameGap(const std::string& path) {
  return link::FirstCharacterWithoutCp1251(DeviceFileNameText(path));
}

PlanVerdict CheckPlanFile(const std::string& path, std::uintmax_t size) {
  PlanVerdict verdict = Verdict(PlanRule::kAccepted, path, size);
  if (size > verdict.limit) return Verdict(PlanRule::kTooBig, path, size);
  if (const auto gap = StoredNameGap(path)) {
    verdict.rule = gap->malformed ? PlanRule::kNameMalformed : PlanRule::kNameNotCp1251;
    verdict.character = gap->character;
    return verdict;
  }
  if (RingTooShort(path, size)) return Verdict(PlanRule::kRingTooShort, path, size);
  if (NameTooLong(path)) return Verdict(PlanRule::kNameTooLong, path, size);
  return verdict;
}

std::optional<std::size_t> StoredPlanSize(const std::string& path, std::span<const std::uint8_t> file) {
  if (!IsRingPlan(path)) return file.size();
  if (RingTooShort(path, file.size())) return std::nullopt;
  return file[kCircularPlanLength] | (file[kCircularPlanLength + 1] << 8);
}

PlanVerdict CheckPlanUpload(const std::string& path, std::span<const std::uint8_t> file, std::int64_t free) {
  const std::optional<std::size_t> stored = StoredPlanSize(path, file);
  if (!stored) return Verdict(PlanRule::kRingTooShort, path, file.size());
  if (NameTooLong(path)) return Verdict(PlanRule::kNameTooLong, path, file.size());
  PlanVerdict verdict = Verdict(PlanRule::kAccepted, path, file.size());
  verdict.needed = FileSpaceNeeded(DeviceFileName(path).size(), *stored);
  verdict.free = free;
  if (free < verdict.needed) verdict.rule = PlanRule::kNoRoom;
  return verdict;
}

bool IsImageName(const std::string& path) { return PathExtension(path) == ".MTS"; }

ImageVerdict CheckImage(const std::string& path, std::uintmax_t size, bool forced) {
  const auto verdict = [size](ImageRule rule) { return ImageVerdict{.rule = rule, .size = size}; };
  if (size > kImageLimit) return verdict(ImageRule::kTooBig);
  if (forced) return verdict(ImageRule::kAccepted);
  if (size == 0) return verdict(ImageRule::kEmpty);
  if (!IsImageName(path)) return verdict(ImageRule::kNotNamed);
  return verdict(ImageRule::kAccepted);
}

}  // namespace orvane::device
