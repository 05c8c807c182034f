// provision --watch on a bench whose USB adapters stay on the hub while
// modems are put on their cables one after another: each adapter is a
// simulator's port that stays while modems are plugged and unplugged.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "link/payloads.h"
#include "station/job_snapshot.h"
#include "station/record_store.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/station/test_database.h"

namespace orvane::e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kFirst = 800000;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t seen = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++seen;
  return seen;
}

std::int32_t SerialOf(const sim::DeviceState& state) {
  return link::ConstantsBlock::Decode(state.constants)->serial_number;
}

sim::SimOptions Modem() {
  sim::SimOptions options;
  options.poll_interval_us = 2000;
  return options;
}

class BenchLine : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    database_ = std::make_unique<station::TestDatabase>(station::Backend::kSqlite);
    ASSERT_TRUE(station::RecordStore::Open(database_->location(), station::StoreMode::kCreate));
    image_ = Pattern(400, 3);
    plan_ = Pattern(300, 4);
    WriteFile("main.mts", image_);
    WriteFile("p.yp1", plan_);
    std::ofstream(Path("job.toml")) << "image = \"main.mts\"\nerase = true\nplans = [\"p.yp1\"]\n"
                                    << "[constants]\nid = \"Bench\"\n[serial]\nfirst = " << kFirst
                                    << "\nlast = " << kFirst + 99 << "\n";
    std::filesystem::create_directories(Path("ports"));
    for (sim::Simulator& cable : cables_) cable.Unplug();
    std::filesystem::create_symlink(cables_[0].Start(), Path("ports/COM3"));
    std::filesystem::create_symlink(cables_[1].Start(), Path("ports/COM4"));
  }

  std::unique_ptr<Background> Station() {
    auto tool = std::make_unique<Background>(
        std::vector<std::string>{ORVANE_CLI_PROGRAM, "--db", database_->location(), "--port", "all", "--yes",
                                 "provision", "--watch", Path("job.toml")},
        Environment{{"ORVANE_PORT_DIR", Path("ports")}, {"XDG_CONFIG_HOME", Path("config")}});
    EXPECT_TRUE(tool->WaitForOutput("Ctrl-C stops\n", 10s)) << tool->out() << tool->err();
    return tool;
  }

  std::vector<station::RunRecord> Runs() {
    auto store = station::RecordStore::Open(database_->location(), station::StoreMode::kExisting);
    auto runs = (*store.value)->History({});
    return runs ? *runs.value : std::vector<station::RunRecord>{};
  }

  void ExpectJob(const sim::DeviceState& state, const Bytes& plan, std::int64_t serial) {
    EXPECT_TRUE(std::equal(image_.begin(), image_.end(), state.firmware.begin()));
    ASSERT_EQ(state.files.size(), 1u);
    EXPECT_EQ(state.files[0].data, plan);
    EXPECT_EQ(SerialOf(state), serial);
  }

  std::unique_ptr<station::TestDatabase> database_;
  Bytes image_, plan_;
  // COM3 gets modems, COM4 is an adapter with none.
  sim::Simulator cables_[2] = {sim::Simulator(Modem()), sim::Simulator(Modem())};
};

// Three modems in turn on COM3, the third put on within a moment of the
// second's removal; the first left on its line a while; the plan changed on
// disk before the second; then a new session with the third still on.
TEST_F(BenchLine, ModemsInTurnEachGetOneJobAndAFinishedOneIsNeverWrittenAgain) {
  sim::Simulator& line = cables_[0];
  sim::DeviceState done[3];
  {
    auto tool = Station();
    line.Plug(sim::DeviceState{});
    ASSERT_TRUE(tool->WaitForOutput("COM3: done, serial " + std::to_string(kFirst), 30s)) << tool->out();

    done[0] = line.State();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(line.State().constants, done[0].constants);
    EXPECT_EQ(line.State().files.size(), 1u);
    EXPECT_EQ(Count(tool->out(), "COM3: started"), 1u) << "a unit left on its line gets no second job";

    line.Unplug();
    ASSERT_TRUE(tool->WaitForOutput("COM3: waiting", 10s, 2)) << tool->out();
    std::ofstream(Path("p.yp1"), std::ios::app) << "changed";
    line.Plug(sim::DeviceState{});
    ASSERT_TRUE(tool->WaitForOutput("COM3: done, serial " + std::to_string(kFirst + 1), 30s)) << tool->out();
    done[1] = line.State();

    line.Unplug();
    std::this_thread::sleep_for(300ms);  // far less than a departure takes
    line.Plug(sim::DeviceState{});
    ASSERT_TRUE(tool->WaitForOutput("COM3: done, serial " + std::to_string(kFirst + 2), 30s)) << tool->out();
    done[2] = line.State();

    tool->Signal(SIGINT);
    const RunResult run = tool->Wait(30s);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(Count(run.out, "changed on disk"), 1u) << run.out;
    EXPECT_NE(run.out.find("3 jobs: 3 done, 0 failed, 0 interrupted; serial numbers given: " + std::to_string(kFirst) +
                           " to " + std::to_string(kFirst + 2) + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Count(run.out, "COM4: "), 1u) << "an adapter with no modem only waits: " << run.out;
    EXPECT_NE(run.out.find("COM4: waiting"), std::string::npos) << run.out;
  }
  for (int i = 0; i < 3; ++i) ExpectJob(done[i], plan_, kFirst + i);

  WriteFile("p.yp1", plan_);  // the same job again: the third modem is done by it
  const long frames = line.Stats().frames_received;
  auto again = Station();
  ASSERT_TRUE(again->WaitForOutput("COM3: already done", 30s)) << again->out();
  again->Signal(SIGINT);
  const RunResult run = again->Wait(30s);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("0 jobs: 0 done, 0 failed, 0 interrupted; 1 unit already done left alone"), std::string::npos)
      << run.out;
  EXPECT_LT(line.Stats().frames_received - frames, 40) << "only its directory and constants were read";
  ExpectJob(line.State(), plan_, kFirst + 2);

  const auto runs = Runs();
  ASSERT_EQ(runs.size(), 3u);
  for (const station::RunRecord& record : runs) {
    EXPECT_EQ(record.result, station::RunResult::kDone);
    ASSERT_EQ(record.plans.size(), 1u);
    EXPECT_EQ(record.plans[0].sha256, station::Sha256Hex(plan_)) << "the bytes sent, not the file changed since";
  }
}

}  // namespace
}  // namespace orvane::e2e
