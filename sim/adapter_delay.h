// The USB serial adapter between the PC and the line: each piece the PC sends
// goes on only after a fixed latency plus a jitter drawn evenly from
// [0, jitter], and never before a piece sent earlier. The jitter has a
// generator of its own, seeded, so switching latency on leaves the fault
// dice as they were.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

namespace orvane::sim {

class AdapterDelay {
 public:
  using Clock = std::chrono::steady_clock;
  using Bytes = std::vector<std::uint8_t>;

  struct Piece {
    Bytes bytes;
    Clock::time_point sent;  // when the PC's bytes were read off the port
    Clock::time_point due;   // when they reach the console
  };

  AdapterDelay(std::chrono::microseconds latency, std::chrono::microseconds jitter, std::uint64_t seed);

  void Push(Bytes bytes, Clock::time_point sent);
  std::optional<Clock::time_point> NextDue() const;
  // The pieces due by now, oldest first.
  std::vector<Piece> TakeDue(Clock::time_point now);
  // Loses what is on its way: nothing is behind the adapter to take it.
  void Clear() { pending_.clear(); }

 private:
  std::chrono::nanoseconds latency_;
  std::chrono::nanoseconds jitter_;
  std::mt19937_64 engine_;
  std::deque<Piece> pending_;
  Clock::time_point last_due_{};
};

}  // namespace orvane::sim
