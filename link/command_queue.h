// The command queue: first in, first out, with constant-time push at the tail
// and pop at the head (a 64 KiB reflash queues 4097 entries at once). Every
// entry gets an identity of its own when it is queued, so that the link can
// tell copies of one entry from an equal entry queued later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "link/frame.h"

namespace orvane::link {

class CommandQueue {
 public:
  std::uint64_t Push(const QueueEntry& entry) {
    entries_.push_back({entry, next_id_});
    return next_id_++;
  }
  void PopHead() {
    if (!entries_.empty()) entries_.pop_front();
  }
  void Clear() { entries_.clear(); }

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  const QueueEntry& head() const { return entries_.front().entry; }
  std::uint64_t head_id() const { return entries_.front().id; }
  const QueueEntry& at(std::size_t i) const { return entries_[i].entry; }

 private:
  struct Slot {
    QueueEntry entry;
    std::uint64_t id;
  };
  std::deque<Slot> entries_;
  std::uint64_t next_id_ = 1;
};

}  // namespace orvane::link
