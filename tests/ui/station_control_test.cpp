#include "ui/station_control.h"

#include <gtest/gtest.h>

namespace orvane::ui {
namespace {

using station::LineState;

TEST(StationControlTest, StopIsTheTerminalsFirstAndSecondCtrlC) {
  SessionControl control;
  EXPECT_TRUE(control.CanStart());
  EXPECT_FALSE(control.CanStop());
  EXPECT_EQ(control.StopPressed(), StopAction::kNothing);
  control.Started();
  EXPECT_FALSE(control.CanStart());
  EXPECT_EQ(control.StopPressed(), StopAction::kStopNewJobs);
  EXPECT_EQ(control.Phase(), SessionPhase::kStopping);
  EXPECT_TRUE(control.CanStop());
  // The question may be answered No; the next press asks again.
  EXPECT_EQ(control.StopPressed(), StopAction::kAskThenStopRunning);
  EXPECT_EQ(control.StopPressed(), StopAction::kAskThenStopRunning);
  control.Ended();
  EXPECT_EQ(control.StopPressed(), StopAction::kNothing);
  EXPECT_TRUE(control.CanStart());
  control.Started();
  EXPECT_EQ(control.StopPressed(), StopAction::kStopNewJobs);
}

station::PositionEvent At(std::size_t position, LineState state, std::optional<std::int64_t> serial = {}) {
  station::PositionEvent event;
  event.position = position;
  event.state = state;
  event.serial = serial;
  return event;
}

// A unit counts once when its line ends, however often the line repeats
// its state while the unit stays on it; a unit already done counts not.
TEST(StationControlTest, TallyCountsEachUnitOnceWhenItsLineEnds) {
  SessionTally tally;
  tally.Reset(3);
  const station::PositionEvent events[] = {
      At(0, LineState::kArrived),          At(0, LineState::kRunning),
      At(0, LineState::kDone, 100005),     At(0, LineState::kDone, 100005),
      At(1, LineState::kRunning),          At(1, LineState::kFailed),
      At(1, LineState::kFailed),           At(1, LineState::kNoModem),
      At(1, LineState::kRunning),          At(1, LineState::kDone, 100003),
      At(2, LineState::kAlreadyDone, 99),  At(2, LineState::kRunning),
      At(2, LineState::kStopped),          At(0, LineState::kNoModem),
      At(0, LineState::kRunning),          At(0, LineState::kDone, 100007),
  };
  for (const auto& event : events) tally.Add(event);
  const SessionTotals& totals = tally.Totals();
  EXPECT_EQ(totals.done, 3);
  EXPECT_EQ(totals.failed, 1);
  EXPECT_EQ(totals.interrupted, 1);
  EXPECT_EQ(totals.first_serial, 100003);
  EXPECT_EQ(totals.last_serial, 100007);
  tally.Reset(3);
  EXPECT_EQ(tally.Totals(), SessionTotals{});
}

}  // namespace
}  // namespace orvane::ui
