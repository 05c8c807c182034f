// The station engine on simulated modems in this process: one job per unit,
// nothing written to a unit after its job, a restarted session that leaves a
// finished unit alone, a unit numbered by another store left alone, and a
// line with no modem that waits.
#include "station/station_engine.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>

#include "link/payloads.h"
#include "sim/simulator.h"
#include "tests/station/test_database.h"

namespace orvane::station {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

constexpr std::int64_t kFirst = 500;

Bytes Pattern(std::size_t size, std::uint8_t start) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * 7);
  return bytes;
}

sim::DeviceState UnitWithSerial(std::int32_t serial) {
  sim::DeviceState state;
  auto block = link::ConstantsBlock::Decode(state.constants);
  block->serial_number = serial;
  block->EncodeInto(state.constants);
  return state;
}

std::int32_t SerialOf(const sim::DeviceState& state) { return link::ConstantsBlock::Decode(state.constants)->serial_number; }

sim::SimOptions Polling() {
  sim::SimOptions options;
  options.poll_interval_us = 2000;
  return options;
}

// What one engine reported, kept in order.
struct Session {
  explicit Session(std::vector<StationPosition> positions, std::shared_ptr<const JobSnapshot> snapshot,
                   const std::string& store, EngineOptions options = {}) {
    QObject::connect(&engine, &StationEngine::PositionChanged, [this](const PositionEvent& e) { events.push_back(e); });
    QObject::connect(&engine, &StationEngine::UnitEnded, [this](const UnitEnd& end) { ends.push_back(end); });
    options.version = "test";
    refused = engine.Start(std::move(positions), std::move(snapshot), store, std::move(options));
  }
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
  }
  void Run(std::chrono::milliseconds time) { WaitFor([] { return false; }, time); }
  bool Saw(LineState state) const {
    return std::any_of(events.begin(), events.end(), [state](const PositionEvent& e) { return e.state == state; });
  }

  StationEngine engine;
  std::optional<std::string> refused;
  std::vector<PositionEvent> events;
  std::vector<UnitEnd> ends;
};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("orvane-engine-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    image_ = Pattern(300, 3);
    plan_ = Pattern(200, 5);
    Job job;
    job.file = Write("job.toml", Bytes{'#'});
    job.image = Write("main.mts", image_);
    job.erase = true;
    job.plans = {Write("p.yp1", plan_)};
    job.constants.identifier = "Pult";
    job.serial = SerialRange{kFirst, kFirst + 99};
    auto snapshot = JobSnapshot::Read(job);
    ASSERT_TRUE(snapshot) << snapshot.error;
    snapshot_ = std::make_shared<JobSnapshot>(std::move(*snapshot.value));
    database_ = std::make_unique<TestDatabase>(Backend::kSqlite);
    ASSERT_TRUE(RecordStore::Open(database_->location(), StoreMode::kCreate));
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    std::ofstream(folder_ / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
    return (folder_ / name).string();
  }
  std::vector<RunRecord> Runs() {
    auto store = RecordStore::Open(database_->location(), StoreMode::kExisting);
    auto runs = (*store.value)->History({});
    return runs ? *runs.value : std::vector<RunRecord>{};
  }

  fs::path folder_;
  Bytes image_, plan_;
  std::shared_ptr<const JobSnapshot> snapshot_;
  std::unique_ptr<TestDatabase> database_;
};

TEST_F(Engine, AUnitGetsOneJobAndIsLeftAloneAfterItAlsoByANewSession) {
  sim::Simulator unit(Polling());
  const std::string port = unit.Start();
  {
    Session session({{port, ""}}, snapshot_, database_->location());
    ASSERT_TRUE(session.WaitFor([&] { return !session.ends.empty(); })) << "no end";
    const UnitEnd& end = session.ends.front();
    ASSERT_EQ(end.state, LineState::kDone) << end.reason;
    EXPECT_EQ(end.serial, kFirst);
    EXPECT_TRUE(session.Saw(LineState::kArrived));
    EXPECT_TRUE(session.Saw(LineState::kRunning));

    const sim::DeviceState state = unit.State();
    EXPECT_TRUE(std::equal(image_.begin(), image_.end(), state.firmware.begin()));
    ASSERT_EQ(state.files.size(), 1u);
    EXPECT_EQ(state.files[0].data, plan_);
    EXPECT_EQ(SerialOf(state), kFirst);

    // Still on its line: polled, never written again.
    const long frames = unit.Stats().frames_received;
    session.Run(700ms);
    EXPECT_EQ(unit.Stats().frames_received, frames);
    EXPECT_EQ(session.ends.size(), 1u);
    EXPECT_EQ(session.events.back().state, LineState::kDone);

    // A second session on the same line is refused at its start.
    Session rival({{port, ""}}, snapshot_, database_->location());
    EXPECT_THAT(rival.refused.value_or(""), HasSubstr(port));
    rival.Run(100ms);
    EXPECT_TRUE(rival.events.empty());
  }
  const long firmware_writes = unit.Stats().frames_received;
  Session restarted({{port, ""}}, snapshot_, database_->location());
  ASSERT_EQ(restarted.refused, std::nullopt) << "the first session let go of its line";
  ASSERT_TRUE(restarted.WaitFor([&] { return !restarted.ends.empty(); }));
  EXPECT_EQ(restarted.ends.front().state, LineState::kAlreadyDone);
  EXPECT_EQ(restarted.ends.front().serial, kFirst);
  const auto told = std::find_if(restarted.events.begin(), restarted.events.end(),
                                 [](const PositionEvent& e) { return e.state == LineState::kAlreadyDone; });
  ASSERT_NE(told, restarted.events.end());
  EXPECT_FALSE(told->done_at.empty());
  EXPECT_LT(unit.Stats().frames_received - firmware_writes, 20) << "only the unit's directory and constants read";
  const auto runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].result, RunResult::kDone);
  EXPECT_EQ(runs[0].image_sha256, Sha256Hex(image_));
  EXPECT_GT(runs[0].session, 0);
}

// Two lines at once, one of them a unit another store numbered, one with
// no modem at all: the first is refused untouched, the second waits.
TEST_F(Engine, AForeignNumberIsLeftAloneAndAnEmptyLineWaits) {
  sim::Simulator foreign(Polling(), UnitWithSerial(kFirst + 50));
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string empty_line = ::ptsname(master);

  {
    Session session({{foreign.Start(), ""}, {empty_line, ""}}, snapshot_, database_->location());
    ASSERT_TRUE(session.WaitFor([&] { return !session.ends.empty(); }));
    session.Run(300ms);
    ASSERT_EQ(session.ends.size(), 1u) << "the empty line never ends";
    EXPECT_EQ(session.ends[0].position, 0u);
    EXPECT_EQ(session.ends[0].state, LineState::kFailed);
    EXPECT_EQ(session.ends[0].cause, FailureCause::kForeignSerial);
    const sim::DeviceState state = foreign.State();
    EXPECT_TRUE(state.firmware.empty());
    EXPECT_EQ(SerialOf(state), kFirst + 50);
    for (const PositionEvent& event : session.events) {
      if (event.position == 1) {
        EXPECT_EQ(event.state, LineState::kNoModem);
      }
    }
    EXPECT_TRUE(Runs().empty());
  }

  // A single run on such a line fails as the window's watchdog would.
  EngineOptions once;
  once.once = true;
  once.no_modem_wait = 200ms;
  Session single({{empty_line, ""}}, snapshot_, database_->location(), once);
  ASSERT_TRUE(single.WaitFor([&] { return single.engine.ended(); }));
  ASSERT_EQ(single.ends.size(), 1u);
  EXPECT_EQ(single.ends[0].state, LineState::kFailed);
  EXPECT_EQ(single.ends[0].detail, link::kLogNotConnected);
  ASSERT_TRUE(single.ends[0].holds);
  EXPECT_EQ(single.ends[0].holds->main_program, MainProgram::kUntouched);
  EXPECT_TRUE(MustComeBack(*single.ends[0].holds));
  const auto runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(HoldsFromJson(runs[0].holds_json), single.ends[0].holds) << runs[0].holds_json;
  ::close(master);
}

}  // namespace
}  // namespace orvane::station
