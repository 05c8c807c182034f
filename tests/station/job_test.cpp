#include "station/job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvane::station {
namespace {

using ::testing::HasSubstr;

constexpr const char* kJobPath = "/jobs/station.toml";

Job MakeJob(std::optional<std::string> image, bool erase, std::vector<std::string> plans, Constants constants,
            std::optional<SerialRange> serial) {
  return Job{kJobPath, std::move(image), erase, std::move(plans), std::move(constants), serial};
}

void ExpectSameJob(const Job& got, const Job& want) {
  EXPECT_EQ(got.file, want.file);
  EXPECT_EQ(got.image, want.image);
  EXPECT_EQ(got.erase, want.erase);
  EXPECT_EQ(got.plans, want.plans);
  EXPECT_EQ(got.constants, want.constants);
  EXPECT_EQ(got.serial, want.serial);
}

TEST(Job, ReadsGoodJobsWithPathsFromTheJobsFolder) {
  const Constants full{"Пульт-7", 180, 1, 12, 3456};
  // Only the file name of a long path is stored: the folder may hold anything.
  const std::string far_folder = "日本/" + std::string(200, 'd');
  struct Case {
    std::string text;
    Job want;
  };
  const Case cases[] = {
      {R"(# the whole job
image = "main.mts"        # written and verified
erase = true
plans = ["plan 12.yp1", "ring.R0"]
[constants]
id = "Пульт-7"
tz = 180
summer = 1
local = 12
global = 3456
[serial]
first = 100000
last = 199999
)",
       MakeJob("/jobs/main.mts", true, {"/jobs/plan 12.yp1", "/jobs/ring.R0"}, full, SerialRange{100000, 199999})},
      {"serial = { first = 5, last = 5 }", MakeJob(std::nullopt, false, {}, {}, SerialRange{5, 5})},
      {R"(image = "/opt/fw/main.mts"
plans = ["../shared/a.yp1", "sub/./b.yp1"])",
       MakeJob("/opt/fw/main.mts", false, {"/shared/a.yp1", "/jobs/sub/b.yp1"}, {}, std::nullopt)},
      {"erase = true", MakeJob(std::nullopt, true, {}, {}, std::nullopt)},
      {"constants.tz = -32768\nconstants.global = 65535\nconstants.local = 0",
       MakeJob(std::nullopt, false, {}, Constants{.time_zone = -32768, .local_address = 0, .global_address = 65535},
               std::nullopt)},
      {"constants.id = \"ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ\"",
       MakeJob(std::nullopt, false, {}, Constants{.identifier = "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"}, std::nullopt)},
      {"serial = { first = 1, last = 2147483647 }", MakeJob(std::nullopt, false, {}, {}, SerialRange{1, 2147483647})},
      {"plans = [\"a.yp1\", \"sub/a.yp1\", \"Ёлка №5.yp1\"]",
       MakeJob(std::nullopt, false, {"/jobs/a.yp1", "/jobs/sub/a.yp1", "/jobs/Ёлка №5.yp1"}, {}, std::nullopt)},
      {"plans = [\"" + far_folder + "/a.yp1\"]",
       MakeJob(std::nullopt, false, {"/jobs/" + far_folder + "/a.yp1"}, {}, std::nullopt)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto job = ParseJob(c.text, kJobPath);
    ASSERT_TRUE(job) << job.error;
    ExpectSameJob(*job.value, c.want);
  }
}

TEST(Job, RefusesBadJobsSayingWhereAndWhy) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"image = \"main.mts", "\"/jobs/station.toml\", line 1, column "},
      {"erase = true\nerase = false", "\"/jobs/station.toml\", line 2, column "},
      {"plan = [\"a.yp1\"]", "\"/jobs/station.toml\", line 1: unknown key \"plan\""},
      {"[constants]\ntz = 1\nserial = 5", "line 3: unknown key \"constants.serial\""},
      {"serial = { first = 1, last = 2, step = 1 }", "line 1: unknown key \"serial.step\""},
      {"\"my key\" = 1", "unknown key \"'my key'\""},
      {"erase = true\nzeta = 1\nalpha = 2", "line 2: unknown key \"zeta\""},
      {"constants.tz = 99999\n[extra]\nx = 1", "line 2: unknown key \"extra\""},
      {"image = 5", "line 1: image must be a text (a file path), not an integer"},
      {"image = \"\"", "line 1: image is empty"},
      {"erase = \"yes\"", "erase must be true or false, not a text"},
      {"plans = \"a.yp1\"", "plans must be an array of file paths, not a text"},
      {"plans = [\"a.yp1\", 3]", "plans[1] must be a text (a file path), not an integer"},
      {"plans = [[\"a.yp1\"]]", "plans[0] must be a text (a file path), not an array"},
      {"constants = 3", "constants must be a table, not an integer"},
      {"constants.id = 7", "constants.id must be a text, not an integer"},
      {"constants.tz = 1.5", "constants.tz must be an integer, not a decimal number"},
      {"constants.summer = true", "constants.summer must be an integer, not true or false"},
      {"constants.tz = 32768", "constants.tz must be from -32768 to 32767, not 32768"},
      {"constants.tz = -32769", "constants.tz must be from -32768 to 32767, not -32769"},
      {"constants.summer = 2", "constants.summer must be from 0 to 1, not 2"},
      {"constants.local = 255", "constants.local must be from 0 to 254, not 255"},
      {"constants.local = -1", "constants.local must be from 0 to 254, not -1"},
      {"constants.global = 65536", "constants.global must be from 0 to 65535, not 65536"},
      {"constants.id = \"ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ\"", "constants.id holds at most 20 characters, not 21"},
      {"constants.id = \"Пульт日本\"", "constants.id: \"日\" has no code page 1251 form"},
      {"serial = 5", "serial must be a table with first and last, not an integer"},
      {"[serial]\nfirst = 1", "line 1: serial needs both first and last, last is missing"},
      {"serial = { last = 1 }", "serial needs both first and last, first is missing"},
      {"serial = { first = 2147483648, last = 2147483649 }", "serial.first must be from 1 to 2147483647, not 2147483648"},
      {"serial = { first = 1, last = 2147483648 }", "serial.last must be from 1 to 2147483647, not 2147483648"},
      {"serial = { first = 0, last = 5 }", "serial.first must be from 1 to 2147483647, not 0"},
      {"serial = { first = -5, last = -5 }", "serial.first must be from 1 to 2147483647, not -5"},
      {"plans = [\"a.yp1\", \"b.yp1\", \"./a.yp1\"]", "line 1: plans[2]: \"./a.yp1\" is listed twice (also plans[0])"},
      {"plans = [\"/jobs/b.yp1\",\n  \"b.yp1\"]", "line 2: plans[1]: \"b.yp1\" is listed twice (also plans[0])"},
      {"plans = [\"a.yp1\", \"план日.yp1\"]", "line 1: plans[1]: \"日\" has no code page 1251 form"},
      {"plans = [\"€uro—ok.yp1\", \"x\u00A0\u0101.yp1\"]", "plans[1]: \"\u0101\" has no code page 1251 form"},
      {"serial = { first = 5, last = 4 }", "serial.first (5) is above serial.last (4)"},
      {"serial = { first = \"1\", last = 4 }", "serial.first must be an integer, not a text"},
      {"", "\"/jobs/station.toml\": the job does nothing"},
      {"# only a comment\nerase = false\nplans = []\n[constants]", "the job does nothing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto job = ParseJob(c.text, kJobPath);
    ASSERT_FALSE(job);
    EXPECT_THAT(job.error, HasSubstr(c.error));
  }
}

TEST(Job, ReadsTheFileAndSaysWhyItCannot) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orvane-job-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "job.toml").string();
  std::ofstream(path) << "plans = [\"ring.R0\"]\n";

  const auto job = ReadJob(path);
  ASSERT_TRUE(job) << job.error;
  EXPECT_EQ(job.value->file, path);
  EXPECT_EQ(job.value->plans, std::vector<std::string>{(folder / "ring.R0").string()});

  const auto missing = ReadJob((folder / "none.toml").string());
  EXPECT_THAT(missing.error, HasSubstr("cannot read \"" + (folder / "none.toml").string() + "\": No such file"));
  EXPECT_THAT(ReadJob(folder.string()).error, HasSubstr("it is a folder"));
  std::ofstream(path, std::ios::binary) << std::string(kJobFileLimit + 1, '#');
  EXPECT_THAT(ReadJob(path).error, HasSubstr("too big for a job file"));
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace orvane::station
