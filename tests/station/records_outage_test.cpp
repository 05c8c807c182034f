// The record store goes away while a station works, for real: a PostgreSQL
// server of the test's own is stopped during a unit's reflash or before a
// unit arrives, and started again while the unit waits or after it gave up.
// A unit gets no number without its record, and nothing is written to a unit
// whose job could not be recorded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "link/payloads.h"
#include "sim/simulator.h"
#include "tests/station/own_server.h"
#include "tests/station/station_run.h"

namespace orvane::station {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::Pattern;
using testing::StationRun;
using testing::WriteFile;

constexpr std::int64_t kFirst = 900;

std::int32_t SerialOf(const sim::DeviceState& state) { return link::ConstantsBlock::Decode(state.constants)->serial_number; }

enum class Stopped { kMidReflash, kBeforeTheModem };

struct Row {
  const char* name;
  Stopped stopped;
  std::chrono::milliseconds bound;  // how long a unit's job waits for the store
  bool back_in_time;                // the server starts again while the unit waits
  LineState end;
  std::optional<std::int64_t> serial;
};

class RecordsOutage : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<OwnServer>();
    if (!server_->skipped().empty()) GTEST_SKIP() << server_->skipped();
    std::string pattern = (fs::temp_directory_path() / "orvane-outage-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    // The traces of a PostgreSQL store go to the default data folder.
    if (const char* data = std::getenv("XDG_DATA_HOME")) data_home_ = data;
    ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
    image_ = Pattern(6000, 3);
    Job job;
    job.file = WriteFile(folder_ / "job.toml", {'#'});
    job.image = WriteFile(folder_ / "main.mts", image_);
    job.erase = true;
    job.plans = {WriteFile(folder_ / "p.yp1", Pattern(200, 5))};
    job.constants.identifier = "Pult";
    job.serial = SerialRange{kFirst, kFirst + 99};
    auto snapshot = JobSnapshot::Read(job);
    ASSERT_TRUE(snapshot) << snapshot.error;
    snapshot_ = std::make_shared<JobSnapshot>(std::move(*snapshot.value));
    auto store = RecordStore::Open(server_->url(), StoreMode::kCreate);
    ASSERT_TRUE(store) << store.error;
    store_ = std::move(*store.value);
  }
  void TearDown() override {
    if (folder_.empty()) return;
    server_->Start();
    data_home_ ? ::setenv("XDG_DATA_HOME", data_home_->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    fs::remove_all(folder_);
  }

  // The first statement after a restart may find the connection dropped.
  std::optional<RunRecord> LastRun() {
    auto runs = store_->History({});
    if (!runs) runs = store_->History({});
    if (!runs || runs.value->empty()) return std::nullopt;
    return runs.value->back();
  }

  std::string Spool() const { return (folder_ / "pending-ends.jsonl").string(); }
  std::string SpoolText() const {
    std::ifstream spool(Spool());
    return std::string(std::istreambuf_iterator<char>(spool), {});
  }

  std::unique_ptr<OwnServer> server_;
  fs::path folder_;
  std::optional<std::string> data_home_;
  testing::Bytes image_;
  std::shared_ptr<const JobSnapshot> snapshot_;
  std::unique_ptr<RecordStore> store_;  // the test's own connection
};

// The rows run in turn on one store: the numbers follow from the rows before.
TEST_F(RecordsOutage, AUnitWaitsForItsRecordsAndGetsNoNumberWithoutThem) {
  const Row rows[] = {
      {"stopped mid-reflash, back within the wait", Stopped::kMidReflash, 20s, true, LineState::kDone, kFirst},
      {"stopped mid-reflash, down past the wait", Stopped::kMidReflash, 800ms, false, LineState::kFailed,
       std::nullopt},
      {"stopped before the modem arrives", Stopped::kBeforeTheModem, 800ms, true, LineState::kDone, kFirst + 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::SimOptions polling;
    polling.poll_interval_us = 10000;  // the image takes seconds: the server stops well before its end
    sim::Simulator unit(polling);
    if (row.stopped == Stopped::kBeforeTheModem) unit.Unplug();
    const std::string port = unit.Start();
    EngineOptions options;
    options.records_wait = row.bound;
    options.records_retry = 100ms;
    options.times.left = 800ms;  // a unit whose polls went unanswered would leave within a wait
    options.times.job_lost = 1s;
    options.end_spool = Spool();
    StationRun run({{port, ""}}, snapshot_, server_->url(), options);
    ASSERT_EQ(run.refused, std::nullopt);
    const auto told = [&run] {
      std::string text;
      for (const PositionEvent& e : run.events) {
        text += std::to_string(static_cast<int>(e.state)) + "/" + std::to_string(static_cast<int>(e.step)) + " " +
                e.detail + "\n";
      }
      for (const std::string& line : run.log) text += line + "\n";
      return text;
    };
    const auto saw = [&run](auto matches) { return std::any_of(run.events.begin(), run.events.end(), matches); };
    const auto waiting = [](const PositionEvent& e) { return e.state == LineState::kWaitingRecords; };

    if (row.stopped == Stopped::kBeforeTheModem) {
      // The position opened its records and its port: it waits for a modem.
      ASSERT_TRUE(run.WaitFor([&] { return saw([](const PositionEvent& e) { return e.state == LineState::kNoModem; }); }))
          << told();
      ASSERT_TRUE(server_->Stop());
      unit.Plug(sim::DeviceState{});
      ASSERT_TRUE(run.WaitFor([&] { return saw(waiting); })) << told();
      run.WaitFor([] { return false; }, row.bound * 2);  // longer than a job waits: no bound before the job
      EXPECT_TRUE(run.ends.empty());
      EXPECT_FALSE(saw([](const PositionEvent& e) { return e.state == LineState::kRunning; }));
      const sim::DeviceState untouched = unit.State();
      EXPECT_TRUE(untouched.firmware.empty());
      EXPECT_TRUE(untouched.files.empty());
      EXPECT_EQ(SerialOf(untouched), 0);
      // Taken off while it waits: the line waits for a modem again.
      unit.Unplug();
      ASSERT_TRUE(run.WaitFor([&] { return run.events.back().state == LineState::kNoModem; })) << told();
      unit.Plug(sim::DeviceState{});
      ASSERT_TRUE(run.WaitFor([&] { return run.events.back().state == LineState::kWaitingRecords; })) << told();
    } else {
      ASSERT_TRUE(run.WaitFor([&] {
        return saw([](const PositionEvent& e) { return e.step == JobStep::kImage && e.percent > 0; });
      })) << told();
      ASSERT_TRUE(run.ends.empty());
      ASSERT_TRUE(server_->Stop());
      ASSERT_TRUE(run.WaitFor([&] { return saw(waiting) || !run.ends.empty(); }));
      const auto wait = std::find_if(run.events.begin(), run.events.end(), waiting);
      ASSERT_NE(wait, run.events.end());
      EXPECT_EQ(wait->step, JobStep::kConstants) << "the job waits at the constants, never inside a transfer";
      EXPECT_THAT(wait->detail, HasSubstr("cannot be used now"));
      if (row.back_in_time) {
        run.WaitFor([] { return false; }, 1500ms);
        EXPECT_TRUE(run.ends.empty()) << "the unit's polls are answered while it waits: " << told();
      }
    }
    if (row.back_in_time) {
      ASSERT_TRUE(server_->Start());
    }

    ASSERT_TRUE(run.WaitForEnds(1));
    const UnitEnd& end = run.ends.front();
    EXPECT_EQ(end.state, row.end) << end.reason;
    EXPECT_EQ(end.serial, row.serial);
    EXPECT_EQ(SerialOf(unit.State()), row.serial.value_or(0)) << "no number on the unit without its record";
    if (row.end == LineState::kFailed) {
      EXPECT_EQ(end.cause, FailureCause::kRecords);
      EXPECT_THAT(end.reason, HasSubstr("constants: the records did not answer for "));
      EXPECT_THAT(end.reason, HasSubstr("waits to be written")) << "the end is kept on disk";
      ASSERT_TRUE(server_->Start());
      ASSERT_TRUE(run.WaitFor([&] {
        const auto last = LastRun();
        return last && last->result != RunResult::kRunning && SpoolText().empty();
      })) << "the kept end is written once the server is back";
    }
    const auto record = LastRun();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->result, row.end == LineState::kDone ? RunResult::kDone : RunResult::kFailed);
    EXPECT_EQ(record->serial, row.serial);
    if (row.end == LineState::kFailed) {
      EXPECT_THAT(record->reason, HasSubstr("the records did not answer for "));
      EXPECT_EQ(record->failed_step, JobStep::kConstants);
    }
    EXPECT_EQ(SpoolText(), "") << "no end left waiting";
  }
}

}  // namespace
}  // namespace orvane::station
