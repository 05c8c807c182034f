// The reader's and writer's bodies, run on the test thread against a
// scripted port: what each failure posts, above all how many hang-up
// requests, and how blocks are written.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>

#include "serial/comm_threads.h"

namespace orvane::serial {
namespace {

using Io = PortIo::Io;
using Wake = PortIo::Wake;
using Bytes = std::vector<std::uint8_t>;

struct ReadStep {
  Io io;
  Bytes bytes;
};

struct WriteStep {
  Io io;
  std::size_t take;  // how many bytes a kDone step accepts at most
};

// Each call takes the next step of its script; an exhausted script reads as
// pending, writes everything, and ends every wait on the close event.
class ScriptedPort : public PortIo {
 public:
  std::deque<ReadStep> reads;
  std::deque<WriteStep> writes;
  std::deque<Wake> wakes;
  std::function<void()> after_read;

  std::vector<std::size_t> write_sizes;
  Bytes written;
  std::vector<bool> purges;  // true: receive side

  Io Read(std::uint8_t* buffer, std::size_t size, std::size_t& count) override {
    if (reads.empty()) return Io::kPending;
    ReadStep step = reads.front();
    reads.pop_front();
    count = std::min(size, step.bytes.size());
    std::copy_n(step.bytes.begin(), count, buffer);
    if (after_read) after_read();
    return step.io;
  }
  Io Write(const std::uint8_t* bytes, std::size_t size, std::size_t& written_now) override {
    write_sizes.push_back(size);
    WriteStep step{Io::kDone, size};
    if (!writes.empty()) {
      step = writes.front();
      writes.pop_front();
    }
    written_now = step.io == Io::kDone ? std::min(size, step.take) : 0;
    written.insert(written.end(), bytes, bytes + written_now);
    return step.io;
  }
  void Purge(bool receive_side) override { purges.push_back(receive_side); }
  Wake Wait(const CloseEvent&, const WaitFor&) override {
    if (wakes.empty()) return Wake::kClose;
    const Wake wake = wakes.front();
    wakes.pop_front();
    return wake;
  }
};

class RecordingSink : public NotifySink {
 public:
  std::vector<Notification> posted;
  bool refuse_data = false;

  bool Post(Notification notification) override {
    if (refuse_data && notification.code == MSG_COMM_DATA) return false;
    posted.push_back(std::move(notification));
    return true;
  }
  int Count(std::uint32_t code) const {
    return static_cast<int>(std::count_if(posted.begin(), posted.end(),
                                          [code](const Notification& n) { return n.code == code; }));
  }
  std::vector<Bytes> Blocks() const {
    std::vector<Bytes> blocks;
    for (const auto& n : posted)
      if (n.code == MSG_COMM_DATA) blocks.emplace_back(n.data.begin(), n.data.begin() + n.wparam);
    return blocks;
  }
};

class ThreadsTest : public ::testing::Test {
 protected:
  void RunReader() {
    TReadThread reader(port, *close_event, sink);
    reader.Execute();
  }
  ScriptedPort port;
  RecordingSink sink;
  std::unique_ptr<CloseEvent> close_event = CloseEvent::Create();
};

// ---- Reader ----

struct ReaderCase {
  std::string name;
  std::function<void(ScriptedPort&, RecordingSink&, const CloseEvent&)> script;
  int hangups;
  friend void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }
};

class ReaderFailureTest : public ThreadsTest, public ::testing::WithParamInterface<ReaderCase> {};

TEST_P(ReaderFailureTest, PostsTheHangupRequestsOfItsFailure) {
  GetParam().script(port, sink, *close_event);
  RunReader();
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), GetParam().hangups);
  ASSERT_FALSE(port.purges.empty());
  EXPECT_TRUE(port.purges.back()) << "the reader's end purges the receive side";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReaderFailureTest,
    ::testing::Values(
        ReaderCase{"MainWaitFails", [](auto& p, auto&, auto&) { p.wakes = {Wake::kFailed}; }, 1},
        ReaderCase{"MainWaitUnexpected", [](auto& p, auto&, auto&) { p.wakes = {Wake::kWritable}; }, 1},
        ReaderCase{"InvalidHandleOnStartRead",
                   [](auto& p, auto&, auto&) { p.reads = {{Io::kInvalidHandle, {}}}; }, 1},
        ReaderCase{"InvalidHandleOnFinishRead",
                   [](auto& p, auto&, auto&) {
                     p.reads = {{Io::kPending, {}}, {Io::kInvalidHandle, {}}};
                     p.wakes = {Wake::kReadable};
                   },
                   1},
        ReaderCase{"ZeroByteReadIsAHangup",
                   [](auto& p, auto&, auto&) {
                     p.reads = {{Io::kPending, {}}, {Io::kDone, {}}};
                     p.wakes = {Wake::kReadable};
                   },
                   1},
        ReaderCase{"DataPostRefused",
                   [](auto& p, auto& s, auto&) {
                     p.reads = {{Io::kDone, {1, 2}}};
                     s.refuse_data = true;
                   },
                   1},
        ReaderCase{"ReadErrorOnStart", [](auto& p, auto&, auto&) { p.reads = {{Io::kFailed, {}}}; }, 2},
        ReaderCase{"ReadErrorOnFinish",
                   [](auto& p, auto&, auto&) {
                     p.reads = {{Io::kPending, {}}, {Io::kFailed, {}}};
                     p.wakes = {Wake::kReadable};
                   },
                   2},
        ReaderCase{"CloseSeenInsideStartRead",
                   [](auto& p, auto&, auto& close) {
                     p.reads = {{Io::kPending, {}}, {Io::kDone, {7}}};
                     p.wakes = {Wake::kReadable};
                     p.after_read = [&p, &close] {
                       if (p.reads.empty()) close.Set();
                     };
                   },
                   1},
        ReaderCase{"CloseSeenByMainWait", [](auto& p, auto&, auto&) { p.wakes = {Wake::kClose}; }, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(ThreadsTest, ReaderTellsItHasStarted) {
  RunReader();
  ASSERT_EQ(sink.posted.size(), 1u);
  EXPECT_EQ(sink.posted[0].code, MSG_THREAD_STARTED);
}

TEST_F(ThreadsTest, ReaderDeliversBurstsInOrderEachWithItsOwnCopy) {
  port.reads = {{Io::kPending, {}}, {Io::kDone, {1, 2, 3}}, {Io::kPending, {}},
                {Io::kDone, {4}},   {Io::kPending, {}},      {Io::kDone, {5, 6}}};
  port.wakes = {Wake::kReadable, Wake::kReadable, Wake::kReadable};
  RunReader();
  EXPECT_EQ(sink.Blocks(), (std::vector<Bytes>{{1, 2, 3}, {4}, {5, 6}}));
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), 0);
  for (const auto& n : sink.posted) {
    if (n.code == MSG_COMM_DATA) {
      EXPECT_EQ(n.data.back(), 0) << "a zero byte follows each block";
    }
  }
}

// ---- Writer ----

class WriterTest : public ThreadsTest {
 protected:
  TWriteThread writer{port, *close_event, sink};
};

TEST_F(WriterTest, WritesTheRestOfAPartlyTakenBlockAndGoesOn) {
  port.writes = {{Io::kDone, 3}, {Io::kDone, 100}, {Io::kDone, 100}};
  ASSERT_TRUE(writer.PostMessage(MSG_WRITE_REQUEST, {1, 2, 3, 4, 5}));
  ASSERT_TRUE(writer.PostMessage(MSG_WRITE_REQUEST, {6}));
  writer.Execute();
  EXPECT_EQ(port.write_sizes, (std::vector<std::size_t>{5, 2, 1}));
  EXPECT_EQ(port.written, (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), 0);
  ASSERT_EQ(sink.posted.size(), 1u);
  EXPECT_EQ(sink.posted[0].code, MSG_THREAD_STARTED);
  EXPECT_EQ(sink.posted[0].wparam, 1u);
  EXPECT_EQ(port.purges, std::vector<bool>{false}) << "the writer's end purges the transmit side";
}

TEST_F(WriterTest, WaitsForThePortWhenItTakesNothing) {
  port.writes = {{Io::kPending, 0}, {Io::kDone, 100}};
  port.wakes = {Wake::kWritable};
  writer.PostMessage(MSG_WRITE_REQUEST, {9, 8});
  writer.Execute();
  EXPECT_EQ(port.written, (Bytes{9, 8}));
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), 0);
}

TEST_F(WriterTest, EmptyRequestIsOneEmptyWriteAndOtherMessagesAreDropped) {
  writer.PostMessage(MSG_WRITE_REQUEST, {});
  writer.PostMessage(7, {1, 2});
  writer.PostMessage(MSG_WRITE_REQUEST, {3});
  writer.Execute();
  EXPECT_EQ(port.write_sizes, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(port.written, Bytes{3});
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), 0);
}

TEST_F(WriterTest, RequestQueuedBeforeTheCloseIsDropped) {
  writer.PostMessage(MSG_WRITE_REQUEST, {1});
  close_event->Set();
  writer.Execute();
  EXPECT_TRUE(port.write_sizes.empty());
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), 0);
}

// ---- WriteData's hand-over: written at once while the writer is idle ----

struct HandOverCase {
  std::string name;
  std::deque<WriteStep> writes;  // the direct write first, then the writer's
  std::vector<std::size_t> write_sizes;
  Bytes written;
  int hangups;
  friend void PrintTo(const HandOverCase& c, std::ostream* os) { *os << c.name; }
};

class HandOverTest : public WriterTest, public ::testing::WithParamInterface<HandOverCase> {};

// A first block of five bytes, then a second of one that arrives while the
// first is not yet through: the second always queues behind the rest.
TEST_P(HandOverTest, WriterFinishesWhatTheDirectWriteLeftInOrder) {
  port.writes = GetParam().writes;
  ASSERT_TRUE(writer.WriteOrQueue(Bytes{1, 2, 3, 4, 5}.data(), 5));
  ASSERT_TRUE(writer.WriteOrQueue(Bytes{6}.data(), 1));
  writer.Execute();
  EXPECT_EQ(port.write_sizes, GetParam().write_sizes);
  EXPECT_EQ(port.written, GetParam().written);
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), GetParam().hangups);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HandOverTest,
    ::testing::Values(
        HandOverCase{"WholeBlockAtOnce", {}, {5, 1}, {1, 2, 3, 4, 5, 6}, 0},
        HandOverCase{"PartialWrite", {{Io::kDone, 2}}, {5, 3, 1}, {1, 2, 3, 4, 5, 6}, 0},
        HandOverCase{"WouldBlock", {{Io::kPending, 0}}, {5, 5, 1}, {1, 2, 3, 4, 5, 6}, 0},
        HandOverCase{"NothingTaken", {{Io::kDone, 0}}, {5, 5, 1}, {1, 2, 3, 4, 5, 6}, 0},
        HandOverCase{"ErrorReportedByTheWriter", {{Io::kFailed, 0}, {Io::kFailed, 0}}, {5, 5}, {}, 1},
        HandOverCase{"InvalidHandleQuietAsBefore", {{Io::kInvalidHandle, 0}, {Io::kInvalidHandle, 0}},
                     {5, 5}, {}, 0}),
    [](const auto& info) { return info.param.name; });

TEST(WriteBacklog, BoundsBytesAndRequests) {
  WriteBacklog backlog;
  EXPECT_TRUE(backlog.Fits(65535)) << "any block of WriteData fits when empty";
  backlog.Add(WriteBacklog::kMaxBytes - 10);
  EXPECT_TRUE(backlog.Fits(10));
  EXPECT_FALSE(backlog.Fits(11));
  backlog.Clear();
  for (std::size_t i = 0; i < WriteBacklog::kMaxRequests; ++i) backlog.Add(0);
  EXPECT_FALSE(backlog.Fits(0)) << "empty requests are bound by their number";
  backlog.Remove(0);
  EXPECT_TRUE(backlog.Fits(0));
}

struct WriterCase {
  std::string name;
  std::deque<WriteStep> writes;
  std::deque<Wake> wakes;
  int hangups;
  friend void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }
};

class WriterFailureTest : public WriterTest, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(WriterFailureTest, PostsTheHangupRequestsOfItsFailureAndRefusesLaterRequests) {
  port.writes = GetParam().writes;
  port.wakes = GetParam().wakes;
  writer.PostMessage(MSG_WRITE_REQUEST, {1, 2, 3});
  writer.Execute();
  EXPECT_EQ(sink.Count(MSG_REQUEST_HANGUP), GetParam().hangups);
  EXPECT_FALSE(writer.PostMessage(MSG_WRITE_REQUEST, {4})) << "an ended writer takes no requests";
  const std::size_t writes = port.write_sizes.size();
  EXPECT_FALSE(writer.WriteOrQueue(Bytes{5}.data(), 1));
  EXPECT_EQ(port.write_sizes.size(), writes) << "nor writes anything itself";
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriterFailureTest,
    ::testing::Values(WriterCase{"WriteError", {{Io::kFailed, 0}}, {}, 1},
                      WriterCase{"WriteWaitFails", {{Io::kPending, 0}}, {Wake::kFailed}, 1},
                      WriterCase{"InvalidHandle", {{Io::kInvalidHandle, 0}}, {}, 0},
                      WriterCase{"CloseDuringPendingWrite", {{Io::kPending, 0}}, {Wake::kClose}, 0},
                      WriterCase{"MessageWaitFails", {}, {Wake::kFailed}, 1},
                      WriterCase{"MessageWaitUnexpected", {}, {Wake::kReadable}, 1},
                      WriterCase{"CloseWhileIdle", {}, {Wake::kClose}, 0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orvane::serial
