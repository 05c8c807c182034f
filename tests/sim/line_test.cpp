// The pieces between the PC's port and the console, without a pty: faults on
// the PC's frames, the adapter's delay, the console's bounded input.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "sim/adapter_delay.h"
#include "sim/console_input.h"
#include "sim/pc_frame_faults.h"
#include "tests/sim/sim_rig.h"

namespace orvane::testing {
namespace {

using link::Command;
using sim::PcFrameFaults;

Bytes Joined(const std::vector<Bytes>& pieces) {
  Bytes all;
  for (const Bytes& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
  return all;
}

// Junk, a frame, a partial sync, a frame: fed whole and byte by byte.
const Bytes kJunk{0x01, 0x5D, 0x02};
const Bytes kPartialSync{0x5D, 0x59, 0x54};
Bytes Stream() {
  Bytes stream = kJunk;
  for (const Bytes& part : {FrameBytes(Command::kDirectory), kPartialSync, FrameBytes(Command::kFileDetails, {3})}) {
    stream.insert(stream.end(), part.begin(), part.end());
  }
  return stream;
}

std::vector<Bytes> PassAll(PcFrameFaults& faults, const Bytes& stream, bool byte_by_byte) {
  if (!byte_by_byte) return faults.Pass(stream);
  std::vector<Bytes> pieces;
  for (std::uint8_t byte : stream) {
    for (Bytes& piece : faults.Pass({&byte, 1})) pieces.push_back(std::move(piece));
  }
  return pieces;
}

TEST(SimLine, FramesPassWholeOrNotAtAllAndOtherBytesPassUntouched) {
  for (const bool byte_by_byte : {false, true}) {
    sim::FaultDice dice(3);
    PcFrameFaults clean(0, 0, dice);
    const auto pieces = PassAll(clean, Stream(), byte_by_byte);
    EXPECT_EQ(Joined(pieces), Stream());
    EXPECT_EQ(std::count(pieces.begin(), pieces.end(), FrameBytes(Command::kDirectory)), 1);
    EXPECT_EQ(std::count(pieces.begin(), pieces.end(), FrameBytes(Command::kFileDetails, {3})), 1);
    EXPECT_EQ(clean.counts().frames, 2);

    PcFrameFaults dropping(1, 0, dice);
    Bytes junk_only = kJunk;
    junk_only.insert(junk_only.end(), kPartialSync.begin(), kPartialSync.end());
    EXPECT_EQ(Joined(PassAll(dropping, Stream(), byte_by_byte)), junk_only);
    EXPECT_EQ(dropping.counts().dropped, 2);

    PcFrameFaults corrupting(0, 1, dice);
    const Bytes damaged = Joined(PassAll(corrupting, Stream(), byte_by_byte));
    ASSERT_EQ(damaged.size(), Stream().size());
    int flipped_bits = 0;
    for (std::size_t i = 0; i < damaged.size(); ++i) flipped_bits += std::popcount<unsigned>(damaged[i] ^ Stream()[i]);
    EXPECT_EQ(flipped_bits, 2);
    EXPECT_EQ(corrupting.counts().corrupted, 2);
  }
}

TEST(SimLine, AdapterDelayIsReproducibleBoundedBelowAndKeepsOrder) {
  using std::chrono::microseconds;
  const auto start = sim::AdapterDelay::Clock::now();
  auto dues = [&](std::uint64_t seed) {
    sim::AdapterDelay adapter(microseconds(500), microseconds(3000), seed);
    for (int i = 0; i < 50; ++i) adapter.Push({static_cast<std::uint8_t>(i)}, start + microseconds(100 * i));
    const auto pieces = adapter.TakeDue(start + std::chrono::seconds(1));
    std::vector<sim::AdapterDelay::Clock::time_point> times;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(pieces[i].bytes, Bytes{static_cast<std::uint8_t>(i)});
      EXPECT_GE(pieces[i].due, pieces[i].sent + microseconds(500));
      if (i > 0) {
        EXPECT_GE(pieces[i].due, pieces[i - 1].due);
      }
      times.push_back(pieces[i].due);
    }
    EXPECT_EQ(times.size(), 50u);
    return times;
  };
  const auto first = dues(7);
  EXPECT_EQ(dues(7), first);
  EXPECT_NE(dues(8), first);
  EXPECT_LE(first.front(), start + microseconds(3500));
}

TEST(SimLine, TheConsolesInputLosesWhatDoesNotFit) {
  sim::ConsoleInput input(sim::AnswerMode::kQueue, 12);
  const Bytes frame = FrameBytes(Command::kDirectory);  // 7 bytes
  const auto now = sim::ConsoleInput::Clock::now();
  input.Reach(frame, now);
  input.Reach(frame, now);
  EXPECT_EQ(input.held(), 12u);
  EXPECT_EQ(input.overflowed(), 2);
  EXPECT_TRUE(input.Take(false).empty());  // queue: nothing between polls
  EXPECT_EQ(input.Take(true).size(), 1u);
  EXPECT_TRUE(input.Take(true).empty());   // the cut-off second frame never completes
}

}  // namespace
}  // namespace orvane::testing
