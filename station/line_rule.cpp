#include "station/line_rule.h"

#include <algorithm>

namespace orvane::station {

LineChange LineRule::Become(LineState state, bool identify) {
  LineChange change;
  if (state != state_) change.state = state;
  change.identify = identify;
  state_ = state;
  return change;
}

bool LineRule::Removable() const {
  return state_ == LineState::kDone || state_ == LineState::kAlreadyDone || state_ == LineState::kFailed ||
         state_ == LineState::kStopped;
}

LineRule::Duration LineRule::ResumeGap() const {
  const Duration periods = period_ ? *period_ * times_.resume_periods : Duration::zero();
  return std::max(periods, times_.resume_floor);
}

LineChange LineRule::Poll(Time at) {
  const bool had_poll = last_poll_.has_value();
  const Duration gap = had_poll ? at - *last_poll_ : Duration::zero();
  last_poll_ = at;
  // A silence is not a poll period; the average moves by an eighth, so one
  // late delivery barely shifts it.
  if (had_poll && gap < times_.left && (!period_ || gap <= ResumeGap())) {
    period_ = period_ ? (*period_ * 7 + gap) / 8 : gap;
  }
  if (state_ == LineState::kNoPort) return {};
  if (state_ == LineState::kNoModem) return Become(LineState::kArrived, true);
  if (Removable() && had_poll && gap > ResumeGap()) return Become(LineState::kArrived, true);
  return {};
}

LineChange LineRule::Tick(Time now) {
  if (!last_poll_ || state_ == LineState::kNoPort || state_ == LineState::kNoModem) return {};
  const Duration silence = now - *last_poll_;
  if (state_ == LineState::kRunning) {
    LineChange change;
    change.job_lost = silence >= times_.job_lost;
    return change;
  }
  if (silence < times_.left) return {};
  ended_.reset();
  last_poll_.reset();
  period_.reset();
  return Become(LineState::kNoModem);
}

LineChange LineRule::JobStarted() { return Become(LineState::kRunning); }

LineChange LineRule::UnitEnded(LineState end) {
  ended_ = end;
  return Become(end);
}

LineChange LineRule::SameUnit() { return ended_ ? Become(*ended_) : LineChange{}; }

LineChange LineRule::PortGone() {
  ended_.reset();
  last_poll_.reset();
  period_.reset();
  return Become(LineState::kNoPort);
}

LineChange LineRule::PortBack() { return state_ == LineState::kNoPort ? Become(LineState::kNoModem) : LineChange{}; }

}  // namespace orvane::station
