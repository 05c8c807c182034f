#include "cli/verify_watch.h"

#include <algorithm>

#include "link/commands.h"

namespace orvane::cli {
namespace {

// Offsets are multiples of 32, so eight chunks in a row have eight different
// low bytes; an older chunk can no longer be told from a newer one.
constexpr std::size_t kDistinguishable = 8;

}  // namespace

void VerifyWatch::FrameSent(std::span<const std::uint8_t> frame) {
  if (frame.size() < link::kMinFrameSize + 2 || frame[5] != link::kFirmwareVerify) return;
  const auto offset = static_cast<std::uint16_t>(frame[6] | (frame[7] << 8));
  std::erase(sent_, offset);
  sent_.push_back(offset);
  if (sent_.size() > kDistinguishable) sent_.pop_front();
}

void VerifyWatch::FrameReceived(const link::FrameView& frame) {
  if (frame.command() != link::kFirmwareVerify || !frame.has_data(3) || frame.data(2) == 0) return;
  if (difference_ || unexplained_) return;
  const auto match = std::find_if(sent_.rbegin(), sent_.rend(),
                                  [&](std::uint16_t offset) { return (offset & 0xFF) == frame.data(0); });
  if (match == sent_.rend()) {
    unexplained_ = true;
  } else {
    difference_ = *match;
  }
}

}  // namespace orvane::cli
