// Several station processes on one database at once, as a station with many
// ports runs them: each number is handed out once, and a process killed at
// any moment never makes the store give a number twice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "station/record_store.h"
#include "tests/station/store_version1.h"
#include "tests/station/test_database.h"

extern char** environ;

namespace orvane::station {
namespace {

struct Taker {
  pid_t pid = -1;
  std::string output, errors;
};

// Starts a taker of `count` numbers; its lines go to files in `folder`.
Taker Spawn(const std::string& location, SerialRange range, int count, const std::string& folder,
            std::optional<std::int64_t> reported = std::nullopt) {
  static int serial_number = 0;
  Taker taker;
  taker.output = folder + "/taker-" + std::to_string(++serial_number) + ".out";
  taker.errors = taker.output + ".err";
  std::vector<std::string> args = {ORVANE_STATION_TAKER, location, std::to_string(range.first),
                                   std::to_string(range.last), std::to_string(count)};
  if (reported) args.push_back(std::to_string(*reported));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, taker.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, taker.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int error = posix_spawn(&taker.pid, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  EXPECT_EQ(error, 0) << "cannot start " << argv[0];
  return taker;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The numbers a taker printed; a line cut short by a kill does not count.
std::vector<std::int64_t> NumbersOf(const Taker& taker, int* again = nullptr) {
  std::vector<std::int64_t> numbers;
  std::istringstream lines(Slurp(taker.output));
  std::string line;
  while (std::getline(lines, line)) {
    if (lines.eof()) break;  // no line end after it
    numbers.push_back(std::stoll(line.substr(0, line.find(' '))));
    if (again && line.ends_with(" again")) ++*again;
  }
  return numbers;
}

std::vector<std::int64_t> Consecutive(std::int64_t first, std::size_t count) {
  std::vector<std::int64_t> numbers(count);
  for (std::size_t i = 0; i < count; ++i) numbers[i] = first + static_cast<std::int64_t>(i);
  return numbers;
}

class ConcurrencyTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (const std::string missing = BackendMissing(GetParam()); !missing.empty()) GTEST_SKIP() << missing;
    files_ = std::make_unique<TestDatabase>(Backend::kSqlite);  // a folder for the takers' output
  }
  std::unique_ptr<TestDatabase> files_;
};

TEST_P(ConcurrencyTest, TakersAtOnceGetEveryNumberOnceFromTheFirst) {
  constexpr int kRounds = 4, kTakers = 5, kEach = 40;
  int interleaved = 0;  // takers whose numbers others came between
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TestDatabase database(GetParam());  // a new database each round: the tables are created at the same time too
    ASSERT_FALSE(database.location().empty()) << database.error();
    const SerialRange range{1000 * round - 1500, 1000 * round};
    std::vector<Taker> takers;
    for (int i = 0; i < kTakers; ++i) takers.push_back(Spawn(database.location(), range, kEach, files_->folder()));
    std::vector<std::int64_t> all;
    for (const Taker& taker : takers) {
      int status = 0;
      ASSERT_EQ(::waitpid(taker.pid, &status, 0), taker.pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(taker.errors);
      const auto numbers = NumbersOf(taker);
      EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kEach));
      EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
      interleaved +=
          !numbers.empty() && numbers.back() - numbers.front() + 1 != static_cast<std::int64_t>(numbers.size());
      all.insert(all.end(), numbers.begin(), numbers.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, Consecutive(range.first, kTakers * kEach));
  }
  std::cout << "[          ] " << kRounds * kTakers << " takers, " << interleaved
            << " of them met another in the middle of their numbers\n";
}

TEST_P(ConcurrencyTest, KilledTakersNeverCauseADuplicate) {
  constexpr int kTakers = 4, kKills = 16;
  TestDatabase database(GetParam());
  ASSERT_FALSE(database.location().empty()) << database.error();
  const SerialRange range{1, 1000000};
  // Made beforehand, so that the kills fall on takers taking numbers
  // rather than on ones still making the tables.
  ASSERT_TRUE(RecordStore::Open(database.location(), StoreMode::kCreate));
  std::vector<Taker> running, ended;
  for (int i = 0; i < kTakers; ++i) running.push_back(Spawn(database.location(), range, 100000, files_->folder()));
  std::mt19937 random(std::random_device{}());
  for (int kill = 0; kill < kKills; ++kill) {
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 80));
    const std::size_t victim = random() % running.size();
    ASSERT_EQ(::kill(running[victim].pid, SIGKILL), 0);
    ended.push_back(running[victim]);
    running[victim] = Spawn(database.location(), range, 100000, files_->folder());
  }
  for (const Taker& taker : running) ::kill(taker.pid, SIGKILL);
  ended.insert(ended.end(), running.begin(), running.end());
  std::vector<std::int64_t> printed;
  for (const Taker& taker : ended) {
    int status = 0;
    ASSERT_EQ(::waitpid(taker.pid, &status, 0), taker.pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "a taker ended on its own: " << Slurp(taker.errors);
    const auto numbers = NumbersOf(taker);
    printed.insert(printed.end(), numbers.begin(), numbers.end());
  }
  std::sort(printed.begin(), printed.end());
  EXPECT_EQ(std::adjacent_find(printed.begin(), printed.end()), printed.end()) << "a number was printed twice";
  EXPECT_GT(printed.size(), 0u);

  // Every number in the store went to one run only, with no gap; the ones
  // the killed takers had not printed yet are taken all the same, and the
  // counter goes on after them.
  auto store = RecordStore::Open(database.location(), StoreMode::kExisting);
  ASSERT_TRUE(store) << store.error;
  const auto history = (*store.value)->History({});
  ASSERT_TRUE(history) << history.error;
  std::vector<std::int64_t> stored;
  for (const RunRecord& run : *history.value) {
    if (run.serial) stored.push_back(*run.serial);
  }
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, Consecutive(range.first, stored.size()));
  EXPECT_TRUE(std::includes(stored.begin(), stored.end(), printed.begin(), printed.end()));
  const auto run = (*store.value)->StartRun({});
  ASSERT_TRUE(run);
  const auto next = (*store.value)->TakeSerial(*run.value, range, std::nullopt);
  ASSERT_TRUE(next) << next.error;
  EXPECT_EQ(next.value->serial, static_cast<std::int32_t>(stored.size()) + 1);
  std::cout << "[          ] " << ended.size() << " takers, " << kKills << " killed at random moments, "
            << stored.size() << " numbers taken, " << printed.size() << " of them printed before the kill\n";
}

// Modems that all report the same number from a failed run (one of them
// holds it, the others carry a copy of its constants) and come at once:
// only one of them gets it again.
TEST_P(ConcurrencyTest, OneOfSeveralModemsReportingANumberGetsItAgain) {
  constexpr int kRounds = 5, kTakers = 6;
  TestDatabase database(GetParam());
  ASSERT_FALSE(database.location().empty()) << database.error();
  auto store = RecordStore::Open(database.location(), StoreMode::kCreate);
  ASSERT_TRUE(store) << store.error;
  const SerialRange range{1, 1000};
  std::int64_t taken = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const auto failed = (*store.value)->StartRun({});
    ASSERT_TRUE(failed);
    const auto held = (*store.value)->TakeSerial(*failed.value, range, std::nullopt);
    ASSERT_TRUE(held) << held.error;
    ASSERT_EQ((*store.value)->FinishRun(*failed.value, RunResult::kFailed, "no answer"), std::nullopt);
    ++taken;
    const std::string gate = files_->folder() + "/gate-" + std::to_string(round);
    ::setenv("ORVANE_TAKER_GATE", gate.c_str(), 1);
    std::vector<Taker> takers;
    for (int i = 0; i < kTakers; ++i) {
      takers.push_back(Spawn(database.location(), range, 1, files_->folder(), held.value->serial));
    }
    ::unsetenv("ORVANE_TAKER_GATE");
    // All runs recorded, then all let go at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (const Taker& taker : takers) {
      while (Slurp(taker.errors).find("ready") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    std::ofstream{gate};
    int again = 0;
    std::set<std::int64_t> fresh;
    for (const Taker& taker : takers) {
      int status = 0;
      ASSERT_EQ(::waitpid(taker.pid, &status, 0), taker.pid);
      EXPECT_EQ(Slurp(taker.errors), "ready\n");
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      int taker_again = 0;
      for (std::int64_t number : NumbersOf(taker, &taker_again)) {
        if (taker_again == 0) {
          EXPECT_TRUE(fresh.insert(number).second) << number;
        } else {
          EXPECT_EQ(number, held.value->serial);
        }
      }
      again += taker_again;
    }
    EXPECT_EQ(again, 1);
    EXPECT_EQ(fresh.size(), static_cast<std::size_t>(kTakers - 1));
    EXPECT_EQ(fresh.count(held.value->serial), 0u);
    if (!fresh.empty()) {
      EXPECT_EQ(*fresh.begin(), taken + 1);
    }
    taken += static_cast<std::int64_t>(fresh.size());
  }
}

// Takers that open a store of the first layout at the same moment: one of
// them upgrades it, the others wait and find it done, and every number
// still goes once, above the old ones.
TEST_P(ConcurrencyTest, TakersOpeningAnOldStoreAtOnceUpgradeItOnce) {
  constexpr int kTakers = 5, kEach = 4;
  TestDatabase database(GetParam());
  ASSERT_FALSE(database.location().empty()) << database.error();
  {
    RawStore raw(database.location());
    ASSERT_TRUE(raw.MakeVersion1()) << raw.error();
  }
  std::vector<Taker> takers;
  for (int i = 0; i < kTakers; ++i) takers.push_back(Spawn(database.location(), {100, 999}, kEach, files_->folder()));
  std::vector<std::int64_t> all;
  for (const Taker& taker : takers) {
    int status = 0;
    ASSERT_EQ(::waitpid(taker.pid, &status, 0), taker.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(taker.errors);
    const auto numbers = NumbersOf(taker);
    all.insert(all.end(), numbers.begin(), numbers.end());
  }
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, Consecutive(102, kTakers * kEach));
  RawStore raw(database.location());
  EXPECT_EQ(raw.Value("SELECT COUNT(*) FROM station_schema"), "1") << raw.error();
  EXPECT_EQ(raw.Value("SELECT version FROM station_schema"), "3") << raw.error();
}

INSTANTIATE_TEST_SUITE_P(Backends, ConcurrencyTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

}  // namespace
}  // namespace orvane::station
