// Which firmware chunk a failed verification is about. A verify answer
// echoes only the low byte of its chunk's offset, and the link control drops
// the whole queue on the first one that reports a difference; the chunk is
// the latest one sent whose offset has that low byte. One chunk is in flight
// at a time and the chunks before it were all answered equal, so that is the
// head the answer matched, or, for an answer to an earlier copy, the chunk
// that copy carried.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "link/frame.h"

namespace orvane::cli {

class VerifyWatch {
 public:
  void FrameSent(std::span<const std::uint8_t> frame);  // sync to checksum
  void FrameReceived(const link::FrameView& frame);

  // The offset of the first chunk the device reported as different.
  std::optional<std::uint16_t> first_difference() const { return difference_; }
  // A difference was reported about no chunk that was sent.
  bool unexplained() const { return unexplained_; }

 private:
  std::deque<std::uint16_t> sent_;  // latest last; at most one per low byte
  std::optional<std::uint16_t> difference_;
  bool unexplained_ = false;
};

}  // namespace orvane::cli
