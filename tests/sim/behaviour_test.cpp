// How the console takes up the PC's frames (--answer), adapter latency, faults
// on the PC's frames, a PC that lets go of the port, and repeated frames,
// all through the pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "tests/sim/sim_rig.h"

namespace orvane::testing {
namespace {

using link::Command;
using sim::AnswerMode;

// A file-details request for index i is answered with i as its first byte,
// so the PC can tell which of its frames an answer belongs to.
Bytes Request(std::uint8_t index) { return FrameBytes(Command::kFileDetails, {index}); }

// What the PC reads until it has seen `polls` polls: "P" for a poll, "A<i>"
// for the answer to request i, "?" when nothing more came.
std::string Transcript(PcPort& pc, int polls) {
  std::string text;
  for (int seen = 0; seen < polls;) {
    const auto frame = pc.Next(milliseconds(5000));
    if (!frame) return text + "?";
    if (frame->command == link::kPoll) ++seen;
    text += frame->command == link::kPoll ? "P " : "A" + std::to_string(frame->data.at(0)) + " ";
  }
  text.pop_back();
  return text;
}

sim::SimOptions Cycle(long window_us, int pause_us, AnswerMode answer) {
  sim::SimOptions options;
  options.reply_window_us = window_us;
  options.poll_interval_us = pause_us;
  options.answer = answer;
  return options;
}

// Each scenario sets the console's cycle, does its part on the PC's side and
// returns what the PC read afterwards, up to the second poll.
struct Scenario {
  const char* name;  // as in a test name
  long window_us;
  int pause_us;
  std::string (*run)(PcPort& pc);
};

// Two requests in one write, right after a poll.
std::string TwoInOneWrite(PcPort& pc) {
  EXPECT_TRUE(pc.NextPoll(milliseconds(3000)));
  Bytes both = Request(1);
  const Bytes second = Request(2);
  both.insert(both.end(), second.begin(), second.end());
  pc.SendRaw(both);
  return Transcript(pc, 2);
}

// A request answered, then one more sent in the pause before the next poll.
std::string BeforeThePoll(PcPort& pc) {
  EXPECT_TRUE(pc.NextPoll(milliseconds(3000)));
  pc.SendRaw(Request(1));
  EXPECT_EQ(pc.Next(milliseconds(3000)), (Frame{Command::kFileDetails, {1, 0, 0, 0, 0, 0, 0}}));
  pc.SendRaw(Request(2));
  return Transcript(pc, 2);
}

// The answer to a poll sent well after its reply window has closed.
std::string AfterTheWindow(PcPort& pc) {
  EXPECT_TRUE(pc.NextPoll(milliseconds(3000)));
  std::this_thread::sleep_for(milliseconds(150));
  pc.SendRaw(Request(1));
  return Transcript(pc, 2);
}

// Windows and pauses leave the PC's side most of a second to spare.
const Scenario kTwoInOneWrite{"TwoInOneWrite", 1'000'000, 100'000, TwoInOneWrite};
const Scenario kBeforeThePoll{"BeforeThePoll", 1'000'000, 800'000, BeforeThePoll};
const Scenario kAfterTheWindow{"AfterTheWindow", 50'000, 1'000'000, AfterTheWindow};

struct BehaviourCase {
  const Scenario* scenario;
  AnswerMode answer;
  const char* transcript;
};

std::string CaseName(const ::testing::TestParamInfo<BehaviourCase>& info) {
  static const char* const kModes[] = {"All", "First", "Queue", "Flush"};
  return std::string(info.param.scenario->name) + kModes[static_cast<int>(info.param.answer)];
}

class SimAnswerModes : public ::testing::TestWithParam<BehaviourCase> {};

TEST_P(SimAnswerModes, ThePcReadsWhatTheBehaviourMakesOfItsFrames) {
  const BehaviourCase& c = GetParam();
  Rig rig(Cycle(c.scenario->window_us, c.scenario->pause_us, c.answer));
  EXPECT_EQ(c.scenario->run(rig.pc), c.transcript);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimAnswerModes,
    ::testing::Values(BehaviourCase{&kTwoInOneWrite, AnswerMode::kAll, "A1 A2 P P"},
                      BehaviourCase{&kTwoInOneWrite, AnswerMode::kFirst, "A1 P P"},
                      BehaviourCase{&kTwoInOneWrite, AnswerMode::kQueue, "A1 P A2 P"},
                      BehaviourCase{&kTwoInOneWrite, AnswerMode::kFlush, "A1 P P"},
                      BehaviourCase{&kBeforeThePoll, AnswerMode::kAll, "A2 P P"},
                      BehaviourCase{&kBeforeThePoll, AnswerMode::kFirst, "P A2 P"},
                      BehaviourCase{&kBeforeThePoll, AnswerMode::kQueue, "P A2 P"},
                      BehaviourCase{&kBeforeThePoll, AnswerMode::kFlush, "P P"},
                      BehaviourCase{&kAfterTheWindow, AnswerMode::kAll, "A1 P P"},
                      BehaviourCase{&kAfterTheWindow, AnswerMode::kFirst, "P A1 P"},
                      BehaviourCase{&kAfterTheWindow, AnswerMode::kQueue, "P A1 P"},
                      BehaviourCase{&kAfterTheWindow, AnswerMode::kFlush, "P P"}),
    CaseName);

// With --poll-with-answer the PC reads each answer and the next poll in one
// read, and the poll opens a window of its own: the timed polls are far
// apart, yet every request is answered at once.
struct PollWithAnswerCase {
  AnswerMode answer;
  bool poll_with_answer;
};

std::string PollWithAnswerName(const ::testing::TestParamInfo<PollWithAnswerCase>& info) {
  static const char* const kModes[] = {"All", "First", "Queue", "Flush"};
  return std::string(kModes[static_cast<int>(info.param.answer)]) +
         (info.param.poll_with_answer ? "WithPoll" : "Alone");
}

class SimPollWithAnswer : public ::testing::TestWithParam<PollWithAnswerCase> {};

TEST_P(SimPollWithAnswer, TheNextPollComesInTheSameWriteAsTheAnswer) {
  const PollWithAnswerCase& c = GetParam();
  auto options = Cycle(2'000'000, 5'000'000, c.answer);
  options.poll_with_answer = c.poll_with_answer;
  Rig rig(options);
  ASSERT_TRUE(rig.pc.NextPoll(milliseconds(3000)));
  const int exchanges = c.poll_with_answer ? 3 : 1;
  Bytes expected = FrameBytes(Command::kDirectory, {0});
  if (c.poll_with_answer) {
    const Bytes poll = FrameBytes(link::kPoll);
    expected.insert(expected.end(), poll.begin(), poll.end());
  }
  for (int i = 0; i < exchanges; ++i) {
    rig.pc.Send(Command::kDirectory);
    EXPECT_EQ(rig.pc.ReadOnce(milliseconds(3000)), expected) << "exchange " << i;
  }
  const auto stats = rig.simulator.Stats();
  EXPECT_EQ(stats.polls, 1 + (c.poll_with_answer ? exchanges : 0));
  EXPECT_EQ(stats.answers, exchanges);
  EXPECT_EQ(stats.turnaround_us.size(), static_cast<std::size_t>(exchanges));
}

INSTANTIATE_TEST_SUITE_P(Table, SimPollWithAnswer,
                         ::testing::Values(PollWithAnswerCase{AnswerMode::kAll, true},
                                           PollWithAnswerCase{AnswerMode::kFirst, true},
                                           PollWithAnswerCase{AnswerMode::kQueue, true},
                                           PollWithAnswerCase{AnswerMode::kFlush, true},
                                           PollWithAnswerCase{AnswerMode::kAll, false}),
                         PollWithAnswerName);

// Only lower bounds: the machine may always be slower.
TEST(SimLatency, ThePcsBytesArriveLateAndInOrder) {
  auto options = Responsive();
  options.latency_us = 40'000;
  options.jitter_us = 30'000;
  Rig rig(options);
  ASSERT_TRUE(rig.pc.NextPoll(milliseconds(3000)));
  const auto sent = Clock::now();
  for (std::uint8_t i = 1; i <= 5; ++i) rig.pc.SendRaw(Request(i));
  std::string answers;
  while (answers.size() < 5) {
    const auto frame = rig.pc.Next(milliseconds(5000));
    ASSERT_TRUE(frame);
    if (frame->command == link::kPoll) continue;
    if (answers.empty()) {
      EXPECT_GE(Clock::now() - sent, milliseconds(40));
    }
    answers += std::to_string(frame->data.at(0));
  }
  EXPECT_EQ(answers, "12345");
}

// Polls with a jittered pause come at irregular times; without it, every gap
// is the short cycle. Only what a slow machine cannot undo is asserted: some
// gaps far longer than the cycle, and gaps that differ widely.
TEST(SimPolls, PollJitterSpreadsThePausesBeforeThePolls) {
  auto options = Cycle(100, 0, AnswerMode::kAll);
  options.poll_jitter_us = 20'000;
  options.seed = 7;
  Rig rig(options);
  ASSERT_TRUE(rig.pc.NextPoll(milliseconds(3000)));
  auto last = Clock::now();
  std::vector<Clock::duration> gaps;
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(rig.pc.NextPoll(milliseconds(3000)));
    gaps.push_back(Clock::now() - last);
    last = Clock::now();
  }
  const auto [shortest, longest] = std::minmax_element(gaps.begin(), gaps.end());
  EXPECT_GE(*longest, milliseconds(10));
  EXPECT_GE(*longest - *shortest, milliseconds(8));
}

TEST(SimPcFrameFaults, CertainFaultsLeaveEveryFrameUnansweredAndNoneLeavesAllAnswered) {
  struct Case {
    double drop, corrupt;
    bool answered;
  };
  for (const Case c : {Case{1, 0, false}, Case{0, 1, false}, Case{0, 0, true}}) {
    auto options = Responsive();
    if (!c.answered) options.reply_window_us = 100'000;  // each exchange waits for the next poll
    options.rx_drop = c.drop;
    options.rx_corrupt = c.corrupt;
    Rig rig(options);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(rig.pc.Exchange(Command::kCreateFile, FileHeader(2, Ascii("f.yp1"), 0)).has_value(), c.answered);
    }
    ASSERT_TRUE(rig.pc.NextPoll(milliseconds(3000)));
    const auto stats = rig.simulator.Stats();
    EXPECT_EQ(stats.frames_received, 3);
    EXPECT_EQ(stats.rx_dropped, c.drop ? 3 : 0);
    EXPECT_EQ(stats.rx_corrupted, c.corrupt ? 3 : 0);
    EXPECT_EQ(stats.answers, c.answered ? 3 : 0);
    EXPECT_EQ(rig.simulator.State().files.size(), c.answered ? 1u : 0u);
  }
}

// The PC leaves a poll and an answer unread and closes; while it is away the
// console polls on and answers the last request it kept, to nobody. After the
// reopen the PC reads only polls written since.
TEST(SimPolls, PollingGoesOnWhileThePortIsClosedAndNothingStaleIsReadAfterTheReopen) {
  sim::Simulator simulator(Cycle(5'000, 800'000, AnswerMode::kQueue));
  const std::string path = simulator.Start();
  {
    PcPort pc(path);
    ASSERT_TRUE(pc.NextPoll(milliseconds(3000)));
    Bytes three;
    for (std::uint8_t i = 1; i <= 3; ++i) {
      const Bytes request = Request(i);
      three.insert(three.end(), request.begin(), request.end());
    }
    pc.SendRaw(three);
    ASSERT_TRUE(pc.Next(milliseconds(3000)));  // answer 1
    std::this_thread::sleep_for(milliseconds(1200));  // poll 2 and answer 2 left unread
  }
  const long unheard_at_close = simulator.Stats().polls_unheard;
  std::this_thread::sleep_for(milliseconds(800));  // poll 3 with answer 3
  const sim::ExchangeStats at_reopen = simulator.Stats();
  EXPECT_GT(at_reopen.polls_unheard, unheard_at_close);
  EXPECT_EQ(at_reopen.answers_unheard, 1);

  PcPort again(path);
  int polls = 0;
  const auto until = Clock::now() + milliseconds(1200);
  while (const auto frame = again.Next(std::chrono::duration_cast<milliseconds>(until - Clock::now()))) {
    EXPECT_EQ(frame->command, link::kPoll);
    ++polls;
  }
  EXPECT_GE(polls, 1);
  EXPECT_LE(polls, simulator.Stats().polls - at_reopen.polls);
}

// Closed and opened again at once, before the console could see the port
// unheld: what it wrote before the close is gone by the time the PC reads,
// a few milliseconds later, as a program does once its reader has started.
TEST(SimPolls, AReopenAtOnceFindsNothingFromBeforeTheClose) {
  for (int round = 0; round < 5; ++round) {
    sim::Simulator simulator(Cycle(2'000'000, 1'000'000, AnswerMode::kAll));
    const std::string path = simulator.Start();
    auto pc = std::make_unique<PcPort>(path);
    // A first poll written before the port was open is lost, and the next
    // comes a whole window and pause (3 s) later.
    ASSERT_TRUE(pc->NextPoll(milliseconds(4000)));
    pc->SendRaw(Request(1));
    const auto deadline = Clock::now() + milliseconds(3000);
    while (simulator.Stats().answers == 0 && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
    std::this_thread::sleep_for(milliseconds(10));  // the answer lies unread in the port
    pc.reset();
    PcPort again(path);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(again.ReadRaw(64, milliseconds(100)), Bytes{}) << "round " << round;
  }
}

// A repeated create and a repeated delete, identical in every byte.
TEST(SimCopies, ApplyMakesASecondFileAndDeletesTwiceWhereSkipDoesNot) {
  for (const auto copies : {sim::CopyMode::kSkip, sim::CopyMode::kApply}) {
    const bool apply = copies == sim::CopyMode::kApply;
    auto options = Responsive();
    options.copies = copies;
    sim::DeviceState state;
    state.files = {sim::SimFile{1, Ascii("a.L7Q"), {1}}, sim::SimFile{1, Ascii("b.L7Q"), {2}}};
    Rig rig(options, state);
    const Bytes header = FileHeader(2, Ascii("c.yp1"), 2);
    ASSERT_TRUE(rig.pc.Exchange(Command::kCreateFile, header));
    ASSERT_TRUE(rig.pc.Exchange(Command::kCreateFile, header));
    ASSERT_TRUE(rig.pc.Exchange(Command::kFileChunk, Chunk(12, {7, 8})));
    auto files = rig.simulator.State().files;
    ASSERT_EQ(files.size(), apply ? 4u : 3u);
    EXPECT_EQ(files.back().data, (Bytes{7, 8}));
    if (apply) {
      EXPECT_EQ(files[2].data, (Bytes{0xFF, 0xFF}));
    }

    ASSERT_TRUE(rig.pc.Exchange(Command::kDeleteFile, {0}));
    ASSERT_TRUE(rig.pc.Exchange(Command::kDeleteFile, {0}));
    files = rig.simulator.State().files;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, apply ? Ascii("c.yp1") : Ascii("b.L7Q"));
  }
}

}  // namespace
}  // namespace orvane::testing
