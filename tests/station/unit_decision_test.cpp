// The unit decision as a table: the unit's number and the runs these records
// gave it to, against what the session would write.
#include "station/unit_decision.h"

#include <gtest/gtest.h>

namespace orvane::station {
namespace {

using Kind = UnitVerdict::Kind;

RunStart Session() {
  RunStart start;
  start.image_sha256 = "aa";
  start.plans = {{"p.yp1", "bb"}};
  start.constants.identifier = "Пульт-7";
  return start;
}

RunRecord GivenTo(std::int64_t serial, RunResult result, const std::string& finished = "2026-01-02T03:04:05Z") {
  RunRecord run;
  const RunStart start = Session();
  run.serial = serial;
  run.result = result;
  run.finished = finished;
  run.image_sha256 = start.image_sha256;
  run.plans = start.plans;
  run.constants = start.constants;
  return run;
}

RunRecord OtherJob(RunRecord run, int what) {
  if (what == 0) run.image_sha256 = "cc";
  if (what == 1) run.plans[0].sha256 = "dd";
  if (what == 2) run.constants.time_zone = 180;
  return run;
}

TEST(UnitDecision, DecidesFromTheUnitsNumberAndTheRecords) {
  const SerialRange range{100, 199};
  struct Case {
    const char* name;
    std::optional<std::int64_t> serial;
    std::vector<RunRecord> given;
    Kind kind;
    std::string done_at = {};
  };
  const std::vector<Case> cases = {
      {"done by this job", 150, {GivenTo(150, RunResult::kFailed), GivenTo(150, RunResult::kDone, "T1")}, Kind::kAlreadyDone,
       "T1"},
      {"done by this job twice: the newest", 150, {GivenTo(150, RunResult::kDone, "T1"), GivenTo(150, RunResult::kDone, "T2")},
       Kind::kAlreadyDone, "T2"},
      {"done by another image", 150, {OtherJob(GivenTo(150, RunResult::kDone), 0)}, Kind::kKeep},
      {"done by other plans", 150, {OtherJob(GivenTo(150, RunResult::kDone), 1)}, Kind::kKeep},
      {"done by other constants", 150, {OtherJob(GivenTo(150, RunResult::kDone), 2)}, Kind::kKeep},
      {"rework outside the range keeps it too", 42, {OtherJob(GivenTo(42, RunResult::kDone), 0)}, Kind::kKeep},
      {"given only to runs that failed", 150, {GivenTo(150, RunResult::kFailed), GivenTo(150, RunResult::kInterrupted)},
       Kind::kAgain},
      {"given to a run still running", 150, {GivenTo(150, RunResult::kRunning)}, Kind::kAgain},
      {"in the range, never given here", 150, {}, Kind::kForeign},
      {"runs of another number do not count", 150, {GivenTo(151, RunResult::kDone)}, Kind::kForeign},
      {"the range's ends are in it", 199, {}, Kind::kForeign},
      {"outside the range, never given", 200, {}, Kind::kFresh},
      {"a unit fresh from the factory", 0, {}, Kind::kFresh},
      {"no number read", std::nullopt, {}, Kind::kFresh},
  };
  for (const Case& c : cases) {
    const UnitVerdict verdict = DecideUnit(c.serial, range, c.given, Session());
    EXPECT_EQ(verdict.kind, c.kind) << c.name;
    EXPECT_EQ(verdict.done_at, c.done_at) << c.name;
    EXPECT_EQ(verdict.RunsJob(), c.kind != Kind::kAlreadyDone && c.kind != Kind::kForeign) << c.name;
  }
  // A job without a range hands out no numbers: none is foreign to it.
  EXPECT_EQ(DecideUnit(150, std::nullopt, {}, Session()).kind, Kind::kFresh);
}

// A finished unit read again after a short silence is the same unit only
// while its constants and files are all as they were.
TEST(UnitDecision, TheSameUnitHasTheSameConstantsAndFiles) {
  device::DeviceModel ended;
  ended.fields.serial_number = 100007;
  ended.fields.identifier = "Пульт-7";
  ended.directory.files = {device::FileRecord{1, "plan.yp1 ", 0x5950, 120}};
  const struct {
    const char* name;
    void (*change)(device::DeviceModel&);
    bool same;
  } cases[] = {
      {"read again as it was", [](device::DeviceModel&) {}, true},
      {"another serial number", [](device::DeviceModel& m) { m.fields.serial_number = 0; }, false},
      {"another identifier", [](device::DeviceModel& m) { m.fields.identifier = "Пульт-8"; }, false},
      {"a file more", [](device::DeviceModel& m) { m.directory.files.push_back(std::nullopt); }, false},
      {"a file of another size", [](device::DeviceModel& m) { m.directory.files[0]->size = 121; }, false},
      {"the free space moved", [](device::DeviceModel& m) { m.directory.free = 900; }, true},
  };
  for (const auto& c : cases) {
    device::DeviceModel read = ended;
    c.change(read);
    EXPECT_EQ(SameUnit(ended, read), c.same) << c.name;
  }
}

}  // namespace
}  // namespace orvane::station
