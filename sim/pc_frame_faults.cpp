#include "sim/pc_frame_faults.h"

#include <algorithm>

#include "link/frame.h"

namespace orvane::sim {
namespace {

// True when the bytes agree with the sync as far as they go.
bool MaySync(std::span<const std::uint8_t> bytes) {
  const std::size_t compared = std::min(bytes.size(), link::kSync.size());
  return std::equal(bytes.begin(), bytes.begin() + static_cast<long>(compared), link::kSync.begin());
}

}  // namespace

// The same scan as the receive side's: a frame needs its sync, all of its
// L + 6 bytes and a matching checksum; anything else moves on by one byte.
std::vector<PcFrameFaults::Bytes> PcFrameFaults::Pass(std::span<const std::uint8_t> bytes) {
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  std::vector<Bytes> out;
  bool in_run = false;
  const auto pass_byte = [&](std::uint8_t byte) {
    if (!in_run) out.emplace_back();
    out.back().push_back(byte);
    in_run = true;
  };
  std::size_t p = 0;
  while (p < held_.size()) {
    const std::span<std::uint8_t> rest(held_.data() + p, held_.size() - p);
    if (!MaySync(rest)) {
      pass_byte(held_[p++]);
      continue;
    }
    if (rest.size() < link::kMinFrameSize) break;
    const std::size_t size = std::size_t{rest[4]} + link::kFrameOverhead;
    if (rest.size() < size) break;
    if (!link::CheckFrame(rest.data())) {
      pass_byte(held_[p++]);
      continue;
    }
    PassFrame(rest.first(size), out);
    in_run = false;
    p += size;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<long>(p));
  return out;
}

void PcFrameFaults::PassFrame(std::span<std::uint8_t> frame, std::vector<Bytes>& out) {
  ++counts_.frames;
  if (dice_.Roll(drop_)) {
    ++counts_.dropped;
    return;
  }
  if (dice_.Roll(corrupt_)) {
    ++counts_.corrupted;
    dice_.FlipOneBit(frame);
  }
  out.emplace_back(frame.begin(), frame.end());
}

}  // namespace orvane::sim
