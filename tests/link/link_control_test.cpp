#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
 protected:
  LinkControlTest() { host.session = &session; }

  void Receive(const Bytes& bytes) { session.link().ReceiveData(bytes.data(), bytes.size()); }
  void Poll() { Receive(kPollFrame); }
  LinkControl& link() { return session.link(); }
  // The first poll starts the automatic refresh; take it out of the way.
  void Connect() {
    Poll();
    link().ClearQueue();
    host.log.clear();
    host.written.clear();
  }
  Bytes LastWritten() const { return host.written.empty() ? Bytes{} : host.written.back(); }

  testing::RecordingHost host;
  device::Session session{host};
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
  Poll();
  EXPECT_EQ(host.log.size(), 2u) << "no second refresh";
  EXPECT_EQ(host.watchdog_starts, starts + 2);
  EXPECT_EQ(host.written.size(), 2u);
}

TEST_F(LinkControlTest, HeadIsSentOnEveryPollUntilAnswered) {
  Connect();
  link().Enqueue(kDeleteFile, Bytes{3}, 2);
  Poll();
  Poll();
  Poll();
  ASSERT_EQ(host.written.size(), 3u);
  for (const Bytes& f : host.written) EXPECT_EQ(f, BuildFrame(kDeleteFile, Bytes{3}));
  EXPECT_EQ(link().head_sends(), 3u);
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
  Receive(Frame(kFirmwareVerify, {0, 0, 0}));
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(link().queue().size(), 1u);
}

TEST_F(LinkControlTest, FileResponsesForAnotherHeadAreIgnored) {
  Connect();
  link().Enqueue(kFreeSpace, {}, 1);
  Receive(Frame(kFileDetails, {0, 0, 2, 0, 5, 0, 1, 'a'}));
  EXPECT_EQ(link().queue().size(), 1u);
  EXPECT_EQ(session.model().table.cell(1, 1), "");
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
  link().Enqueue(kDeleteFile, Bytes{1}, 2);
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
    Connect();
    const Bytes sentinel{1};
    link().Enqueue(c.code, c.request);
    link().Enqueue(kDeleteFile, sentinel);
    Receive(Frame(c.code, c.short_answer));
    EXPECT_EQ(link().queue().size(), 2u) << "code " << int{c.code};
    EXPECT_EQ(link().queue().head().command, c.code);
    EXPECT_TRUE(host.log.empty()) << "code " << int{c.code};
    Poll();
    EXPECT_EQ(LastWritten(), BuildFrame(c.code, c.request)) << "code " << int{c.code};
  }
  EXPECT_EQ(session.model().table.row_count(), 2);
}

// A device that polled again before our answer reached it got the same chunk
// twice and answers both. Without the guard the second answer would pop the
// next chunk unsent; with one frame lost after that the upload would end as
// a success with a chunk the device never received.
TEST_F(LinkControlTest, LateDuplicateAnswerDoesNotPopTheNextEntry) {
  Connect();
  for (std::uint8_t i = 0; i < 3; ++i) link().Enqueue(kFileChunk, Bytes{i, 0, 1, i});
  Poll();
  Poll();                      // chunk 0 went out twice
  Receive(Frame(kFileChunk));  // answer to the first copy: pops chunk 0
  ASSERT_EQ(link().queue().size(), 2u);
  Receive(Frame(kFileChunk));  // answer to the second copy: must not pop chunk 1
  ASSERT_EQ(link().queue().size(), 2u);
  EXPECT_EQ(link().queue().head().data[0], 1);
  Poll();                      // chunk 1 out; its answer is lost on the line
  Poll();                      // so it goes out again
  Receive(Frame(kFileChunk));
  EXPECT_EQ(link().queue().head().data[0], 2);
  Poll();                      // the copy owed for chunk 1 was never sent: forgotten
  Receive(Frame(kFileChunk));
  EXPECT_THAT(host.log, ElementsAre(kLogDone));
  std::set<std::uint8_t> sent;
  for (const Bytes& f : host.written) sent.insert(f[6]);
  EXPECT_THAT(sent, ElementsAre(0, 1, 2)) << "every chunk reached the line";
}

// Lost answers must not build up a debt of owed copies: with the first answer
// to every chunk lost, each chunk costs exactly one resend, to the end.
TEST_F(LinkControlTest, LostAnswersCostOneResendEachAndNeverStall) {
  Connect();
  constexpr int kChunks = 50;
  for (int i = 0; i < kChunks; ++i) {
    link().Enqueue(kFileChunk, Bytes{static_cast<std::uint8_t>(i), 0, 1, 0});
  }
  for (int i = 0; i < kChunks; ++i) {
    Poll();  // answer lost
    Poll();
    Receive(Frame(kFileChunk));
  }
  EXPECT_TRUE(link().queue().empty());
  EXPECT_EQ(host.written.size(), 2u * kChunks);
  EXPECT_THAT(host.log, ElementsAre(kLogDone));
}

// Copies that come after the next poll are taken for answers; the entries
// they pop have gone out all the same. An answer that arrives before the head
// was ever sent never pops it.
TEST_F(LinkControlTest, AnswerBeforeTheHeadWentOutNeverPopsIt) {
  Connect();
  for (std::uint8_t i = 0; i < 3; ++i) link().Enqueue(kFileChunk, Bytes{i, 0, 1, i});
  Poll();
  Poll();                      // chunk 0 twice
  Receive(Frame(kFileChunk));  // pops chunk 0
  Poll();                      // chunk 1 out
  Receive(Frame(kFileChunk));  // the second copy's answer, taken for chunk 1
  ASSERT_EQ(link().queue().head().data[0], 2);
  Receive(Frame(kFileChunk));  // chunk 1's own answer: chunk 2 has not gone out
  EXPECT_EQ(link().queue().size(), 1u);
  Poll();
  EXPECT_EQ(LastWritten(), BuildFrame(kFileChunk, Bytes{2, 0, 1, 2}));
  Receive(Frame(kFileChunk));
  EXPECT_TRUE(link().queue().empty());
}

TEST_F(LinkControlTest, GuardChangesNothingWhileEveryHeadIsSentOnce) {
  Connect();
  for (std::uint8_t i = 0; i < 3; ++i) link().Enqueue(kFileChunk, Bytes{i, 0, 1, i});
  for (int i = 0; i < 3; ++i) {
    Poll();
    Receive(Frame(kFileChunk));
  }
  EXPECT_TRUE(link().queue().empty());
  EXPECT_EQ(host.written.size(), 3u);
}

TEST_F(LinkControlTest, ResponseOfAnotherCodeEndsTheWaitForDuplicates) {
  Connect();
  link().Enqueue(kDeleteFile, Bytes{0});
  link().Enqueue(kDirectory, {});
  link().Enqueue(kDeleteFile, Bytes{1});
  Poll();
  Poll();
  Receive(Frame(kDeleteFile));  // one copy's answer is still owed
  Poll();
  Receive(Frame(kDirectory, {0}));  // the owed copy was lost after all
  ASSERT_EQ(link().queue().head().command, kDeleteFile);
  Poll();
  Receive(Frame(kDeleteFile));
  EXPECT_NE(link().queue().head().command, kDeleteFile);
}

}  // namespace
}  // namespace orvane::link
