#include "device/file_rules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace orvane::device {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uintmax_t kPlan = 65507;   // 65535 less a 7-byte header, a 1-byte name and the 20-byte margin
constexpr std::uintmax_t kRing = 66559;   // 1024 + 65535
constexpr std::uintmax_t kImage = 65535;

// Names and sizes at each limit and one byte past it, and the order the
// rules are asked in.
TEST(FileRules, PlanFileVerdictsWithTheirFigures) {
  const std::string long_name = std::string(242, 'n') + ".yp1";  // 246 bytes stored: beyond one frame
  const std::string longest = std::string(237, 'n') + ".yp1";    // 241
  const std::string far_path = "日/" + std::string(200, 'd') + "/plan.yp1";  // only "plan.yp1" is stored
  const struct {
    std::string path;
    std::uintmax_t size;
    PlanRule rule;
    std::uintmax_t limit;
    std::string character;
  } cases[] = {
      {"a.yp1", 0, PlanRule::kAccepted, kPlan, ""},
      {"a.yp1", kPlan, PlanRule::kAccepted, kPlan, ""},
      {"a.yp1", kPlan + 1, PlanRule::kTooBig, kPlan, ""},
      {"a.rvp", kPlan + 1, PlanRule::kTooBig, kPlan, ""},
      {"ring.R0", kRing, PlanRule::kAccepted, kRing, ""},
      {"ring.r1", kRing + 1, PlanRule::kTooBig, kRing, ""},
      {"ring.R0", 1031, PlanRule::kAccepted, kRing, ""},
      {"ring.R0", 1030, PlanRule::kRingTooShort, kRing, ""},
      {"ring.R1", 0, PlanRule::kRingTooShort, kRing, ""},
      {"план日.yp1", 10, PlanRule::kNameNotCp1251, kPlan, "日"},
      {"план日.yp1", kPlan + 1, PlanRule::kTooBig, kPlan, ""},
      {"bad\xff.yp1", 10, PlanRule::kNameMalformed, kPlan, "\xff"},
      {"日.R0", 5, PlanRule::kNameNotCp1251, kRing, "日"},
      {long_name, 10, PlanRule::kNameTooLong, kPlan, ""},
      {longest, 10, PlanRule::kAccepted, kPlan, ""},
      {far_path, 10, PlanRule::kAccepted, kPlan, ""},
  };
  for (const auto& c : cases) {
    const PlanVerdict verdict = CheckPlanFile(c.path, c.size);
    EXPECT_EQ(verdict.rule, c.rule) << c.path << " " << c.size;
    EXPECT_EQ(verdict.size, c.size) << c.path;
    EXPECT_EQ(verdict.limit, c.limit) << c.path;
    EXPECT_EQ(verdict.character, c.character) << c.path;
    EXPECT_EQ(verdict.Accepted(), c.rule == PlanRule::kAccepted) << c.path;
  }
}

Bytes RingFile(std::size_t size, std::uint16_t length) {
  Bytes file(size, 7);
  file[kCircularPlanLength] = static_cast<std::uint8_t>(length);
  file[kCircularPlanLength + 1] = static_cast<std::uint8_t>(length >> 8);
  return file;
}

// What one console takes: the space the stored file needs against its free
// space, one byte either way; a ring plan counts its ring, not its file.
TEST(FileRules, PlanUploadAgainstTheFreeSpace) {
  const std::string long_name = std::string(242, 'n') + ".yp1";
  const struct {
    std::string path;
    Bytes file;
    std::int64_t free;
    PlanRule rule;
    std::int64_t needed;
    std::optional<std::size_t> stored;
  } cases[] = {
      {"a.yp1", Bytes(10), 42, PlanRule::kAccepted, 7 + 5 + 10 + 20, 10},  // "a.yp1": odd, no padding
      {"a.yp1", Bytes(10), 41, PlanRule::kNoRoom, 42, 10},
      {"ab.yp1", Bytes(10), 44, PlanRule::kAccepted, 7 + 7 + 10 + 20, 10},  // padded to 7
      {"r.R0", RingFile(1040, 30), 62, PlanRule::kAccepted, 7 + 5 + 30 + 20, 30},
      {"r.R0", RingFile(1040, 30), 61, PlanRule::kNoRoom, 62, 30},
      {"r.R0", RingFile(1031, 0xFFFF), 65535, PlanRule::kNoRoom, 7 + 5 + 65535 + 20, 65535},
      {"r.R0", Bytes(1030), 65535, PlanRule::kRingTooShort, 0, std::nullopt},
      {long_name, Bytes(1), 65535, PlanRule::kNameTooLong, 0, 1},
  };
  for (const auto& c : cases) {
    const PlanVerdict verdict = CheckPlanUpload(c.path, c.file, c.free);
    EXPECT_EQ(verdict.rule, c.rule) << c.path << " free " << c.free;
    EXPECT_EQ(verdict.needed, c.needed) << c.path;
    if (c.needed) {
      EXPECT_EQ(verdict.free, c.free) << c.path;
    }
    EXPECT_EQ(verdict.size, c.file.size()) << c.path;
    EXPECT_EQ(StoredPlanSize(c.path, c.file), c.stored) << c.path;
  }
}

TEST(FileRules, ImageVerdicts) {
  const struct {
    std::string path;
    std::uintmax_t size;
    bool forced;
    ImageRule rule;
  } cases[] = {
      {"main.mts", kImage, false, ImageRule::kAccepted},    {"main.mts", kImage + 1, false, ImageRule::kTooBig},
      {"main.mts", kImage + 1, true, ImageRule::kTooBig},   {"MAIN.MtS", 1, false, ImageRule::kAccepted},
      {"main.mts", 0, false, ImageRule::kEmpty},            {"main.mts", 0, true, ImageRule::kAccepted},
      {"main.bin", 1, false, ImageRule::kNotNamed},         {"main.bin", 1, true, ImageRule::kAccepted},
      {"main.bin", 0, false, ImageRule::kEmpty},            {"images.mts/main", 1, false, ImageRule::kNotNamed},
      {"main.bin", kImage + 1, false, ImageRule::kTooBig},  {"mts", 1, false, ImageRule::kNotNamed},
  };
  for (const auto& c : cases) {
    const ImageVerdict verdict = CheckImage(c.path, c.size, c.forced);
    EXPECT_EQ(verdict.rule, c.rule) << c.path << " " << c.size << (c.forced ? " forced" : "");
    EXPECT_EQ(verdict.size, c.size);
    EXPECT_EQ(verdict.limit, kImage);
  }
}

TEST(FileRules, FileOnDiskIsLookedAtWithoutReadingIt) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("orvane-file-rules-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string file = (dir / "five.yp1").string();
  std::ofstream(file) << "12345";

  EXPECT_EQ(LookAtFile(file).access, FileAccess::kReadable);
  EXPECT_EQ(LookAtFile(file).size, 5u);
  const FileLook missing = LookAtFile((dir / "none.yp1").string());
  EXPECT_EQ(missing.access, FileAccess::kNoFile);
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_FALSE(missing.Regular());
  EXPECT_EQ(LookAtFile(dir.string()).access, FileAccess::kNotRegular);
  if (::geteuid() != 0) {  // root reads it all the same
    ::chmod(file.c_str(), 0);
    const FileLook locked = LookAtFile(file);
    EXPECT_EQ(locked.access, FileAccess::kUnreadable);
    EXPECT_EQ(locked.error, EACCES);
    EXPECT_EQ(locked.size, 5u);
    EXPECT_TRUE(locked.Regular());
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace orvane::device
