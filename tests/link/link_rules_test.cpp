// The two rules with state of their own behind the link control: the resend
// time-out and the record of frames in flight.
#include <gtest/gtest.h>

#include <algorithm>

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

// The back-off doubles the time-out up to twice the largest recent answer
// time plus the margin, never below the computed time-out, and not at all
// while nothing has been measured; a fresh sample resets it.
TEST(RetransmitTimerTest, BacksOffOnlyUpToTwiceTheLargestRecentAnswerTime) {
  struct Case {
    std::vector<long> samples_us;
    int back_offs;
    long timeout_us;
  };
  const long margin = RetransmitTimer::kMargin.count();
  const std::vector<Case> cases = {
      {{}, 1, RetransmitTimer::kInitial.count()},
      {{}, 20, RetransmitTimer::kInitial.count()},
      {{1000}, 1, std::min(6000L, 2000 + margin)},
      {{1000}, 20, 2000 + margin},
      {{1000, 4000, 1000}, 20, 8000 + margin},
      {{10}, 20, 20 + margin},
      {{400'000}, 20, RetransmitTimer::kCeiling.count()},
  };
  for (const Case& c : cases) {
    RetransmitTimer timer;
    for (long sample : c.samples_us) timer.Sample(us(sample));
    for (int i = 0; i < c.back_offs; ++i) timer.BackOff();
    EXPECT_EQ(timer.Timeout(), us(c.timeout_us)) << c.samples_us.size() << " samples, " << c.back_offs;
  }
  RetransmitTimer timer;
  timer.Sample(us(1000));
  for (int i = 0; i < 20; ++i) timer.BackOff();
  timer.Sample(us(1000));
  EXPECT_EQ(timer.Timeout(), us(1000 + 4 * 375)) << "a fresh sample resets the back-off";
  // A slow answer long ago no longer bounds the back-off once kRecent newer
  // ones have come.
  timer.Sample(us(50'000));
  for (std::size_t i = 0; i < RetransmitTimer::kRecent; ++i) timer.Sample(us(1000));
  EXPECT_EQ(timer.BackOffLimit(), us(2000 + margin));
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

// Records dropped by age or by count are forgotten, not settled: their keys
// are unknown until answers have accounted for them. An answer with an
// unknown key settles nothing; one to a recorded frame of a known key
// settles every forgotten frame, all of which were sent before it.
TEST(InFlightFramesTest, ForgottenRecordsLeaveTheirKeysUnknownUntilAnAnswerSettlesThem) {
  using Clock = InFlightFrames::Clock;
  const Clock::time_point t0{};
  const AnswerKey directory{kDirectory, -1}, remove{kDeleteFile, -1}, space{kFreeSpace, -1};
  InFlightFrames frames;
  frames.Record({.key = directory, .owner = 1, .at = t0});
  frames.Record({.key = directory, .owner = 1, .at = t0 + InFlightFrames::kLifetime / 2});
  frames.Expire(t0 + InFlightFrames::kLifetime);
  EXPECT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames.Unknown(directory));
  EXPECT_FALSE(frames.TakeAnswer(directory)) << "may be the forgotten frame's answer";
  EXPECT_FALSE(frames.Unknown(directory));
  EXPECT_EQ(frames.size(), 1u) << "and settles nothing";
  EXPECT_EQ(frames.TakeAnswer(directory)->owner, 1u);

  for (std::size_t i = 0; i < 2 * InFlightFrames::kCapacity; ++i) {
    frames.Record({.key = i < 3 ? remove : directory, .owner = 5, .at = t0});
  }
  EXPECT_EQ(frames.size(), InFlightFrames::kCapacity);
  EXPECT_TRUE(frames.Unknown(remove));
  EXPECT_EQ(frames.forgotten(), InFlightFrames::kCapacity);
  frames.Record({.key = space, .owner = 6, .at = t0});
  EXPECT_EQ(frames.TakeAnswer(space)->owner, 6u);
  EXPECT_FALSE(frames.Unknown(remove));
  EXPECT_FALSE(frames.Unknown(directory));
  EXPECT_EQ(frames.forgotten(), 0u);
}

}  // namespace
}  // namespace orvane::link
