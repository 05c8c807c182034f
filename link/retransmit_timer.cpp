#include "link/retransmit_timer.h"

#include <algorithm>
#include <cmath>

namespace orvane::link {
namespace {

constexpr double kAlpha = 1.0 / 8;  // gain of the smoothed round trip
constexpr double kBeta = 1.0 / 4;   // gain of the deviation
constexpr double kDeviations = 4;

}  // namespace

void RetransmitTimer::Sample(Duration round_trip) {
  const double sample = static_cast<double>(std::max<Duration::rep>(round_trip.count(), 0));
  if (!has_sample_) {
    smoothed_ = sample;
    variation_ = sample / 2;
    has_sample_ = true;
  } else {
    variation_ = (1 - kBeta) * variation_ + kBeta * std::abs(smoothed_ - sample);
    smoothed_ = (1 - kAlpha) * smoothed_ + kAlpha * sample;
  }
  Recompute();
}

void RetransmitTimer::BackOff() { timeout_ = std::min(timeout_ * 2, kCeiling); }

void RetransmitTimer::Recompute() {
  const auto computed = Duration(static_cast<Duration::rep>(std::ceil(smoothed_ + kDeviations * variation_)));
  timeout_ = std::clamp(computed, kFloor, kCeiling);
}

}  // namespace orvane::link
