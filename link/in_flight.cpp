#include "link/in_flight.h"

#include <algorithm>
#include <numeric>

#include "link/commands.h"

namespace orvane::link {
namespace {

bool EchoesFirstByte(std::uint8_t command) {
  const CommandInfo* info = FindCommand(command);
  return info && info->echoes_first_byte;
}

}  // namespace

AnswerKey RequestKey(const QueueEntry& entry) {
  if (!EchoesFirstByte(entry.command)) return {entry.command, -1};
  // An echoing request without data can never be matched by its answer.
  return {entry.command, entry.length >= 2 ? int{entry.data[0]} : -2};
}

AnswerKey ResponseKey(const FrameView& frame) {
  if (!EchoesFirstByte(frame.command())) return {frame.command(), -1};
  return {frame.command(), frame.has_data(1) ? int{frame.data(0)} : -3};
}

std::uint64_t InFlightFrames::Record(Sent frame) {
  if (frames_.size() >= kCapacity) ForgetOldest();
  frame.serial = next_serial_++;
  frames_.push_back(frame);
  return frame.serial;
}

// The answer may belong to a forgotten frame of its key, or to a recorded
// one; either way the oldest forgotten frame of the key has been answered or
// passed over. Settling nothing more is the safe reading.
std::optional<InFlightFrames::Sent> InFlightFrames::TakeAnswer(AnswerKey key) {
  const auto unknown = std::find_if(forgotten_.begin(), forgotten_.end(), [&](const auto& f) { return f.first == key; });
  if (unknown != forgotten_.end()) {
    if (--unknown->second == 0) forgotten_.erase(unknown);
    return std::nullopt;
  }
  const auto oldest = std::find_if(frames_.begin(), frames_.end(), [&](const Sent& s) { return s.key == key; });
  if (oldest == frames_.end()) return std::nullopt;
  const Sent answered = *oldest;
  frames_.erase(frames_.begin(), oldest + 1);
  forgotten_.clear();  // all of them were sent before the answered frame
  return answered;
}

bool InFlightFrames::HeldByOther(AnswerKey key, std::uint64_t owner) const {
  return std::any_of(frames_.begin(), frames_.end(),
                     [&](const Sent& s) { return s.key == key && s.owner != owner; });
}

bool InFlightFrames::Unknown(AnswerKey key) const {
  return std::any_of(forgotten_.begin(), forgotten_.end(), [&](const auto& f) { return f.first == key; });
}

std::size_t InFlightFrames::forgotten() const {
  return std::accumulate(forgotten_.begin(), forgotten_.end(), std::size_t{0},
                         [](std::size_t sum, const auto& f) { return sum + f.second; });
}

std::size_t InFlightFrames::CountOf(std::uint64_t owner) const {
  return static_cast<std::size_t>(
      std::count_if(frames_.begin(), frames_.end(), [&](const Sent& s) { return s.owner == owner; }));
}

std::optional<InFlightFrames::Sent> InFlightFrames::NewestOf(std::uint64_t owner) const {
  const auto it = std::find_if(frames_.rbegin(), frames_.rend(), [&](const Sent& s) { return s.owner == owner; });
  if (it == frames_.rend()) return std::nullopt;
  return *it;
}

void InFlightFrames::Expire(Clock::time_point now) {
  while (!frames_.empty() && now - frames_.front().at >= kLifetime) ForgetOldest();
}

void InFlightFrames::ForgetOldest() {
  const AnswerKey key = frames_.front().key;
  frames_.pop_front();
  const auto unknown = std::find_if(forgotten_.begin(), forgotten_.end(), [&](const auto& f) { return f.first == key; });
  if (unknown != forgotten_.end()) {
    ++unknown->second;
  } else {
    forgotten_.emplace_back(key, 1);
  }
}

}  // namespace orvane::link
