// The console's receive side: a bounded store of the bytes that have reached
// it, and the rule by which it takes frames out of it (--answer).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/simulator.h"

namespace orvane::sim {

// Like a real console's receive buffer: bytes that do not fit are lost.
inline constexpr std::size_t kReceiveStoreSize = 4096;

class ConsoleInput {
 public:
  using Clock = std::chrono::steady_clock;

  struct Taken {
    std::vector<std::uint8_t> frame;  // from the length byte up to, not including, the checksum
    Clock::time_point sent;           // when its last byte was read off the PC's port
  };

  explicit ConsoleInput(AnswerMode mode, std::size_t capacity = kReceiveStoreSize)
      : mode_(mode), capacity_(capacity) {}

  void Reach(std::span<const std::uint8_t> bytes, Clock::time_point sent);
  // Called just before each poll goes out.
  void BeforePoll();
  // The frames the console takes up now, in order. waiting: it is inside the
  // reply window of a poll it has not had an answer to yet.
  std::vector<Taken> Take(bool waiting);
  // The console is taken off its cable: a partial frame never completes.
  void Clear() {
    bytes_.clear();
    sent_.clear();
  }

  std::size_t held() const { return bytes_.size(); }
  long discarded() const { return discarded_; }    // thrown away by first / flush
  long overflowed() const { return overflowed_; }  // lost for want of room

 private:
  std::optional<Taken> TakeFirst();
  void DiscardAll();

  AnswerMode mode_;
  std::size_t capacity_;
  std::vector<std::uint8_t> bytes_;
  std::vector<Clock::time_point> sent_;  // one per byte
  long discarded_ = 0;
  long overflowed_ = 0;
};

}  // namespace orvane::sim
