// What a file may be before it is sent: a plan the console can store, an
// image it can run. Each verdict says why in a value, with its figures; the
// tool, the station and the windows word it themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/session.h"
#include "link/cp1251.h"

namespace orvane::device {

// Type codes of the directory, given by the file's extension (FileTypeForPath).
inline constexpr std::uint16_t kOtherFileType = 0x0000;
inline constexpr std::uint16_t kTelvariPlanType = 0x0001;  // .L7Q
inline constexpr std::uint16_t kYearlyPlanType = 0x0002;   // .YP1
inline constexpr std::uint16_t kRingPlanType = 0x5256;     // .R0, .R1
inline constexpr std::uint16_t kProgramType = 0x8000;      // .RVP

// The console reports its free space, and a ring plan its length, in 16 bits.
inline constexpr std::uintmax_t kSixteenBitMost = 0xFFFF;
// The largest plan file any console can take: its device file (a name of at
// least one byte) with the device's margin must fit the most free space.
inline constexpr std::uintmax_t kPlanFileLimit = kSixteenBitMost - FileSpaceNeeded(1, 0);
// A ring plan is read from offset 1024 for at most 65535 bytes, wrapping at
// the end of the file; a longer file holds bytes that are never sent.
inline constexpr std::uintmax_t kRingPlanFileLimit = kCircularPlanStart + kSixteenBitMost;
// The shortest ring plan: one that holds its length field.
inline constexpr std::uintmax_t kRingPlanLeast = kCircularPlanLength + 2;
// The largest image: its chunks' offsets are 16 bits.
inline constexpr std::uintmax_t kImageLimit = kFirmwareLimit - 1;

// A file on disk as far as sending it goes, looked at without reading it.
enum class FileAccess { kReadable, kNoFile, kNotRegular, kUnreadable };
struct FileLook {
  FileAccess access = FileAccess::kReadable;
  int error = 0;            // errno of kNoFile and kUnreadable
  std::uintmax_t size = 0;  // of a regular file

  bool Regular() const { return access == FileAccess::kReadable || access == FileAccess::kUnreadable; }
};
FileLook LookAtFile(const std::string& path);

enum class PlanRule {
  kAccepted,
  kTooBig,         // beyond the limit of its kind: never sent whole
  kNameMalformed,  // the stored name is not UTF-8
  kNameNotCp1251,  // the stored name holds a character code page 1251 lacks
  kRingTooShort,   // a ring plan without its length field
  kNameTooLong,    // the stored name does not fit one frame
  kNoRoom,         // the console's free space is less than the file needs
};

struct PlanVerdict {
  PlanRule rule = PlanRule::kAccepted;
  std::uintmax_t size = 0;   // the file's bytes
  std::uintmax_t limit = 0;  // the largest file of its kind
  std::int64_t needed = 0;   // free space the stored file needs (CheckPlanUpload)
  std::int64_t free = 0;     // the console's free space (CheckPlanUpload)
  std::string character;     // the character code page 1251 lacks, or the bytes that are not UTF-8

  bool Accepted() const { return rule == PlanRule::kAccepted; }
  bool operator==(const PlanVerdict&) const = default;
};

bool IsRingPlan(const std::string& path);
// The first character of the stored name that code page 1251 lacks: the
// console would store '?' for it without a word.
std::optional<link::Cp1251Gap> StoredNameGap(const std::string& path);
std::uintmax_t PlanFileLimit(const std::string& path);
// What no console takes, from the file's path and size alone.
PlanVerdict CheckPlanFile(const std::string& path, std::uintmax_t size);
// The data bytes the console stores for a plan file: a ring plan's length
// field, any other file whole; nothing for a ring plan too short to hold it.
std::optional<std::size_t> StoredPlanSize(const std::string& path, std::span<const std::uint8_t> file);
// What a console with `free` bytes refuses of a plan file read: a ring plan
// too short, a name that does not fit one frame, too little room.
PlanVerdict CheckPlanUpload(const std::string& path, std::span<const std::uint8_t> file, std::int64_t free);

enum class ImageRule {
  kAccepted,
  kTooBig,    // beyond kImageLimit, even when forced
  kEmpty,     // would leave the console without its main program
  kNotNamed,  // not named *.mts (any case): another kind of file
};

struct ImageVerdict {
  ImageRule rule = ImageRule::kAccepted;
  std::uintmax_t size = 0;
  std::uintmax_t limit = kImageLimit;

  bool Accepted() const { return rule == ImageRule::kAccepted; }
  bool operator==(const ImageVerdict&) const = default;
};

bool IsImageName(const std::string& path);
// `forced`: the operator vouched for an empty or foreign image.
ImageVerdict CheckImage(const std::string& path, std::uintmax_t size, bool forced);

}  // namespace orvane::device
