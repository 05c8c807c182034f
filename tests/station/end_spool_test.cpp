// Ends a worker could not write because its store went away: kept on disk,
// one line each, and written once the store is back, with the time they
// happened. The store goes away for real: an SQLite file whose folder is
// taken away, or a PostgreSQL server of the test's own that is stopped.
#include "station/end_spool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDateTime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "station/record_json.h"
#include "tests/station/own_server.h"
#include "tests/station/test_database.h"

namespace orvane::station {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A store that can be taken away and brought back.
struct Outage {
  std::string location;
  std::function<bool()> stop, start;
  std::string skipped;  // why this backend cannot be tested here
};

// The SQLite file stays, but its folder is moved away and a file put in its
// place: the file cannot be found, and no journal can be made beside it.
Outage SqliteOutage(const TestDatabase& database) {
  const std::string folder = database.folder();
  return {database.location(),
          [folder] {
            std::error_code error;
            fs::rename(folder, folder + ".away", error);
            std::ofstream(folder) << "not a folder";
            return !error;
          },
          [folder] {
            std::error_code error;
            fs::remove(folder, error);
            fs::rename(folder + ".away", folder, error);
            return !error;
          },
          ""};
}

Outage ServerOutage(const OwnServer& server) {
  return {server.url(), [&server] { return server.Stop(); }, [&server] { return server.Start(); }, server.skipped()};
}

class EndSpoolTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "orvane-spool-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    spool_folder_ = pattern;
    if (GetParam() == Backend::kSqlite) {
      database_ = std::make_unique<TestDatabase>(Backend::kSqlite);
      ASSERT_FALSE(database_->location().empty()) << database_->error();
      outage_ = SqliteOutage(*database_);
    } else {
      server_ = std::make_unique<OwnServer>();
      outage_ = ServerOutage(*server_);
      if (!outage_.skipped.empty()) GTEST_SKIP() << outage_.skipped;
    }
  }
  void TearDown() override {
    if (outage_.start) outage_.start();
    fs::remove_all(spool_folder_);
  }

  std::string spool_folder_;
  std::unique_ptr<TestDatabase> database_;
  std::unique_ptr<OwnServer> server_;
  Outage outage_;
};

TEST_P(EndSpoolTest, EndsKeptWhileTheStoreIsAwayAreWrittenWhenItIsBack) {
  auto opened = RecordStore::Open(outage_.location, StoreMode::kCreate);
  ASSERT_TRUE(opened) << opened.error;
  RecordStore& store = **opened.value;
  const std::int64_t done_run = *store.StartRun({}).value;
  const std::int64_t failed_run = *store.StartRun({}).value;
  const std::string spool_path = spool_folder_ + "/pending-ends.jsonl";
  EndSpool spool(spool_path);

  // An end of another store in the same spool is never written here.
  Json foreign = RunEndToJson(RunEnd{RunResult::kDone, "", StepKind::kNone, 0, ImageAction::kNone, "{}", "",
                                            "2026-01-01T00:00:00.000Z"});
  foreign["store"] = "elsewhere.sqlite";
  foreign["run"] = 1;
  std::ofstream(spool_path) << CompactJson(foreign) << "\n";

  ASSERT_TRUE(outage_.stop());
  const QString before = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
  const EndWriting done = spool.Record(store, done_run, RunEnd{RunResult::kDone, ""});
  RunEnd failed{RunResult::kFailed, "plan 2 (ring.l7q): no answer", StepKind::kPlan, 2, ImageAction::kWritten};
  const EndWriting failure = spool.Record(store, failed_run, failed);
  for (const EndWriting& written : {done, failure}) {
    EXPECT_EQ(written.where, EndWriting::Where::kSpool) << written.text;
    EXPECT_THAT(written.text, HasSubstr("waits to be written"));
  }
  EXPECT_EQ(Lines(spool_path).size(), 3u);
  const SpoolFlush while_away = spool.Flush(store);
  EXPECT_EQ(while_away.written, 0);
  EXPECT_EQ(while_away.left, 2);
  EXPECT_FALSE(while_away.error.empty());

  ASSERT_TRUE(outage_.start());
  const QString back = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
  const SpoolFlush flushed = spool.Flush(store);
  EXPECT_EQ(flushed.written, 2) << flushed.error;
  EXPECT_EQ(flushed.left, 0);
  EXPECT_EQ(Lines(spool_path), std::vector<std::string>{CompactJson(foreign)});

  const auto runs = store.History({});
  ASSERT_TRUE(runs) << runs.error;
  ASSERT_EQ(runs.value->size(), 2u);
  const RunRecord& first = runs.value->at(0);
  EXPECT_EQ(first.result, RunResult::kDone);
  EXPECT_GE(first.finished, before.toStdString());
  EXPECT_LE(first.finished, back.toStdString()) << "the time it ended, not the time it was written";
  const RunRecord& second = runs.value->at(1);
  EXPECT_EQ(second.result, RunResult::kFailed);
  EXPECT_EQ(second.reason, failed.reason);
  EXPECT_EQ(second.failed_step, StepKind::kPlan);
  EXPECT_EQ(second.failed_plan, 2);
  EXPECT_EQ(second.image_action, ImageAction::kWritten);
  EXPECT_EQ(spool.Flush(store).written, 0) << "each end is written once";

  // With the store there, an end goes straight to it.
  const std::int64_t third = *store.StartRun({}).value;
  EXPECT_EQ(spool.Record(store, third, RunEnd{RunResult::kInterrupted, "stopped"}).where, EndWriting::Where::kStore);
  EXPECT_EQ(Lines(spool_path).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, EndSpoolTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

}  // namespace
}  // namespace orvane::station
