// A whole bench at once: sixteen positions named by a bench file, each a
// simulated modem behind an adapter in a hub socket; a second unit on one
// position; a port that refuses the line settings left out; the records
// and traces the session leaves, read back through history.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "station/record_store.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/station/test_database.h"

namespace orvane::e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::size_t kPositions = 16;
constexpr std::int64_t kFirst = 700000;

std::string Socket(std::size_t i) { return "pci-0000:00:14.0-usb-0:1." + std::to_string(i + 1) + ":1.0-port0"; }
std::string Name(std::size_t i) { return "Место " + std::to_string(i + 1); }

sim::SimOptions Modem() {
  sim::SimOptions options;
  options.poll_interval_us = 3000;
  return options;
}

class BenchPositions : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    database_ = std::make_unique<station::TestDatabase>(station::Backend::kSqlite);
    ASSERT_TRUE(station::RecordStore::Open(database_->location(), station::StoreMode::kCreate));
    WriteFile("main.mts", Pattern(96, 3));
    std::ofstream(Path("job.toml")) << "image = \"main.mts\"\n[constants]\nid = \"Bench\"\n[serial]\nfirst = " << kFirst
                                    << "\nlast = " << kFirst + 99 << "\n";
    fs::create_directories(Path("dev"));
    fs::create_directories(Path("by-path"));
    std::ofstream bench(Path("bench.toml"));
    bench << "station = \"Стенд 2\"\n";
    for (std::size_t i = 0; i < kPositions; ++i) {
      modems_.push_back(std::make_unique<sim::Simulator>(Modem()));
      const std::string device = Path("dev/ttyUSB" + std::to_string(i));
      fs::create_symlink(modems_.back()->Start(), device);
      fs::create_symlink(device, Path("by-path/" + Socket(i)));
      bench << "[[position]]\nname = \"" << Name(i) << "\"\nsocket = \"" << Socket(i) << "\"\n";
    }
    std::ofstream(Path("dev/COM1")) << "a regular file refuses the line settings";
  }

  std::vector<station::RunRecord> Runs() {
    auto store = station::RecordStore::Open(database_->location(), station::StoreMode::kExisting);
    auto runs = (*store.value)->History({});
    return runs ? *runs.value : std::vector<station::RunRecord>{};
  }

  std::unique_ptr<station::TestDatabase> database_;
  std::vector<std::unique_ptr<sim::Simulator>> modems_;
};

TEST_F(BenchPositions, SixteenNamedPositionsAtOnceEachRunRecordedWithItsTrace) {
  const Environment environment{{"ORVANE_PORT_DIR", Path("dev")},
                                {"ORVANE_BY_PATH_DIR", Path("by-path")},
                                {"XDG_CONFIG_HOME", Path("config")},
                                {"XDG_DATA_HOME", Path("data")}};
  Background tool({ORVANE_CLI_PROGRAM, "--db", database_->location(), "--port", "all", "--yes", "provision",
                   "--watch", "--bench", Path("bench.toml"), Path("job.toml")},
                  environment);
  ASSERT_TRUE(tool.WaitForOutput("Ctrl-C stops\n", 10s)) << tool.out() << tool.err();
  for (std::size_t i = 0; i < kPositions; ++i) {
    EXPECT_TRUE(tool.WaitForOutput(Name(i) + ": done, serial ", 60s)) << Name(i) << "\n" << tool.out();
  }
  // A second unit on the first position, once the first one is taken off.
  modems_[0]->Unplug();
  ASSERT_TRUE(tool.WaitForOutput(Name(0) + ": waiting", 20s, 2)) << tool.out();
  modems_[0]->Plug(sim::DeviceState{});
  ASSERT_TRUE(tool.WaitForOutput(Name(0) + ": done, serial ", 60s, 2)) << tool.out();
  tool.Signal(SIGINT);
  const RunResult run = tool.Wait(30s);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("17 jobs: 17 done, 0 failed, 0 interrupted"), std::string::npos) << run.out;

  const auto runs = Runs();
  ASSERT_EQ(runs.size(), kPositions + 1);
  std::set<std::string> traces, positions;
  for (const station::RunRecord& record : runs) {
    EXPECT_EQ(record.result, station::RunResult::kDone) << record.reason;
    EXPECT_EQ(record.station, "Стенд 2");
    positions.insert(record.position);
    const auto index = std::stoul(record.position.substr(std::string("Место ").size())) - 1;
    EXPECT_EQ(record.socket, Socket(index));
    EXPECT_TRUE(fs::exists(record.trace)) << record.trace;
    traces.insert(record.trace);
  }
  EXPECT_EQ(positions.size(), kPositions);
  EXPECT_EQ(traces.size(), runs.size()) << "two units on one position keep two traces";

  const RunResult shown = CliWithoutPort({"--db", database_->location(), "history", "--trace",
                                          std::to_string(runs.back().id)});
  EXPECT_EQ(shown.exit_status, 0) << shown.err;
  EXPECT_NE(shown.out.find(" out "), std::string::npos) << shown.out;
  fs::remove(runs.back().trace);
  const RunResult elsewhere = CliWithoutPort({"--db", database_->location(), "history", "--trace",
                                              std::to_string(runs.back().id)});
  EXPECT_EQ(elsewhere.exit_status, 2);
  EXPECT_NE(elsewhere.err.find(runs.back().trace), std::string::npos) << elsewhere.err;
  EXPECT_NE(elsewhere.err.find("Стенд 2"), std::string::npos) << elsewhere.err;

  // Without the bench file: a position per adapter, numbered in socket
  // order, each unit already done; COM1 refuses the settings and is left out.
  Background plain({ORVANE_CLI_PROGRAM, "--db", database_->location(), "--port", "all", "--yes", "provision",
                    "--watch", Path("job.toml")},
                   environment);
  ASSERT_TRUE(plain.WaitForOutput("16: already done", 60s)) << plain.out();
  plain.Signal(SIGINT);
  const RunResult numbered = plain.Wait(30s);
  EXPECT_EQ(numbered.exit_status, 0) << numbered.err;
  EXPECT_NE(numbered.err.find("COM1 (" + Path("dev/COM1") + ") is left out"), std::string::npos) << numbered.err;
  EXPECT_EQ(numbered.out.find("COM1: "), std::string::npos) << numbered.out;
  EXPECT_EQ(Runs().size(), kPositions + 1) << "units already done get no run";
}

}  // namespace
}  // namespace orvane::e2e
