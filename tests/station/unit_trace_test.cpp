// A unit's trace: empty polls summed up, never an overwritten file, and
// the retention rule that keeps the folder small.
#include "station/unit_trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "link/commands.h"
#include "link/frame.h"

namespace orvane::station {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(PollTally, EmptyPollsAreWrittenOnceASecondOrBeforeAnythingElse) {
  PollTally tally(1s);
  const auto t0 = PollTally::Clock::time_point{} + 10s;
  EXPECT_EQ(tally.Poll(t0), 0u);
  EXPECT_EQ(tally.Poll(t0 + 400ms), 0u);
  EXPECT_EQ(tally.Poll(t0 + 1s), 3u) << "a second after the first one counted";
  EXPECT_EQ(tally.Take(), 0u);
  EXPECT_EQ(tally.Poll(t0 + 1200ms), 0u);
  EXPECT_EQ(tally.Take(), 1u);
  EXPECT_EQ(tally.Poll(t0 + 5s), 0u) << "a new count starts after a taken one";
}

class TraceFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("orvane-traces-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(TraceFolder, TracesOfOnePositionNeverOverwriteEachOtherAndPollsAreSummed) {
  auto first = UnitTrace::Create(folder_.string(), "Место 1");
  auto second = UnitTrace::Create(folder_.string(), "Место 1");
  ASSERT_TRUE(first) << first.error;
  ASSERT_TRUE(second) << second.error;
  const std::string path = (*first.value)->path();
  EXPECT_NE(path, (*second.value)->path());
  EXPECT_NE(path.find("Место_1"), std::string::npos) << path;

  const auto poll = link::BuildFrame(link::kPoll, {});
  const link::FrameView view(std::span<const std::uint8_t>(poll).subspan(4, poll.size() - 5));
  for (int i = 0; i < 500; ++i) (*first.value)->FrameReceived(view);
  (*first.value)->Log("Операция успешно завершена.");
  (*first.value).reset();
  const std::string text = Read(path);
  EXPECT_NE(text.find(" 500 polls\n"), std::string::npos) << text;
  EXPECT_NE(text.find("log Операция успешно завершена."), std::string::npos) << text;
  EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 5) << text;
}

TEST_F(TraceFolder, OldTracesAndThoseBeyondTheSizeAreDeletedOldestFirst) {
  fs::create_directories(folder_);
  const auto now = fs::file_time_type::clock::now();
  struct File {
    const char* name;
    std::chrono::hours age;
    std::size_t size;
    bool kept;
  };
  const File files[] = {
      {"new.trace", 1h, 400, true},        {"recent.trace", 24h, 400, true},
      {"beyond-size.trace", 48h, 400, false}, {"ancient.trace", 24h * 91, 10, false},
      {"records.sqlite", 24h * 200, 10, true},
  };
  for (const File& file : files) {
    std::ofstream(folder_ / file.name) << std::string(file.size, 'x');
    fs::last_write_time(folder_ / file.name, now - file.age);
  }
  EXPECT_EQ(PruneTraces(folder_.string(), {std::chrono::hours(24 * 90), 1000}, now), 2u);
  for (const File& file : files) EXPECT_EQ(fs::exists(folder_ / file.name), file.kept) << file.name;
}

TEST(TraceFolderFor, SqliteKeepsItsTracesBesideTheFile) {
  auto folder = TraceFolderFor("/var/lib/orvane/station.sqlite");
  ASSERT_TRUE(folder) << folder.error;
  EXPECT_EQ(*folder.value, "/var/lib/orvane/traces");
}

}  // namespace
}  // namespace orvane::station
