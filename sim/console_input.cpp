#include "sim/console_input.h"

#include <algorithm>
#include <cstring>

#include "link/frame.h"

namespace orvane::sim {

void ConsoleInput::Reach(std::span<const std::uint8_t> bytes, Clock::time_point sent) {
  const std::size_t room = capacity_ - std::min(capacity_, bytes_.size());
  const std::size_t kept = std::min(room, bytes.size());
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.begin() + static_cast<long>(kept));
  sent_.insert(sent_.end(), kept, sent);
  overflowed_ += static_cast<long>(bytes.size() - kept);
}

void ConsoleInput::BeforePoll() {
  if (mode_ == AnswerMode::kFlush) DiscardAll();
}

// all: every complete frame, whenever it comes. queue: one frame per poll,
// the rest kept. first and flush: the first frame after a poll, and whatever
// else had reached the console by then is dropped.
std::vector<ConsoleInput::Taken> ConsoleInput::Take(bool waiting) {
  std::vector<Taken> taken;
  if (mode_ != AnswerMode::kAll && !waiting) return taken;
  while (auto frame = TakeFirst()) {
    taken.push_back(std::move(*frame));
    if (mode_ != AnswerMode::kAll) break;
  }
  if (!taken.empty() && (mode_ == AnswerMode::kFirst || mode_ == AnswerMode::kFlush)) DiscardAll();
  return taken;
}

// The receive scan: bytes before a sync and frames with a bad checksum are
// skipped one byte at a time; an incomplete frame stays for later bytes.
std::optional<ConsoleInput::Taken> ConsoleInput::TakeFirst() {
  std::size_t p = 0;
  std::optional<Taken> found;
  while (!found && p + link::kMinFrameSize <= bytes_.size()) {
    const std::uint8_t* at = bytes_.data() + p;
    const std::size_t length = at[4];
    if (std::memcmp(at, link::kSync.data(), link::kSync.size()) != 0) {
      ++p;
    } else if (length > bytes_.size() - p - link::kFrameOverhead) {
      break;
    } else if (!link::CheckFrame(at)) {
      ++p;
    } else {
      found = Taken{{at + 4, at + 5 + length}, sent_[p + 5 + length]};
      p += length + link::kFrameOverhead;
    }
  }
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<long>(p));
  sent_.erase(sent_.begin(), sent_.begin() + static_cast<long>(p));
  return found;
}

void ConsoleInput::DiscardAll() {
  discarded_ += static_cast<long>(bytes_.size());
  bytes_.clear();
  sent_.clear();
}

}  // namespace orvane::sim
