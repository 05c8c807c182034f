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

TEST(BenchEngine, EachRunRecordsTheStationPositionSocketAndAdapter) {
  const fs::path folder = fs::temp_directory_path() / ("orvane-bench-engine-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  Job job;
  job.file = testing::WriteFile(folder / "job.toml", Bytes{'#'});
  job.constants.identifier = "Pult";
  auto snapshot = JobSnapshot::Read(job);
  ASSERT_TRUE(snapshot) << snapshot.error;
  TestDatabase database(Backend::kSqlite);
  ASSERT_TRUE(RecordStore::Open(database.location(), StoreMode::kCreate));

  sim::SimOptions options;
  options.poll_interval_us = 2000;
  sim::Simulator named(options), plain(options);
  const std::string named_port = named.Start(), plain_port = plain.Start();
  EngineOptions engine;
  engine.station = "Стенд 2";
  StationRun run({{named_port, "A50285BI", "Место 1", "pci-0000:00:14.0-usb-0:1.1:1.0-port0"}, {plain_port, ""}},
                 std::make_shared<JobSnapshot>(std::move(*snapshot.value)), database.location(), engine);
  ASSERT_TRUE(run.WaitForEnds(2));

  auto store = RecordStore::Open(database.location(), StoreMode::kExisting);
  auto runs = (*store.value)->History({});
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs.value->size(), 2u);
  for (const RunRecord& record : *runs.value) {
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
  fs::remove_all(folder);
}


// Two units one after the other on one position: each run keeps a trace of
// its own, recorded with it, with the frames of its job and the polls summed.
TEST(BenchEngine, TwoUnitsOnOnePositionKeepTwoTraces) {
  const fs::path folder = fs::temp_directory_path() / ("orvane-two-traces-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  Job job;
  job.file = testing::WriteFile(folder / "job.toml", Bytes{'#'});
  job.constants.identifier = "Pult";
  auto snapshot = JobSnapshot::Read(job);
  ASSERT_TRUE(snapshot) << snapshot.error;
  TestDatabase database(Backend::kSqlite);
  ASSERT_TRUE(RecordStore::Open(database.location(), StoreMode::kCreate));

  sim::SimOptions options;
  options.poll_interval_us = 2000;
  sim::Simulator cable(options);
  StationRun run({{cable.Start(), "", "Место 3", ""}}, std::make_shared<JobSnapshot>(std::move(*snapshot.value)),
                 database.location());
  ASSERT_TRUE(run.WaitForEnds(1));
  cable.Unplug();
  ASSERT_TRUE(run.WaitFor([&] { return run.events.back().state == LineState::kNoModem; }));
  cable.Plug(sim::DeviceState{});
  ASSERT_TRUE(run.WaitForEnds(2));

  auto store = RecordStore::Open(database.location(), StoreMode::kExisting);
  auto runs = (*store.value)->History({});
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs.value->size(), 2u);
  const auto traces = TraceFolderFor(database.location());
  ASSERT_TRUE(traces);
  EXPECT_NE((*runs.value)[0].trace, (*runs.value)[1].trace);
  for (const RunRecord& record : *runs.value) {
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
  fs::remove_all(folder);
}

}  // namespace
}  // namespace orvane::station
