#include "link/frame.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace orvane::link {

std::uint8_t FrameChecksum(const std::uint8_t* frame) {
  const std::size_t summed = std::size_t{frame[4]} + 5;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < summed; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
  return static_cast<std::uint8_t>(0xFF - sum);
}

bool CheckFrame(const std::uint8_t* frame) {
  return frame[5 + std::size_t{frame[4]}] == FrameChecksum(frame);
}

namespace {

std::vector<std::uint8_t> Assemble(std::uint8_t length, std::uint8_t command,
                                   const std::uint8_t* data) {
  std::vector<std::uint8_t> frame(std::size_t{length} + kFrameOverhead);
  std::copy(kSync.begin(), kSync.end(), frame.begin());
  frame[4] = length;
  frame[5] = command;
  if (length > 1) std::memcpy(&frame[6], data, std::size_t{length} - 1);
  frame.back() = FrameChecksum(frame.data());
  return frame;
}

}  // namespace

std::vector<std::uint8_t> BuildFrame(const QueueEntry& entry) {
  const std::uint8_t length = std::clamp<std::uint8_t>(entry.length, 1, kMaxLength);
  return Assemble(length, entry.command, entry.data.data());
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t command, std::span<const std::uint8_t> data) {
  if (data.size() + 1 > kMaxLength) throw std::length_error("frame data too long");
  return Assemble(static_cast<std::uint8_t>(data.size() + 1), command, data.data());
}

void ReceiveBuffer::Deliver(const std::uint8_t* bytes, std::size_t count, const FrameSink& sink) {
  while (count > 0) {
    const std::size_t room = buffer_.size() - fill_;
    const std::size_t piece = std::min(room, count);
    std::memcpy(buffer_.data() + fill_, bytes, piece);
    fill_ += piece;
    bytes += piece;
    count -= piece;
    ParseFrames(sink);
  }
}

// Scans from the start of the held bytes and cuts off what was consumed once
// the scan ends (frames and junk alike), so a delivery of many frames moves
// the remainder once rather than after every frame. Each frame is copied out
// before its handler runs, so the view stays valid whatever the handler does.
// Between deliveries at most one incomplete frame (L + 5 bytes) is left, so
// room for the next piece is always there.
void ReceiveBuffer::ParseFrames(const FrameSink& sink) {
  std::size_t p = 0;
  while (p + kMinFrameSize <= fill_) {
    const std::uint8_t* at = buffer_.data() + p;
    if (std::memcmp(at, kSync.data(), kSync.size()) != 0) {
      ++p;
      continue;
    }
    const std::size_t length = at[4];
    if (length > fill_ - p - kFrameOverhead) break;
    if (!CheckFrame(at)) {
      ++p;
      continue;
    }
    std::array<std::uint8_t, kSendBufferSize> frame;
    std::memcpy(frame.data(), at + 4, length + 1);
    p += length + kFrameOverhead;
    sink(FrameView({frame.data(), length + 1}));
  }
  Compact(p);
}

void ReceiveBuffer::Compact(std::size_t from) {
  if (from == 0) return;
  std::memmove(buffer_.data(), buffer_.data() + from, fill_ - from);
  fill_ -= from;
}

}  // namespace orvane::link
