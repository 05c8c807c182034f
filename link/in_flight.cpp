#include "link/in_flight.h"

#include <algorithm>

#include "link/commands.h"

namespace orvane::link {
namespace {

bool EchoesFirstByte(std::uint8_t command) { return command >= kFirmwareWrite && command <= kConstantsRead; }

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

void InFlightFrames::Record(Sent frame) {
  if (frames_.size() >= kCapacity) frames_.pop_front();
  frame.serial = next_serial_++;
  frames_.push_back(frame);
}

std::optional<InFlightFrames::Sent> InFlightFrames::TakeAnswer(AnswerKey key) {
  const auto oldest = std::find_if(frames_.begin(), frames_.end(), [&](const Sent& s) { return s.key == key; });
  if (oldest == frames_.end()) return std::nullopt;
  const Sent answered = *oldest;
  frames_.erase(frames_.begin(), oldest + 1);
  return answered;
}

bool InFlightFrames::HeldByOther(AnswerKey key, std::uint64_t owner) const {
  return std::any_of(frames_.begin(), frames_.end(),
                     [&](const Sent& s) { return s.key == key && s.owner != owner; });
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
  while (!frames_.empty() && now - frames_.front().at >= kLifetime) frames_.pop_front();
}

}  // namespace orvane::link
