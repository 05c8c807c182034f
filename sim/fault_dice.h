// All fault decisions of the console come from one seeded generator, drawn in
// the order the console meets them, so the same seed and the same PC give the
// same faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>

namespace orvane::sim {

class FaultDice {
 public:
  explicit FaultDice(std::uint64_t seed) : engine_(seed) {}

  // A probability of 0 draws nothing, so switching one fault off leaves the
  // sequence of the others as it was.
  bool Roll(double probability) {
    if (probability <= 0) return false;
    return static_cast<double>(engine_() >> 11) * 0x1.0p-53 < probability;
  }
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(engine_() % bound); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(engine_()); }
  std::uint64_t Draw() { return engine_(); }

  // Flips one bit of one byte; the frame's checksum then shows it.
  void FlipOneBit(std::span<std::uint8_t> bytes) {
    bytes[Below(bytes.size())] ^= static_cast<std::uint8_t>(1u << Below(8));
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace orvane::sim
