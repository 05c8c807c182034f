#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "device/session.h"
#include "tests/support/recording_host.h"

namespace orvane::link {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using orvane::testing::Frame;
using orvane::testing::kPollFrame;

class LinkControlTest : public ::testing::Test {
 public:
  using Clock = LinkControl::Clock;

  LinkControlTest() {
    host.session = &session;
    link().SetClock([this] { return now; });
  }
  void Advance(Clock::duration step) { now += step; }
  // Past any resend time-out the link can hold.
  void AdvancePastTimeout() { Advance(RetransmitTimer::kCeiling + std::chrono::microseconds(1)); }

  void Receive(const Bytes& bytes) { session.link().ReceiveData(bytes.data(), bytes.size()); }
  void Poll() { Receive(kPollFrame); }
  LinkControl& link() { return session.link(); }
  // The first poll starts the automatic refresh; take it out of the way.
  void Connect() {
    Poll();
    link().ClearQueue();
    host.log.clear();
    host.written.clear();
    host.outcomes.clear();
  }
  void Enqueue(std::uint8_t command, const Bytes& data) { link().Enqueue(command, data); }
  Bytes LastWritten() const { return host.written.empty() ? Bytes{} : host.written.back(); }

  testing::RecordingHost host;
  device::Session session{host};
  Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
};

TEST_F(LinkControlTest, FirstPollRefreshesOnceAndEveryPollRearmsTheWatchdog) {
  Poll();
  EXPECT_TRUE(host.written.empty()) << "the queue was empty when the poll came";
  EXPECT_THAT(host.log, ElementsAre(kLogConnected, device::kLogRefresh));
  EXPECT_TRUE(link().LinkConnected());
  ASSERT_EQ(link().queue().size(), 1u);
  EXPECT_EQ(link().queue().head().command, kDirectory);
  const int starts = host.watchdog_starts;
  Poll();
  AdvancePastTimeout();
  Poll();
  EXPECT_EQ(host.log.size(), 2u) << "no second refresh";
  EXPECT_EQ(host.watchdog_starts, starts + 2);
  EXPECT_EQ(host.written.size(), 2u);
}

// Stop and wait: a poll while the head is in flight and young sends nothing;
// once the resend time-out has passed, the head goes out again. Firmware
// chunks, whose answers name their offset, go out on every poll, a few copies
// at most.
TEST_F(LinkControlTest, HeadIsResentOnlyAfterTheTimeOutButChunksOnEveryPoll) {
  Connect();
  link().Enqueue(kFileDetails, Bytes{3}, 2);
  Poll();
  Poll();
  Poll();
  ASSERT_EQ(host.written.size(), 1u);
  AdvancePastTimeout();
  Poll();
  ASSERT_EQ(host.written.size(), 2u);
  for (const Bytes& f : host.written) EXPECT_EQ(f, BuildFrame(kFileDetails, Bytes{3}));
  EXPECT_EQ(link().head_sends(), 2u);
  Receive(Frame(kFileDetails, {3, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(link().queue().empty());

  host.written.clear();
  link().Enqueue(kFirmwareWrite, Bytes(35, 0x40), 36);
  for (int i = 0; i < 10; ++i) Poll();
  EXPECT_EQ(host.written.size(), LinkControl::kMaxQuickCopies);
  AdvancePastTimeout();  // copies the device dropped are never answered
  Poll();
  EXPECT_EQ(host.written.size(), LinkControl::kMaxQuickCopies + 1);
  Receive(Frame(kFirmwareWrite, {0x40}));
  EXPECT_TRUE(link().queue().empty());
}

TEST_F(LinkControlTest, EnqueueTracksProgressAndRefusesLengthsThatDoNotFit) {
  Connect();
  EXPECT_TRUE(link().Enqueue(kFileChunk, Bytes(249), 250));
  EXPECT_TRUE(link().Enqueue(kEraseAll, {}, 1));
  EXPECT_EQ(host.progress_maximum, 2);
  EXPECT_EQ(host.progress_position, 2);
  EXPECT_EQ(host.counter, "Очередь команд: 2.");
  EXPECT_FALSE(link().Enqueue(kFileChunk, Bytes(250), 251));
  EXPECT_FALSE(link().Enqueue(kFileChunk, {}, 0));
  EXPECT_FALSE(link().Enqueue(kFileChunk, Bytes(2), 5)) << "data shorter than L - 1";
  EXPECT_EQ(link().queue().size(), 2u);
}

TEST_F(LinkControlTest, PoppingTheLastEntryFinishesAndClosesOnce) {
  Connect();
  link().Enqueue(kEraseAll, {}, 1);
  link().Enqueue(kDeleteFile, Bytes{0}, 2);
  Poll();
  Receive(Frame(kEraseAll));
  EXPECT_EQ(link().queue().size(), 2u) << "delete, then the refresh the erase queued";
  EXPECT_EQ(link().queue().at(1).command, kDirectory);
  Poll();  // the erase changed the directory: the count before the delete
  Receive(Frame(kDirectory, {0}));
  Poll();
  Receive(Frame(kDeleteFile));
  Poll();
  Receive(Frame(kDirectory, {0}));  // 0 files: free space and constants follow
  Poll();
  Receive(Frame(kFreeSpace, {0x10, 0x27}));
  EXPECT_EQ(host.closes, 0);
  Poll();
  Bytes block(34, 0);
  block[0] = 2;
  block[2] = 31;
  Receive(Frame(kConstantsRead, block));
  EXPECT_THAT(host.log, ElementsAre(kLogDone));
  EXPECT_EQ(host.closes, 1);
  EXPECT_EQ(host.counter, "Очередь команд: 0.");
}

TEST_F(LinkControlTest, BlockResponsesPopOnlyWhenTheFirstDataByteMatches) {
  Connect();
  link().Enqueue(kFirmwareWrite, Bytes{0x20, 0x01, 0x20}, 4);
  Poll();
  Receive(Frame(kFirmwareWrite, {0x21}));
  EXPECT_EQ(link().queue().size(), 1u);
  Receive(Frame(kFirmwareVerify, {0x20}));
  EXPECT_EQ(link().queue().size(), 1u) << "wrong code";
  Receive(Frame(kFirmwareWrite, {0x20}));
  EXPECT_TRUE(link().queue().empty());
}

TEST_F(LinkControlTest, VerifyErrorIsLoggedAndClearsTheQueueEvenWithoutAMatch) {
  Connect();
  link().Enqueue(kConstantsVerify, Bytes(34, 2), 35);
  link().Enqueue(kDirectory, {}, 1);
  Receive(Frame(kConstantsVerify, {0x07, 0, 1}));
  EXPECT_THAT(host.log, ElementsAre(kLogVerifyError, kLogQueueCleared));
  EXPECT_TRUE(link().queue().empty());
}

TEST_F(LinkControlTest, GoodVerifyStatusOnlyPops) {
  Connect();
  link().Enqueue(kFirmwareVerify, Bytes{0, 0}, 3);
  link().Enqueue(kDirectory, {}, 1);
  Poll();
  Receive(Frame(kFirmwareVerify, {0, 0, 0}));
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(link().queue().size(), 1u);
}

TEST_F(LinkControlTest, FileResponsesForAnotherHeadAreIgnored) {
  Connect();
  link().Enqueue(kFreeSpace, {}, 1);
  Receive(Frame(kFileDetails, {0, 0, 2, 0, 5, 0, 1, 'a'}));
  EXPECT_EQ(link().queue().size(), 1u);
  EXPECT_EQ(device::DisplayTable(session.model().directory).cell(1, 1), "");
  EXPECT_TRUE(host.log.empty());
}

TEST_F(LinkControlTest, UnusedCodesHaveNoEffectAtAll) {
  Connect();
  link().Enqueue(kDirectory, {}, 1);
  const int starts = host.watchdog_starts;
  for (std::uint8_t code : {6, 7, 15, 23, 30, 255}) Receive(Frame(code, {0, 0, 0}));
  Receive({0x5D, 0x59, 0x54, 0x57, 0x00, 0x9E, 0x00});  // L = 0
  EXPECT_EQ(link().queue().size(), 1u);
  EXPECT_EQ(host.watchdog_starts, starts);
  EXPECT_TRUE(host.written.empty());
  EXPECT_TRUE(host.log.empty());
}

TEST_F(LinkControlTest, ClearQueueOnEmptyQueueOnlyRewritesTheCounter) {
  host.counter = "Очередь команд:";
  link().ClearQueue();
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(host.counter, "Очередь команд: 0.");
  link().Enqueue(kEraseAll, {}, 1);
  link().ClearQueue();
  EXPECT_THAT(host.log, ElementsAre(kLogQueueCleared));
  EXPECT_EQ(host.progress_position, 0);
}

TEST_F(LinkControlTest, WatchdogExpiryLogsClosesClearsAndStops) {
  link().Enqueue(kEraseAll, {}, 1);
  link().WatchdogExpired();
  EXPECT_THAT(host.log, ElementsAre(kLogNotConnected, kLogQueueCleared));
  EXPECT_EQ(host.closes, 1);
  EXPECT_FALSE(host.watchdog_running);
}

TEST_F(LinkControlTest, FailedWriteIsRetriedAtTheNextPoll) {
  Connect();
  link().Enqueue(kFileDetails, Bytes{1}, 2);
  host.write_succeeds = false;
  Poll();
  EXPECT_EQ(link().head_sends(), 0u);
  host.write_succeeds = true;
  Poll();
  EXPECT_EQ(host.written.size(), 1u);
}

// Short answers of every code: nothing past the frame is read, a short answer
// never pops and never counts as a good status, and the head goes out again.
TEST_F(LinkControlTest, ShortResponsesNeverPopAndTheHeadIsResent) {
  struct Case {
    std::uint8_t code;
    Bytes request;
    Bytes short_answer;
  };
  const std::vector<Case> cases = {
      {kFirmwareWrite, Bytes{0, 0, 32}, {}},
      {kFirmwareVerify, Bytes{0, 0, 32}, {0, 0}},
      {kConstantsWrite, Bytes(34, 0), {}},
      {kConstantsVerify, Bytes(34, 0), {2}},
      {kConstantsRead, Bytes(34, 0), Bytes(33, 0)},
      {kDirectory, {}, {}},
      {kFileDetails, Bytes{0}, {0, 0, 2, 0, 5, 0}},
      {kFileDetails, Bytes{0}, {0, 0, 2, 0, 5, 0, 9, 'a', 'b'}},
      {kFreeSpace, {}, {0x10}},
  };
  for (const Case& c : cases) {
    testing::RecordingHost h;
    device::Session s{h};
    h.session = &s;
    s.link().Enqueue(c.code, c.request);
    s.link().Enqueue(kDeleteFile, Bytes{1});
    s.link().SendHead();
    const Bytes answer = Frame(c.code, c.short_answer);
    s.link().ReceiveData(answer.data(), answer.size());
    EXPECT_EQ(s.link().queue().size(), 2u) << "code " << int{c.code};
    EXPECT_EQ(s.link().queue().head().command, c.code);
    EXPECT_TRUE(h.log.empty()) << "code " << int{c.code};
    EXPECT_EQ(device::DisplayTable(s.model().directory).row_count(), 2);
  }
}

// A resend that turns out needless leaves a copy in flight whose answer is
// as good as the first one's. Chunk 1 must not go out while that answer may
// still come, or the copy's answer would pop chunk 1 unsent; a barrier
// settles the copy, and every chunk popped has reached the line first.
TEST_F(LinkControlTest, NeedlessResendHoldsTheNextChunkUntilABarrierSettlesTheCopy) {
  Connect();
  for (std::uint8_t i = 0; i < 3; ++i) link().Enqueue(kFileChunk, Bytes{i, 0, 1, i});
  Poll();
  AdvancePastTimeout();
  Poll();                      // chunk 0 twice
  Receive(Frame(kFileChunk));  // the first answer pops chunk 0
  ASSERT_EQ(link().queue().head().data[0], 1);
  Poll();
  EXPECT_EQ(LastWritten(), BuildFrame(kFreeSpace, {})) << "a barrier, not chunk 1";
  Poll();
  EXPECT_EQ(host.written.size(), 3u) << "the young barrier is not repeated";
  Receive(Frame(kFileChunk));  // the copy's answer
  EXPECT_EQ(link().queue().size(), 2u) << "chunk 1 has not gone out";
  Receive(Frame(kFreeSpace, {0x10, 0x27}));
  EXPECT_EQ(session.model().free_space, device::kInitialFreeSpace) << "the barrier fills nothing";
  for (std::uint8_t i = 1; i < 3; ++i) {
    Poll();
    EXPECT_EQ(LastWritten(), BuildFrame(kFileChunk, Bytes{i, 0, 1, i}));
    Receive(Frame(kFileChunk));
  }
  EXPECT_THAT(host.log, ElementsAre(kLogDone));
}

// With the first answer to every chunk lost, each chunk costs one resend and
// one barrier (the link cannot know that the copy's answer will not come),
// to the end: no debt builds up and nothing stalls.
TEST_F(LinkControlTest, LostAnswersCostOneResendAndOneBarrierEachAndNeverStall) {
  Connect();
  constexpr std::size_t kChunks = 50;
  for (std::size_t i = 0; i < kChunks; ++i) {
    link().Enqueue(kFileChunk, Bytes{static_cast<std::uint8_t>(i), 0, 1, 0});
  }
  for (std::size_t i = 0; i < kChunks; ++i) {
    Poll();  // answer lost
    AdvancePastTimeout();
    Poll();
    Receive(Frame(kFileChunk));
    if (i + 1 == kChunks) break;
    Poll();
    ASSERT_EQ(LastWritten(), BuildFrame(kFreeSpace, {}));
    Receive(Frame(kFreeSpace, {0, 0}));
  }
  EXPECT_TRUE(link().queue().empty());
  EXPECT_EQ(host.written.size(), 3 * kChunks - 1);
  EXPECT_THAT(host.log, ElementsAre(kLogDone));
}

TEST_F(LinkControlTest, EveryHeadSentOnceCostsNothingExtra) {
  Connect();
  for (std::uint8_t i = 0; i < 3; ++i) link().Enqueue(kFileChunk, Bytes{i, 0, 1, i});
  for (int i = 0; i < 3; ++i) {
    Poll();
    Receive(Frame(kFileChunk));
  }
  EXPECT_TRUE(link().queue().empty());
  EXPECT_EQ(host.written.size(), 3u);
}

// An answer of another key that comes after a copy settles it: the details
// request behind the directory request goes out without a barrier.
TEST_F(LinkControlTest, AnAnswerToALaterFrameSettlesEarlierCopies) {
  const Bytes details{0, 0, 0, 0, 0, 0, 0};
  Connect();
  link().Enqueue(kFileDetails, Bytes{0});
  link().Enqueue(kDirectory, {});
  link().Enqueue(kFileDetails, Bytes{1});
  Poll();
  AdvancePastTimeout();
  Poll();
  Receive(Frame(kFileDetails, details));  // one copy's answer may still come
  Poll();
  Receive(Frame(kDirectory, {0}));
  ASSERT_EQ(link().queue().head().command, kFileDetails);
  Poll();
  EXPECT_EQ(LastWritten(), BuildFrame(kFileDetails, Bytes{1}));
  Receive(Frame(kFileDetails, details));
  EXPECT_NE(link().queue().head().command, kFileDetails);
}

// Polls parsed from one delivery (after the user-interface thread was busy)
// are answered once, and only when no other frame followed them: the device
// has gone past a poll that it answered something after.
TEST_F(LinkControlTest, PollsOfOneDeliveryAreAnsweredOnceAndOnlyIfLast) {
  Connect();
  link().Enqueue(kEraseAll, {});
  link().Enqueue(kFileChunk, Bytes{8, 0, 1, 7});
  Bytes burst;
  for (int i = 0; i < 5; ++i) burst.insert(burst.end(), kPollFrame.begin(), kPollFrame.end());
  Receive(burst);
  ASSERT_EQ(host.written.size(), 1u);
  Bytes poll_then_answer = kPollFrame;
  const Bytes answer = Frame(kEraseAll);
  poll_then_answer.insert(poll_then_answer.end(), answer.begin(), answer.end());
  Receive(poll_then_answer);
  EXPECT_EQ(host.written.size(), 1u) << "the poll was followed by the answer";
  EXPECT_EQ(link().queue().head().command, kFileChunk);
  Bytes answer_then_poll = Frame(kEraseAll);  // a late copy would come first
  answer_then_poll.insert(answer_then_poll.end(), kPollFrame.begin(), kPollFrame.end());
  Receive(answer_then_poll);
  EXPECT_EQ(LastWritten(), BuildFrame(kFileChunk, Bytes{8, 0, 1, 7}));
}

// The resend time-out follows the measured answer time: an answer after
// 2 ms makes the time-out 2 + 4 * 1 ms.
TEST_F(LinkControlTest, TheResendTimeOutFollowsTheMeasuredAnswerTime) {
  Connect();
  link().Enqueue(kEraseAll, {});
  link().Enqueue(kDirectory, {});
  Poll();
  Advance(std::chrono::milliseconds(2));
  Receive(Frame(kEraseAll));
  EXPECT_EQ(link().retransmit_timer().Timeout(), std::chrono::milliseconds(6));
  Poll();
  Advance(std::chrono::microseconds(5999));
  Poll();
  EXPECT_EQ(host.written.size(), 2u);
  Advance(std::chrono::microseconds(1));
  Poll();
  EXPECT_EQ(host.written.size(), 3u);
}

// Once the device has answered 16 frames before its next poll, a poll that
// finds the head unanswered means a loss: the head goes out again at once,
// unless it is a delete or a create, whose count is read instead. An answer
// that comes after a later poll ends that until the next streak.
TEST_F(LinkControlTest, APromptDeviceGetsTheHeadAgainAtTheNextPollUntilAnAnswerIsLate) {
  Connect();
  const auto chunks = [this](int count) {
    for (int i = 0; i < count; ++i) link().Enqueue(kFileChunk, Bytes{static_cast<std::uint8_t>(i), 0, 1, 0});
  };
  chunks(PromptAnswers::kStreak + 2);
  link().Enqueue(kDeleteFile, Bytes{0});
  link().Enqueue(kFileChunk, Bytes{0, 1, 1, 0});
  for (int i = 0; i < PromptAnswers::kStreak; ++i) {
    Poll();
    Receive(Frame(kFileChunk));
  }
  EXPECT_TRUE(link().prompt());
  Poll();
  Poll();  // its answer was lost
  EXPECT_EQ(host.written.size(), PromptAnswers::kStreak + 2u);
  Receive(Frame(kFileChunk));
  Poll();  // the copy is still in flight: a barrier
  ASSERT_EQ(LastWritten(), BuildFrame(kFreeSpace, {}));
  Receive(Frame(kFreeSpace, {0, 0}));
  Poll();
  Receive(Frame(kFileChunk));
  Poll();  // the delete: the count before it first
  ASSERT_EQ(LastWritten(), BuildFrame(kDirectory, {}));
  Receive(Frame(kDirectory, {1}));
  Poll();
  ASSERT_EQ(LastWritten(), BuildFrame(kDeleteFile, Bytes{0}));
  Poll();  // its answer is late or lost: the count, not the delete again
  EXPECT_EQ(LastWritten(), BuildFrame(kDirectory, {}));
  const std::size_t written = host.written.size();
  Receive(Frame(kDeleteFile));  // late, not lost
  Receive(Frame(kDirectory, {0}));
  Poll();  // the probe's copy holds nothing back: the chunk's key differs
  EXPECT_EQ(LastWritten(), BuildFrame(kFileChunk, Bytes{0, 1, 1, 0}));
  EXPECT_EQ(host.written.size(), written + 1);
  Bytes poll_then_answer = kPollFrame;
  const Bytes answer = Frame(kFileChunk);
  poll_then_answer.insert(poll_then_answer.end(), answer.begin(), answer.end());
  Receive(poll_then_answer);  // answered after the device polled again
  EXPECT_FALSE(link().prompt());
  chunks(1);
  Poll();
  Poll();
  EXPECT_EQ(host.written.size(), written + 2) << "withheld: the time-out rules again";
}

// A late copy of an answer never changes the next operation: not the
// constants read (whose answer clears the queue), not a failed verification,
// not a create (whose answer queues a refresh).
TEST_F(LinkControlTest, LateCopiesNeverChangeTheNextOperation) {
  Bytes block(34, 0);
  block[0] = 2;
  block[2] = 31;
  struct Case {
    std::uint8_t code;
    Bytes request, answer;
  };
  const std::vector<Case> cases = {
      {kConstantsRead, block, block},
      {kConstantsVerify, block, {2, 0, 1}},
      {kCreateFile, Bytes{2, 0, 8, 0, 1, 'a', 0, 0}, {}},
      {kEraseAll, {}, {}},
  };
  for (const Case& c : cases) {
    Connect();
    link().Enqueue(c.code, c.request);
    Poll();
    if (c.code == kCreateFile) {  // the count before it, then the create itself
      Receive(Frame(kDirectory, {0}));
      Poll();
    }
    AdvancePastTimeout();
    Poll();
    Receive(Frame(c.code, c.code == kConstantsVerify ? Bytes{2, 0, 0} : c.answer));
    while (!link().queue().empty()) link().PopQueue();  // the rest of that operation
    host.log.clear();
    link().Enqueue(kConstantsWrite, block);
    link().Enqueue(kConstantsVerify, block);
    Receive(Frame(c.code, c.answer));  // the late copy
    EXPECT_TRUE(host.log.empty()) << "code " << int{c.code};
    EXPECT_EQ(link().queue().size(), 2u) << "code " << int{c.code};
  }
}

// A head that stays unanswered while the device keeps polling ends the
// operation after 10 s, like a lost connection.
TEST_F(LinkControlTest, AHeadUnansweredForTenSecondsEndsTheOperation) {
  Connect();
  link().Enqueue(kFileChunk, Bytes{8, 0, 1, 7});
  link().Enqueue(kFileChunk, Bytes{9, 0, 1, 7});
  for (int i = 0; i < 9; ++i) {
    Poll();
    Advance(std::chrono::seconds(1));
  }
  Poll();
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(host.closes, 0);
  Advance(std::chrono::seconds(1));
  Poll();
  EXPECT_THAT(host.log, ElementsAre(kLogNoAnswer, kLogQueueCleared, kLogFileIncomplete));
  EXPECT_EQ(host.closes, 1);
  EXPECT_TRUE(link().queue().empty());
}

// The stall clock of a head starts with the first frame the link sends for
// it, not when it was queued: a head queued long before the device polls
// again still gets its ten seconds.
TEST_F(LinkControlTest, TheStallClockStartsAtTheHeadsFirstSend) {
  Connect();
  link().Enqueue(kFileChunk, Bytes{8, 0, 1, 7});
  Advance(std::chrono::seconds(15));
  Poll();
  EXPECT_EQ(host.written.size(), 1u);
  EXPECT_TRUE(host.log.empty());
  Advance(LinkControl::kStallLimit - std::chrono::milliseconds(1));
  Poll();
  EXPECT_TRUE(host.log.empty());
  Advance(std::chrono::milliseconds(1));
  Poll();
  EXPECT_THAT(host.log, ElementsAre(kLogNoAnswer, kLogQueueCleared, kLogFileIncomplete));
}

// A create or a delete whose answer does not come in time is never sent
// blindly again: the directory count is read first, and only a count equal
// to the one before it sends the command again. One table for both
// commands: what the device's count answer says, and what the link does.
TEST_F(LinkControlTest, ACreateOrDeleteWithALostAnswerGoesAgainOnlyIfTheCountSaysItDidNotTakeEffect) {
  struct Case {
    std::uint8_t code;
    Bytes request;
    std::uint8_t before, after;  // the counts the device reports
    bool answered_late;          // its own answer comes after all
    std::size_t sends;           // of the command, in all
  };
  const Bytes header{2, 0, 9, 0, 1, 'a', 0, 0};
  const std::vector<Case> cases = {
      {kCreateFile, header, 2, 3, false, 1},  // applied, answer lost
      {kCreateFile, header, 2, 2, false, 2},  // the frame was lost on the way
      {kCreateFile, header, 2, 3, true, 1},   // a slow answer
      {kDeleteFile, Bytes{1}, 3, 2, false, 1},
      {kDeleteFile, Bytes{1}, 3, 3, false, 2},
      {kDeleteFile, Bytes{1}, 3, 2, true, 1},
  };
  const Bytes chunk{8, 0, 1, 7};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.after) + (c.answered_late ? " late" : ""));
    Connect();
    Enqueue(c.code, c.request);
    Enqueue(kFileChunk, chunk);
    Poll();
    ASSERT_EQ(LastWritten(), BuildFrame(kDirectory, {})) << "the count before it";
    Receive(Frame(kDirectory, {c.before}));
    Poll();
    ASSERT_EQ(LastWritten(), BuildFrame(c.code, c.request));
    AdvancePastTimeout();
    Poll();
    ASSERT_EQ(LastWritten(), BuildFrame(kDirectory, {})) << "the count, not the command again";
    if (c.answered_late) Receive(Frame(c.code));
    Receive(Frame(kDirectory, {c.after}));
    Poll();
    if (c.sends == 2) {
      ASSERT_EQ(LastWritten(), BuildFrame(c.code, c.request));
      Receive(Frame(c.code));
      Poll();
    }
    EXPECT_EQ(LastWritten(), BuildFrame(kFileChunk, chunk));
    EXPECT_EQ(std::count(host.written.begin(), host.written.end(), BuildFrame(c.code, c.request)),
              static_cast<long>(c.sends));
    const bool refresh = c.code == kCreateFile;  // as after a create's own answer
    EXPECT_EQ(link().queue().size(), refresh ? 2u : 1u);
    EXPECT_TRUE(session.model().directory.files.empty()) << "the count reached no directory handler";
    Receive(Frame(kFileChunk));
    link().ClearQueue();  // nothing left for the next case's first poll
  }
}

// The device still holds a delete's answer (a console busy for half a
// minute, an adapter across a reopened port) when a later delete is queued,
// after the first one's record has been forgotten. Its key is unknown, so a
// barrier goes out first, and the stale answer pops nothing.
TEST_F(LinkControlTest, AStaleAnswerAfterTheRecordIsForgottenIsAbsorbedByABarrier) {
  Connect();
  Enqueue(kDeleteFile, Bytes{0});
  Poll();
  Receive(Frame(kDirectory, {2}));
  Poll();  // the delete goes out; the console takes its time
  ASSERT_EQ(LastWritten(), BuildFrame(kDeleteFile, Bytes{0}));
  Advance(LinkControl::kStallLimit);
  Poll();
  ASSERT_EQ(host.outcomes.size(), 1u) << "the operation ended unanswered";
  Advance(InFlightFrames::kLifetime + std::chrono::seconds(1) - LinkControl::kStallLimit);
  Enqueue(kDeleteFile, Bytes{1});
  Poll();
  EXPECT_TRUE(link().in_flight().Unknown({kDeleteFile, -1}));
  EXPECT_EQ(LastWritten(), BuildFrame(kFreeSpace, {})) << "a barrier for the unknown key";
  Receive(Frame(kDeleteFile));  // the stale answer
  ASSERT_EQ(link().queue().size(), 1u);
  EXPECT_EQ(link().queue().head().command, kDeleteFile);
  Receive(Frame(kFreeSpace, {0, 0}));
  EXPECT_EQ(link().in_flight().forgotten(), 0u);
  Poll();
  EXPECT_EQ(LastWritten(), BuildFrame(kDirectory, {}));
  Receive(Frame(kDirectory, {1}));
  Poll();
  EXPECT_EQ(LastWritten(), BuildFrame(kDeleteFile, Bytes{1}));
  Receive(Frame(kDeleteFile));
  EXPECT_TRUE(link().queue().empty());
  EXPECT_TRUE(host.outcomes.back().done());
}

// Both frames of an entry sent twice are answered: the first answer was the
// first frame's, so its time is a true sample, and the time-out's back-off
// bound grows with it.
TEST_F(LinkControlTest, AnswersToEveryFrameOfAResentEntryTeachTheTimeOut) {
  using std::chrono::milliseconds;
  Connect();
  Enqueue(kEraseAll, {});
  Enqueue(kFileDetails, Bytes{0});
  Poll();
  Advance(milliseconds(2));
  Receive(Frame(kEraseAll));
  ASSERT_EQ(link().retransmit_timer().Timeout(), milliseconds(6));
  Poll();
  Advance(milliseconds(7));
  Poll();  // resent
  ASSERT_EQ(link().head_sends(), 2u);
  Advance(milliseconds(1));
  Receive(Frame(kFileDetails, {0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(link().retransmit_timer().BackOffLimit(), 2 * milliseconds(2) + RetransmitTimer::kMargin);
  Receive(Frame(kFileDetails, {0, 0, 0, 0, 0, 0, 0}));  // the copy's
  EXPECT_EQ(link().retransmit_timer().BackOffLimit(), 2 * milliseconds(8) + RetransmitTimer::kMargin);
}

// Every way an operation ends is reported once, as a value, after the input
// that ended it: the cause, the chunk a verification failed at, and what the
// queue still held.
struct EndCase {
  const char* name;
  void (*run)(LinkControlTest&);
  OperationEnd::Kind kind;
  EndCause cause;
  std::optional<std::uint16_t> offset;
  Leftover left;
};

const EndCase kEndCases[] = {
    {"done", [](LinkControlTest& t) {
       t.Enqueue(kDeleteFile, Bytes{0});
       t.Poll();  // the count before the delete
       t.Receive(Frame(kDirectory, {1}));
       t.Poll();
       t.Receive(Frame(kDeleteFile));
     }, OperationEnd::Kind::kDone, EndCause::kPortClosed, std::nullopt, {}},
    {"verify fails at a chunk", [](LinkControlTest& t) {
       t.Enqueue(kFirmwareVerify, Bytes{0x00, 0x01, 32});
       t.Enqueue(kFirmwareVerify, Bytes{0x20, 0x01, 32});
       t.Enqueue(kDirectory, {});
       t.Poll();
       t.Receive(Frame(kFirmwareVerify, {0x00, 0x01, 0}));
       t.Poll();
       t.Receive(Frame(kFirmwareVerify, {0x20, 0x01, 1}));
     }, OperationEnd::Kind::kCleared, EndCause::kVerifyFailed, 0x0120, {.entries = 1}},
    {"verify fails at the last chunk", [](LinkControlTest& t) {
       t.Enqueue(kFirmwareVerify, Bytes{0x40, 0x00, 32});
       t.Poll();
       t.Receive(Frame(kFirmwareVerify, {0x40, 0x00, 1}));
     }, OperationEnd::Kind::kCleared, EndCause::kVerifyFailed, 0x0040, {}},
    {"verify fails in the answer to a copy of a chunk already popped", [](LinkControlTest& t) {
       t.Enqueue(kFirmwareVerify, Bytes{0x00, 0x01, 32});
       t.Enqueue(kFirmwareVerify, Bytes{0x20, 0x01, 32});
       t.Enqueue(kDirectory, {});
       t.Poll();
       t.Poll();  // a quick copy of the chunk
       t.Receive(Frame(kFirmwareVerify, {0x00, 0x01, 0}));
       t.Receive(Frame(kFirmwareVerify, {0x00, 0x01, 1}));
     }, OperationEnd::Kind::kCleared, EndCause::kVerifyFailed, 0x0100, {.entries = 2, .firmware_verifies = 1}},
    {"verify fails about no chunk that was sent", [](LinkControlTest& t) {
       t.Enqueue(kFirmwareVerify, Bytes{0x00, 0x01, 32});
       t.Enqueue(kDirectory, {});
       t.Poll();
       t.Receive(Frame(kFirmwareVerify, {0x10, 0x00, 1}));
     }, OperationEnd::Kind::kCleared, EndCause::kVerifyFailed, std::nullopt,
     {.entries = 2, .firmware_verifies = 1, .head_sent = true}},
    {"watchdog", [](LinkControlTest& t) {
       t.Enqueue(kFirmwareWrite, Bytes{0x00, 0x00, 32});
       t.Enqueue(kFirmwareWrite, Bytes{0x20, 0x00, 32});
       t.Enqueue(kFileChunk, Bytes{8, 0, 1, 7});
       t.Poll();
       t.link().WatchdogExpired();
     }, OperationEnd::Kind::kCleared, EndCause::kNotConnected, std::nullopt,
     {.entries = 3, .firmware_writes = 2, .file_chunks = 1, .head_sent = true, .firmware_written = true,
      .file_in_progress = true}},
    {"no answer", [](LinkControlTest& t) {
       t.Enqueue(kCreateFile, Bytes{0, 0, 9, 0, 1, 'x', 0, 0});
       t.Poll();  // the count before the create
       t.Receive(Frame(kDirectory, {0}));
       t.Poll();
       t.Advance(LinkControl::kStallLimit);
       t.Poll();
     }, OperationEnd::Kind::kCleared, EndCause::kNoAnswer, std::nullopt,
     {.entries = 1, .file_creates = 1, .head_sent = true, .file_in_progress = true}},
    {"constants answer with entries behind", [](LinkControlTest& t) {
       Bytes block(34, 0);
       block[0] = 2;
       block[2] = 31;
       t.Enqueue(kConstantsRead, block);
       t.Enqueue(kEraseAll, {});
       t.Poll();
       t.Receive(Frame(kConstantsRead, block));
     }, OperationEnd::Kind::kCleared, EndCause::kClearedByAnswer, std::nullopt, {.entries = 1}},
    {"port lost in the middle of a reflash", [](LinkControlTest& t) {
       t.Enqueue(kFirmwareWrite, Bytes{0x00, 0x00, 32});
       t.Enqueue(kFirmwareWrite, Bytes{0x20, 0x00, 32});
       t.Enqueue(kFirmwareVerify, Bytes{0x00, 0x00, 32});
       t.Poll();
       t.Receive(Frame(kFirmwareWrite, {0x00}));
       t.link().PortLost();
     }, OperationEnd::Kind::kCleared, EndCause::kPortLost, std::nullopt,
     {.entries = 2, .firmware_writes = 1, .firmware_verifies = 1, .firmware_written = true}},
    {"cancelled while a file's chunks wait", [](LinkControlTest& t) {
       t.Enqueue(kCreateFile, Bytes{0, 0, 9, 0, 1, 'x', 1, 0});
       t.Enqueue(kFileChunk, Bytes{8, 0, 1, 7});
       t.Poll();  // the count before the create
       t.Receive(Frame(kDirectory, {0}));
       t.Poll();
       t.Receive(Frame(kCreateFile));
       t.link().Cancel();
     }, OperationEnd::Kind::kCleared, EndCause::kCancelled, std::nullopt,
     {.entries = 2, .file_chunks = 1, .file_in_progress = true}},
    {"port closed under it", [](LinkControlTest& t) {
       t.Enqueue(kEraseAll, {});
       t.link().ClearQueue();
     }, OperationEnd::Kind::kCleared, EndCause::kPortClosed, std::nullopt, {.entries = 1}},
};

TEST_F(LinkControlTest, EveryEndingIsReportedOnceWithWhatItLeft) {
  for (const EndCase& c : kEndCases) {
    SCOPED_TRACE(c.name);
    Connect();
    c.run(*this);
    ASSERT_EQ(host.outcomes.size(), 1u);
    const OperationEnd& outcome = host.outcomes.front();
    EXPECT_EQ(outcome.kind, c.kind);
    if (c.kind == OperationEnd::Kind::kCleared) {
      EXPECT_EQ(outcome.cause, c.cause);
    }
    EXPECT_EQ(outcome.verify_offset, c.offset);
    EXPECT_EQ(outcome.left.entries, c.left.entries);
    EXPECT_EQ(outcome.left.firmware_writes, c.left.firmware_writes);
    EXPECT_EQ(outcome.left.firmware_verifies, c.left.firmware_verifies);
    EXPECT_EQ(outcome.left.file_creates, c.left.file_creates);
    EXPECT_EQ(outcome.left.file_chunks, c.left.file_chunks);
    EXPECT_EQ(outcome.left.head_sent, c.left.head_sent);
    EXPECT_EQ(outcome.left.firmware_written, c.left.firmware_written);
    EXPECT_EQ(outcome.left.file_in_progress, c.left.file_in_progress);
    EXPECT_TRUE(link().queue().empty());
  }
}

// The line after an operation cut short says what it leaves on the console.
TEST(LeftoverLine, SaysWhatAnOperationCutShortLeavesOnTheConsole) {
  const auto cleared = [](EndCause cause, Leftover left, std::uint8_t verify_command = 0) {
    OperationEnd outcome = OperationEnd::Cleared(cause, left);
    outcome.verify_command = verify_command;
    return LeftoverLine(outcome);
  };
  EXPECT_STREQ(cleared(EndCause::kPortLost, {.firmware_writes = 3, .firmware_written = true}), kLogProgramIncomplete);
  EXPECT_STREQ(cleared(EndCause::kCancelled, {.firmware_verifies = 3, .firmware_written = true}),
               kLogProgramUnverified);
  EXPECT_STREQ(cleared(EndCause::kVerifyFailed, {.firmware_written = true}, kFirmwareVerify), kLogProgramDiffers);
  EXPECT_STREQ(cleared(EndCause::kNoAnswer, {.file_chunks = 4, .file_in_progress = true}), kLogFileIncomplete);
  EXPECT_EQ(cleared(EndCause::kVerifyFailed, {.firmware_verifies = 9}, kFirmwareVerify), nullptr)
      << "a verify alone wrote nothing";
  EXPECT_EQ(cleared(EndCause::kNotConnected, {.file_creates = 1, .file_chunks = 4}), nullptr)
      << "the create never went out";
  EXPECT_EQ(LeftoverLine(OperationEnd::Done()), nullptr);
}

}  // namespace
}  // namespace orvane::link
