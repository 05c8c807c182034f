// The bench in the engine: each run records where it happened, the
// station, the position's name and socket and the adapter's serial number,
// and without a bench name the host name and the port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "sim/simulator.h"
#include "tests/station/station_run.h"
#include "tests/station/test_database.h"

namespace orvane::station {
namespace {

using testing::Bytes;
using testing::StationRun;
namespace fs = std::filesystem;

// A job that writes only an identifier, a fresh store and simulated modems
// that poll every 2 ms.
class BenchEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_);
    Job job;
    job.file = testing::WriteFile(folder_ / "job.toml", Bytes{'#'});
    job.constants.identifier = "Pult";
    auto read = JobSnapshot::Read(job);
    ASSERT_TRUE(read) << read.error;
    snapshot_ = std::make_shared<JobSnapshot>(std::move(*read.value));
    ASSERT_TRUE(RecordStore::Open(database_.location(), StoreMode::kCreate));
    options_.poll_interval_us = 2000;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::vector<RunRecord> Runs() {
    auto store = RecordStore::Open(database_.location(), StoreMode::kExisting);
    auto runs = (*store.value)->History({});
    EXPECT_TRUE(runs) << runs.error;
    return runs.value.value_or(std::vector<RunRecord>{});
  }

  const fs::path folder_ = fs::temp_directory_path() / ("orvane-bench-engine-" + std::to_string(::getpid()));
  std::shared_ptr<JobSnapshot> snapshot_;
  TestDatabase database_{Backend::kSqlite};
  sim::SimOptions options_;
};

TEST_F(BenchEngine, EachRunRecordsTheStationPositionSocketAndAdapter) {
  sim::Simulator named(options_), plain(options_);
  const std::string named_port = named.Start(), plain_port = plain.Start();
  EngineOptions engine;
  engine.station = "Стенд 2";
  StationRun run({{named_port, "A50285BI", "Место 1", "pci-0000:00:14.0-usb-0:1.1:1.0-port0"}, {plain_port, ""}},
                 snapshot_, database_.location(), engine);
  ASSERT_TRUE(run.WaitForEnds(2));

  const std::vector<RunRecord> runs = Runs();
  ASSERT_EQ(runs.size(), 2u);
  for (const RunRecord& record : runs) {
    EXPECT_EQ(record.result, RunResult::kDone) << record.reason;
    EXPECT_EQ(record.station, "Стенд 2");
    if (record.port == named_port) {
      EXPECT_EQ(record.position, "Место 1");
      EXPECT_EQ(record.socket, "pci-0000:00:14.0-usb-0:1.1:1.0-port0");
      EXPECT_EQ(record.usb_serial, "A50285BI");
    } else {
      EXPECT_EQ(record.position, plain_port);
      EXPECT_EQ(record.socket, "");
    }
  }
}


// Two units one after the other on one position: each run keeps a trace of
// its own, recorded with it, with the frames of its job and the polls summed.
TEST_F(BenchEngine, TwoUnitsOnOnePositionKeepTwoTraces) {
  sim::Simulator cable(options_);
  StationRun run({{cable.Start(), "", "Место 3", ""}}, snapshot_, database_.location());
  ASSERT_TRUE(run.WaitForEnds(1));
  cable.Unplug();
  ASSERT_TRUE(run.WaitFor([&] { return run.events.back().state == LineState::kNoModem; }));
  cable.Plug(sim::DeviceState{});
  ASSERT_TRUE(run.WaitForEnds(2));

  const std::vector<RunRecord> runs = Runs();
  ASSERT_EQ(runs.size(), 2u);
  const auto traces = TraceFolderFor(database_.location());
  ASSERT_TRUE(traces);
  EXPECT_NE(runs[0].trace, runs[1].trace);
  for (const RunRecord& record : runs) {
    EXPECT_EQ(fs::path(record.trace).parent_path(), fs::path(*traces.value));
    std::ifstream file(record.trace);
    ASSERT_TRUE(file) << record.trace;
    std::string line;
    std::size_t lines = 0, sent = 0, polls = 0;
    while (std::getline(file, line)) {
      ++lines;
      sent += line.find(" out ") != std::string::npos;
      polls += line.find(" 00 poll") != std::string::npos;
    }
    EXPECT_GT(sent, 0u) << record.trace;
    EXPECT_EQ(polls, 0u) << "empty polls are summed, not written one by one";
  }
}

}  // namespace
}  // namespace orvane::station
