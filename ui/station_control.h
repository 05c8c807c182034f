// The session's buttons as the terminal's Ctrl-C: the first stop lets the
// running jobs finish and starts no new one, the second (after a question)
// stops them. Also counts the units as their lines end, for the totals
// while the session runs.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "station/events.h"
#include "ui/station_session.h"

namespace orvane::ui {

enum class SessionPhase { kIdle, kRunning, kStopping, kEnded };

// What pressing stop asks for in each phase.
enum class StopAction { kNothing, kStopNewJobs, kAskThenStopRunning };

class SessionControl {
 public:
  SessionPhase Phase() const { return phase_; }
  bool CanStart() const { return phase_ == SessionPhase::kIdle || phase_ == SessionPhase::kEnded; }
  bool CanStop() const { return phase_ == SessionPhase::kRunning || phase_ == SessionPhase::kStopping; }

  void Started() { phase_ = SessionPhase::kRunning; }
  // The action the stop button takes now; moves on when it is taken.
  StopAction StopPressed();
  void Ended() { phase_ = SessionPhase::kEnded; }

 private:
  SessionPhase phase_ = SessionPhase::kIdle;
};

// The units whose job ended while the session runs, from the lines' events:
// a line counts once when it enters done, failed or stopped, and not again
// while it stays there (the unit still on its line).
class SessionTally {
 public:
  void Reset(std::size_t positions);
  void Add(const station::PositionEvent& event);
  const SessionTotals& Totals() const { return totals_; }

 private:
  std::vector<station::LineState> last_;
  SessionTotals totals_;
};

}  // namespace orvane::ui
