// Where the modem on a station line is, told by its polls alone. A console
// polls all the time while it is powered and on its cable, so polls mean a
// modem is there, and a silence means it left.
//
// The rule is fed times (no clock of its own): a poll seen, the time now,
// a job started or ended. It answers with the new line state, if any, and
// whether the unit must be read again before anything is decided (a modem
// arrived, or polls resumed after a silence that a swap could hide in).
#pragma once

#include <chrono>
#include <optional>

#include "station/events.h"

namespace orvane::station {

struct LineTimes {
  using Duration = std::chrono::steady_clock::duration;
  // Silence after which the modem is taken as gone. A console polls every
  // few milliseconds and does not stop while it writes its flash, so two
  // seconds is far beyond any pause of one still on its cable, and still
  // short for an operator who has to unplug one modem and plug the next.
  Duration left = std::chrono::seconds(2);
  // Silence that ends a running job: a little longer than `left`, so that a
  // modem that left fails its job with the cause "left" once, not twice.
  Duration job_lost = std::chrono::seconds(3);
  // Polls resuming after more than this many poll periods (never below
  // `resume_floor`) may come from another unit: it is read again.
  int resume_periods = 8;
  Duration resume_floor = std::chrono::milliseconds(80);
};

struct LineChange {
  std::optional<LineState> state;  // the new state, when it changed
  bool identify = false;           // read the unit's constants before deciding
  bool job_lost = false;           // the running job's modem fell silent
};

class LineRule {
 public:
  using Time = std::chrono::steady_clock::time_point;
  using Duration = LineTimes::Duration;

  explicit LineRule(LineTimes times = {}) : times_(times) {}

  LineChange Poll(Time at);
  LineChange Tick(Time now);  // the silence so far
  // The worker started the unit's job / ended it or decided not to run one
  // (kDone, kAlreadyDone, kFailed, kStopped): the line then says "remove
  // the modem" until it leaves.
  LineChange JobStarted();
  LineChange UnitEnded(LineState end);
  // The unit read after `identify` is the one that was there: its end state
  // holds again.
  LineChange SameUnit();
  LineChange PortGone();
  LineChange PortBack();

  LineState state() const { return state_; }
  // The measured poll period (the shortest recent gap), if two polls came.
  std::optional<Duration> poll_period() const { return period_; }
  Duration ResumeGap() const;

 private:
  LineChange Become(LineState state, bool identify = false);
  bool Removable() const;

  LineTimes times_;
  LineState state_ = LineState::kNoModem;
  std::optional<LineState> ended_;  // the state the last unit ended in
  std::optional<Time> last_poll_;
  std::optional<Duration> period_;
};

}  // namespace orvane::station
