// Faults of the console: reproducible by seed, and harmless to a PC that
// resends its head until it is answered.
#include <gtest/gtest.h>

#include <thread>

#include "tests/sim/sim_rig.h"

namespace orvane::testing {
namespace {

using link::Command;

std::vector<bool> AnsweredPattern(std::uint64_t seed, int exchanges) {
  auto options = Responsive();
  options.drop = 0.5;
  options.seed = seed;
  Rig rig(options);
  std::vector<bool> answered;
  for (int i = 0; i < exchanges; ++i) answered.push_back(rig.pc.Exchange(Command::kDirectory).has_value());
  return answered;
}

TEST(SimFaults, DroppedAnswersFollowTheSeed) {
  const auto first = AnsweredPattern(7, 24);
  EXPECT_EQ(AnsweredPattern(7, 24), first);
  EXPECT_NE(AnsweredPattern(8, 24), first);
  EXPECT_NE(std::count(first.begin(), first.end(), true), 0);
  EXPECT_NE(std::count(first.begin(), first.end(), false), 0);
}

// The PC never answers, so the stream is the console's alone.
Bytes UnansweredStream(double corrupt, double noise, std::uint64_t seed) {
  sim::SimOptions options;
  options.reply_window_us = 1'000;
  options.poll_interval_us = 0;
  options.corrupt = corrupt;
  options.noise = noise;
  options.seed = seed;
  Rig rig(options);
  return rig.pc.ReadRaw(350, milliseconds(3000));
}

std::size_t GoodPolls(const Bytes& stream) {
  link::ReceiveBuffer receive;
  std::size_t polls = 0;
  receive.Deliver(stream.data(), stream.size(), [&](const link::FrameView& frame) {
    polls += frame.command() == link::kPoll;
  });
  return polls;
}

TEST(SimFaults, CorruptedFramesFollowTheSeedAndFailTheirChecksum) {
  const Bytes first = UnansweredStream(0.3, 0, 11);
  ASSERT_EQ(first.size(), 350u);
  EXPECT_EQ(UnansweredStream(0.3, 0, 11), first);
  EXPECT_NE(UnansweredStream(0.3, 0, 12), first);
  const std::size_t good = GoodPolls(first);
  EXPECT_LT(good, 45u);
  EXPECT_GT(good, 20u);
}

TEST(SimFaults, NoiseFollowsTheSeedAndLeavesThePollsIntact) {
  const Bytes first = UnansweredStream(0, 0.5, 21);
  ASSERT_EQ(first.size(), 350u);
  EXPECT_EQ(UnansweredStream(0, 0.5, 21), first);
  const std::size_t good = GoodPolls(first);
  EXPECT_LT(good * 7, 340u);  // some of the bytes are noise
  EXPECT_GE(good, 350u / (7 + 8) - 1);
}

// A whole upload, a reflash and a delete through lost, flipped and noisy
// frames: the device ends with exactly what was sent, nothing twice.
TEST(SimFaults, AResendingPcGetsExactlyItsContentThroughAllFaults) {
  auto options = Responsive();
  options.reply_window_us = 30'000;
  options.drop = 0.3;
  options.corrupt = 0.1;
  options.noise = 0.2;
  options.seed = 5;
  Rig rig(options);
  const Bytes data = Pattern(70, 3);
  const Bytes name = Ascii("C:\\plan.yp1");
  const std::uint16_t start = static_cast<std::uint16_t>(7 + name.size());

  ASSERT_TRUE(rig.pc.Insist(Command::kCreateFile, FileHeader(2, Ascii("old.yp1"), 1)));
  ASSERT_TRUE(rig.pc.Insist(Command::kCreateFile, FileHeader(2, name, 70)));
  for (std::uint16_t p = 0; p < 70; p += 32) {
    const Bytes piece(data.begin() + p, data.begin() + std::min<std::uint16_t>(70, p + 32));
    ASSERT_TRUE(rig.pc.Insist(Command::kFileChunk, Chunk(static_cast<std::uint16_t>(start + p), piece)));
  }
  ASSERT_TRUE(rig.pc.Insist(Command::kDeleteFile, {0}));
  const Bytes image = Pattern(64, 40);
  for (std::uint16_t o : {0, 32}) {
    ASSERT_TRUE(rig.pc.Insist(Command::kFirmwareWrite, Chunk(o, Bytes(image.begin() + o, image.begin() + o + 32))));
  }
  for (std::uint16_t o : {0, 32}) {
    auto answer = rig.pc.Insist(Command::kFirmwareVerify, Chunk(o, Bytes(image.begin() + o, image.begin() + o + 32)));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data, (Bytes{static_cast<std::uint8_t>(o), 0, 0}));
  }

  const auto state = rig.simulator.State();
  ASSERT_EQ(state.files.size(), 1u);
  EXPECT_EQ(state.files[0].name, name);
  EXPECT_EQ(state.files[0].data, data);
  EXPECT_EQ(state.firmware, image);
}

TEST(SimFaults, SilentAfterStopsPollingButKeepsRunning) {
  auto options = Responsive();
  options.reply_window_us = 5'000;
  options.silent_after = 3;
  Rig rig(options);
  const Bytes stream = rig.pc.ReadRaw(100, milliseconds(400));
  EXPECT_EQ(GoodPolls(stream), 3u);
  EXPECT_EQ(stream.size(), 21u);
  EXPECT_TRUE(rig.simulator.Running());
  EXPECT_EQ(rig.simulator.Stats().polls, 3);
}

TEST(SimFaults, HangupAfterLooksLikeAPulledCableToThePc) {
  auto options = Responsive();
  options.reply_window_us = 5'000;
  options.hangup_after = 2;
  Rig rig(options);
  ASSERT_TRUE(rig.pc.NextPoll(milliseconds(2000)));
  ASSERT_TRUE(rig.pc.NextPoll(milliseconds(2000)));
  EXPECT_TRUE(rig.pc.WaitHangup(milliseconds(2000)));
  EXPECT_FALSE(rig.pc.NextPoll(milliseconds(50)));
  const auto deadline = Clock::now() + milliseconds(2000);
  while (rig.simulator.Running() && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
  EXPECT_FALSE(rig.simulator.Running());
  EXPECT_EQ(rig.simulator.Stats().polls, 2);
}

}  // namespace
}  // namespace orvane::testing
