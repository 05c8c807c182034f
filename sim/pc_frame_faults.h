// Faults on the line from the PC to the console. The PC only ever sends
// well-formed frames, so its stream can be cut into those frames and a fault
// decided once per frame: the frame is lost whole, or one bit of one of its
// bytes is flipped. Bytes that are not part of a good frame pass untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/fault_dice.h"

namespace orvane::sim {

class PcFrameFaults {
 public:
  struct Counts {
    long frames = 0;  // good frames seen, before any fault
    long dropped = 0;
    long corrupted = 0;
  };

  PcFrameFaults(double drop, double corrupt, FaultDice& dice)
      : drop_(drop), corrupt_(corrupt), dice_(dice) {}

  using Bytes = std::vector<std::uint8_t>;

  // Takes the bytes read from the PC and returns those that go on down the
  // line, in order, in pieces: each frame that passes is a piece of its own,
  // other bytes come in runs. A run that may still be the start of a frame is
  // held until it is complete (or shows it is none), so a frame goes on whole.
  std::vector<Bytes> Pass(std::span<const std::uint8_t> bytes);

  const Counts& counts() const { return counts_; }
  // Loses a frame half sent (the console left the line).
  void Clear() { held_.clear(); }

 private:
  void PassFrame(std::span<std::uint8_t> frame, std::vector<Bytes>& out);

  double drop_;
  double corrupt_;
  FaultDice& dice_;
  Bytes held_;
  Counts counts_;
};

}  // namespace orvane::sim
