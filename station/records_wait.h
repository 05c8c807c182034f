// How long a unit waits for its record store that stopped answering. The
// worker asks the store again every `retry`; the rule says whether to go on
// (the store answered), wait on, or give up once the wait is longer than
// its bound. A wait with no bound lasts until the store answers: one
// before a unit's job, when nothing has been written to it. The rule is fed
// times and has no clock of its own.
#pragma once

#include <chrono>
#include <optional>

namespace orvane::station {

class RecordsWait {
 public:
  using Clock = std::chrono::steady_clock;
  using Duration = Clock::duration;
  enum class Next { kGoOn, kWait, kGiveUp };

  RecordsWait(Clock::time_point started, std::optional<Duration> bound, Duration retry)
      : started_(started), asked_(started), bound_(bound), retry_(retry) {}

  // Whether the store is to be asked again at `now`; the next ask is a
  // retry later.
  bool AskNow(Clock::time_point now);
  // What follows the store's answer, or its silence, at `now`.
  Next After(Clock::time_point now, bool answered) const;

  Duration Length(Clock::time_point now) const { return now - started_; }
  std::optional<Duration> bound() const { return bound_; }

 private:
  Clock::time_point started_, asked_;
  std::optional<Duration> bound_;
  Duration retry_;
};

}  // namespace orvane::station
