#include "sim/adapter_delay.h"

#include <algorithm>

namespace orvane::sim {

// The jitter's stream differs from the fault dice's for the same seed.
constexpr std::uint64_t kJitterStream = 0x9E3779B97F4A7C15ull;

AdapterDelay::AdapterDelay(std::chrono::microseconds latency, std::chrono::microseconds jitter,
                           std::uint64_t seed)
    : latency_(std::max(latency, std::chrono::microseconds::zero())),
      jitter_(std::max(jitter, std::chrono::microseconds::zero())),
      engine_(seed ^ kJitterStream) {}

void AdapterDelay::Push(Bytes bytes, Clock::time_point sent) {
  auto delay = latency_;
  if (jitter_.count() > 0) {
    const auto span = static_cast<std::uint64_t>(jitter_.count()) + 1;
    delay += std::chrono::nanoseconds(static_cast<std::int64_t>(engine_() % span));
  }
  last_due_ = std::max(last_due_, sent + delay);
  pending_.push_back(Piece{std::move(bytes), sent, last_due_});
}

std::optional<AdapterDelay::Clock::time_point> AdapterDelay::NextDue() const {
  if (pending_.empty()) return std::nullopt;
  return pending_.front().due;
}

std::vector<AdapterDelay::Piece> AdapterDelay::TakeDue(Clock::time_point now) {
  std::vector<Piece> due;
  while (!pending_.empty() && pending_.front().due <= now) {
    due.push_back(std::move(pending_.front()));
    pending_.pop_front();
  }
  return due;
}

}  // namespace orvane::sim
