#include "link/retransmit_timer.h"

#include <algorithm>
#include <cmath>

namespace orvane::link {
namespace {

constexpr double kAlpha = 1.0 / 8;  // gain of the smoothed answer time
constexpr double kBeta = 1.0 / 4;   // gain of the deviation
constexpr double kDeviations = 4;

}  // namespace

void RetransmitTimer::Sample(Duration answer_time) {
  answer_time = std::max(answer_time, Duration::zero());
  const double sample = static_cast<double>(answer_time.count());
  if (!has_sample_) {
    smoothed_ = sample;
    variation_ = sample / 2;
    has_sample_ = true;
  } else {
    variation_ = (1 - kBeta) * variation_ + kBeta * std::abs(smoothed_ - sample);
    smoothed_ = (1 - kAlpha) * smoothed_ + kAlpha * sample;
  }
  recent_[next_] = answer_time;
  next_ = (next_ + 1) % kRecent;
  Recompute();
}

// Before the first sample the time-out stays at kInitial, already far above
// any real answer time: a run of losses at the start of a session costs one
// kInitial each, not a second. A device slower than that still teaches the
// time-out, through the answers to both frames of an entry sent twice (see
// LinkControl::MeasureAllAnswered).
RetransmitTimer::Duration RetransmitTimer::BackOffLimit() const {
  if (!has_sample_) return kInitial;
  const Duration largest = *std::max_element(recent_.begin(), recent_.end());
  return std::clamp(2 * largest + kMargin, kFloor, kCeiling);
}

// Never below what the measured answer times ask for.
void RetransmitTimer::BackOff() { timeout_ = std::max(timeout_, std::min(timeout_ * 2, BackOffLimit())); }

void RetransmitTimer::Recompute() {
  const auto computed = Duration(static_cast<Duration::rep>(std::ceil(smoothed_ + kDeviations * variation_)));
  timeout_ = std::clamp(computed, kFloor, kCeiling);
}

}  // namespace orvane::link
