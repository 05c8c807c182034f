#include "ui/station_control.h"

#include <algorithm>
#include <utility>

namespace orvane::ui {

using station::LineState;

StopAction SessionControl::StopPressed() {
  switch (phase_) {
    case SessionPhase::kRunning:
      phase_ = SessionPhase::kStopping;
      return StopAction::kStopNewJobs;
    case SessionPhase::kStopping:
      return StopAction::kAskThenStopRunning;
    case SessionPhase::kIdle:
    case SessionPhase::kEnded:
      return StopAction::kNothing;
  }
  return StopAction::kNothing;
}

void SessionTally::Reset(std::size_t positions) {
  last_.assign(positions, LineState::kNoModem);
  totals_ = {};
}

void SessionTally::Add(const station::PositionEvent& event) {
  if (event.position >= last_.size()) last_.resize(event.position + 1, LineState::kNoModem);
  const LineState before = std::exchange(last_[event.position], event.state);
  if (before == event.state) return;
  switch (event.state) {
    case LineState::kDone:
      ++totals_.done;
      if (event.serial) {
        totals_.first_serial = std::min(totals_.first_serial.value_or(*event.serial), *event.serial);
        totals_.last_serial = std::max(totals_.last_serial.value_or(*event.serial), *event.serial);
      }
      break;
    case LineState::kFailed: ++totals_.failed; break;
    case LineState::kStopped: ++totals_.interrupted; break;
    default: break;
  }
}

}  // namespace orvane::ui
