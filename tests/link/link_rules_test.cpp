// The two rules with state of their own behind the link control: the resend
// time-out and the record of frames in flight.
#include <gtest/gtest.h>

#include "link/commands.h"
#include "link/in_flight.h"
#include "link/retransmit_timer.h"

namespace orvane::link {
namespace {

using us = std::chrono::microseconds;

TEST(RetransmitTimerTest, FollowsTheSmoothedRoundTripWithinFloorAndCeiling) {
  struct Case {
    std::vector<long> samples_us;
    long timeout_us;
  };
  const std::vector<Case> cases = {
      {{}, RetransmitTimer::kInitial.count()},
      {{1000}, 3000},                 // 1000 + 4 * 500
      {{1000, 1000}, 2500},           // deviation 375
      {{1000, 2000}, 1125 + 4 * 625}, // deviation 3/4 * 500 + 1/4 * 1000
      {{10}, RetransmitTimer::kFloor.count()},
      {{5'000'000}, RetransmitTimer::kCeiling.count()},
  };
  for (const Case& c : cases) {
    RetransmitTimer timer;
    for (long sample : c.samples_us) timer.Sample(us(sample));
    EXPECT_EQ(timer.Timeout(), us(c.timeout_us)) << c.samples_us.size() << " samples";
  }
}

TEST(RetransmitTimerTest, BacksOffUpToTheCeilingUntilTheNextSample) {
  RetransmitTimer timer;
  timer.Sample(us(1000));
  timer.BackOff();
  EXPECT_EQ(timer.Timeout(), us(6000));
  for (int i = 0; i < 20; ++i) timer.BackOff();
  EXPECT_EQ(timer.Timeout(), RetransmitTimer::kCeiling);
  timer.Sample(us(1000));
  EXPECT_EQ(timer.Timeout(), us(1000 + 4 * 375));
}

TEST(PromptAnswersTest, AStreakOfAnswersBeforeTheNextPollUntilOneIsLate) {
  PromptAnswers prompt;
  for (int i = 1; i < PromptAnswers::kStreak; ++i) prompt.Answer(true);
  EXPECT_FALSE(prompt.Prompt());
  for (int i = 0; i < 100; ++i) prompt.Answer(true);
  EXPECT_TRUE(prompt.Prompt());
  prompt.Answer(false);
  EXPECT_FALSE(prompt.Prompt());
}

TEST(AnswerKeyTest, EchoingCodesAreKeyedByTheirFirstDataByte) {
  QueueEntry chunk;
  chunk.command = kFirmwareWrite;
  chunk.length = 36;
  chunk.data[0] = 0x20;
  const std::vector<std::uint8_t> answer{0x03, kFirmwareWrite, 0x20, 0x01};
  EXPECT_EQ(RequestKey(chunk), ResponseKey(FrameView(answer)));
  const std::vector<std::uint8_t> other{0x03, kFirmwareWrite, 0x40, 0x01};
  EXPECT_NE(RequestKey(chunk), ResponseKey(FrameView(other)));

  QueueEntry data_chunk;
  data_chunk.command = kFileChunk;
  data_chunk.length = 5;
  data_chunk.data[0] = 0x20;
  const std::vector<std::uint8_t> bare{0x01, kFileChunk};
  EXPECT_EQ(RequestKey(data_chunk), ResponseKey(FrameView(bare))) << "answers to 22 name nothing";
}

TEST(InFlightFramesTest, AnAnswerTakesTheOldestFrameOfItsKeyAndSettlesEverythingBefore) {
  using Clock = InFlightFrames::Clock;
  const Clock::time_point t0{};
  const AnswerKey chunk{kFileChunk, -1}, space{kFreeSpace, -1};
  InFlightFrames frames;
  frames.Record({.key = chunk, .owner = 1, .at = t0});
  frames.Record({.key = space, .owner = 2, .at = t0 + us(1)});
  frames.Record({.key = chunk, .owner = 1, .at = t0 + us(2)});
  frames.Record({.key = space, .owner = 3, .at = t0 + us(3)});
  EXPECT_TRUE(frames.HeldByOther(chunk, 4));
  EXPECT_FALSE(frames.HeldByOther(chunk, 1));
  EXPECT_EQ(frames.CountOf(1), 2u);
  EXPECT_EQ(frames.NewestOf(1)->at, t0 + us(2));

  const auto answered = frames.TakeAnswer(space);
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->owner, 2u);
  EXPECT_EQ(frames.CountOf(1), 1u) << "the chunk sent before it is settled";
  EXPECT_FALSE(frames.TakeAnswer({kDeleteFile, -1}));
  EXPECT_EQ(frames.TakeAnswer(space)->owner, 3u);
  EXPECT_EQ(frames.size(), 0u);
  EXPECT_FALSE(frames.NewestOf(1));
}

TEST(InFlightFramesTest, OldRecordsExpireAndTheRecordStaysBounded) {
  using Clock = InFlightFrames::Clock;
  const Clock::time_point t0{};
  InFlightFrames frames;
  frames.Record({.key = {kDirectory, -1}, .owner = 1, .at = t0});
  frames.Record({.key = {kDirectory, -1}, .owner = 1, .at = t0 + InFlightFrames::kLifetime / 2});
  frames.Expire(t0 + InFlightFrames::kLifetime);
  EXPECT_EQ(frames.size(), 1u);
  for (std::size_t i = 0; i < 2 * InFlightFrames::kCapacity; ++i) frames.Record({.key = {kDirectory, -1}, .owner = 5, .at = t0});
  EXPECT_EQ(frames.size(), InFlightFrames::kCapacity);
}

}  // namespace
}  // namespace orvane::link
