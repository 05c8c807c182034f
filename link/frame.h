// Frame codec of the device link: layout, checksum, outgoing frames and the
// receive-side scanner.
//
// A frame on the wire: 5D 59 54 57 | L | command | L-1 data bytes | checksum.
// The checksum is 0xFF minus the 8-bit sum of every byte from the first sync
// byte through the last data byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace orvane::link {

inline constexpr std::array<std::uint8_t, 4> kSync{0x5D, 0x59, 0x54, 0x57};
inline constexpr std::size_t kFrameOverhead = 6;       // sync, length, checksum
inline constexpr std::size_t kMinFrameSize = 7;        // what the scanner looks at
inline constexpr std::size_t kSendBufferSize = 256;    // outgoing frame buffer
inline constexpr std::uint8_t kMaxLength = 250;        // largest L that fits it
inline constexpr std::size_t kEntryDataSize = 251;
inline constexpr std::size_t kReceiveBufferSize = 4096;

// One queued command: L (command byte plus data bytes), the command code, and
// a private copy of the data of which the first L - 1 bytes are meaningful.
struct QueueEntry {
  std::uint8_t length = 1;
  std::uint8_t command = 0;
  std::array<std::uint8_t, kEntryDataSize> data{};

  std::span<const std::uint8_t> Payload() const {
    return {data.data(), length > 0 ? std::size_t{length} - 1u : 0u};
  }
};

// A received frame as the dispatcher sees it: it starts at the length byte, so
// [0] is L, [1] the command and [2] the first data byte. It holds exactly the
// L + 1 bytes up to, not including, the checksum; reads past size() are the
// caller's fault and every handler checks size() first.
class FrameView {
 public:
  explicit FrameView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint8_t length() const { return bytes_[0]; }
  std::uint8_t command() const { return bytes_.size() > 1 ? bytes_[1] : 0; }
  std::size_t data_size() const { return bytes_.size() > 2 ? bytes_.size() - 2 : 0; }
  bool has_data(std::size_t count) const { return data_size() >= count; }
  // Data byte i (0 = first byte after the command); call only when has_data(i + 1).
  std::uint8_t data(std::size_t i) const { return bytes_[2 + i]; }
  std::uint16_t data_u16(std::size_t i) const {
    return static_cast<std::uint16_t>(data(i) | (data(i + 1) << 8));
  }
  std::span<const std::uint8_t> data_bytes() const {
    return data_size() ? bytes_.subspan(2) : std::span<const std::uint8_t>{};
  }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Checksum of a frame that starts at its first sync byte; reads L at offset 4
// and sums L + 5 bytes, so the caller must hold at least that many.
std::uint8_t FrameChecksum(const std::uint8_t* frame);

// True when the byte at offset 5 + L equals FrameChecksum; the caller must hold
// the whole frame (L + 6 bytes).
bool CheckFrame(const std::uint8_t* frame);

// The L + 6 bytes that go on the wire for one queue entry.
std::vector<std::uint8_t> BuildFrame(const QueueEntry& entry);

// The same for a command and its data given directly (used by the device side
// of tests and the simulator); L is data.size() + 1 and must not exceed 250.
std::vector<std::uint8_t> BuildFrame(std::uint8_t command, std::span<const std::uint8_t> data);

// Receive side: a fixed 4096-byte area with a fill count. Deliver() appends
// bytes and scans for frames, calling the sink for every good frame in arrival
// order. A delivery larger than the room left is taken in pieces, each piece
// scanned before the next is appended, so the area is never written past its
// end and no complete, correct frame is lost.
class ReceiveBuffer {
 public:
  using FrameSink = std::function<void(const FrameView&)>;

  void Deliver(const std::uint8_t* bytes, std::size_t count, const FrameSink& sink);
  void ParseFrames(const FrameSink& sink);

  std::size_t fill() const { return fill_; }
  std::span<const std::uint8_t> held() const { return {buffer_.data(), fill_}; }

 private:
  void Compact(std::size_t from);

  std::array<std::uint8_t, kReceiveBufferSize> buffer_{};
  std::size_t fill_ = 0;
};

}  // namespace orvane::link
