// The command queue: first in, first out, with constant-time push at the tail
// and pop at the head (a 64 KiB reflash queues 4097 entries at once).
#pragma once

#include <cstddef>
#include <deque>

#include "link/frame.h"

namespace orvane::link {

class CommandQueue {
 public:
  void Push(const QueueEntry& entry) { entries_.push_back(entry); }
  void PopHead() {
    if (!entries_.empty()) entries_.pop_front();
  }
  void Clear() { entries_.clear(); }

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  const QueueEntry& head() const { return entries_.front(); }
  const QueueEntry& at(std::size_t i) const { return entries_[i]; }

 private:
  std::deque<QueueEntry> entries_;
};

}  // namespace orvane::link
