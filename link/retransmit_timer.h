// The resend time-out of the link: how long the head may stay unanswered
// before the next poll sends it again. It follows the measured answer time:
// a smoothed answer time and its mean deviation, the time-out their sum with
// four deviations. Answers to resent frames are not sampled (nobody knows
// which copy they answer) unless every copy was answered.
//
// After a resend the time-out doubles, but only up to twice the largest of
// the last answer times measured plus a margin; before the first sample it
// stays at its initial value. A polled point-to-point line has no congestion
// for a longer wait to relieve: a loss is a frame dropped or damaged on its
// own, and the next copy is as likely to get through as the first; waiting
// longer than any answer has taken only leaves polls unanswered. A copy sent
// before a slow answer has come costs a barrier and never an error: the rule
// of sending keeps every answer attributable whatever the time-out is.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>

namespace orvane::link {

class RetransmitTimer {
 public:
  using Duration = std::chrono::microseconds;

  // Before the first sample. The first exchange of every session is a
  // directory request whose answer gives the first sample at once.
  static constexpr Duration kInitial{100'000};
  // Floor: below it, timer and scheduling noise of the PC alone would cause
  // needless resends. Above it, every answer lost on a fast line costs the
  // device's whole reply window instead of one poll; 250 µs lies above the
  // round trip through a pseudo-terminal on a loaded machine (100 to 300 µs)
  // and below one poll cycle of a device polling every 200 µs.
  static constexpr Duration kFloor{250};
  // Ceiling: a USB serial adapter adds up to 16 ms each way; a second is far
  // above any real answer and well below the 10 s after which an unanswered
  // head ends the operation.
  static constexpr Duration kCeiling{1'000'000};
  // Added to twice the largest recent answer time to bound the back-off:
  // room for the PC's own scheduling delays on a loaded machine.
  static constexpr Duration kMargin{2'000};
  // The answer times the back-off's bound looks back on.
  static constexpr std::size_t kRecent = 32;

  void Sample(Duration answer_time);
  void BackOff();
  Duration Timeout() const { return timeout_; }
  // How far BackOff may raise the time-out.
  Duration BackOffLimit() const;

 private:
  void Recompute();

  bool has_sample_ = false;
  double smoothed_ = 0;   // µs
  double variation_ = 0;  // µs
  Duration timeout_ = kInitial;
  std::array<Duration, kRecent> recent_{};  // a ring of the last samples
  std::size_t next_ = 0;
};

// Whether the device answers before it polls again. A device that reads our
// frame within its reply window answers it before its next poll. While that
// has held for the last kStreak answers to frames sent once, a poll that
// finds the head unanswered means the frame or its answer was lost, and the
// head goes out again at that poll instead of after the time-out: a poll left
// unanswered costs the device's whole reply window. One answer that comes
// after a later poll (a slow adapter, a short reply window) ends it, and the
// time-out rules again until the streak is whole.
class PromptAnswers {
 public:
  static constexpr int kStreak = 16;

  void Answer(bool before_next_poll) { streak_ = before_next_poll ? std::min(streak_ + 1, kStreak) : 0; }
  bool Prompt() const { return streak_ >= kStreak; }

 private:
  int streak_ = 0;
};

}  // namespace orvane::link
