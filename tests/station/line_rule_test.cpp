// The line rule fed times: each scenario is a script of inputs, each with
// the state the line must be in afterwards and what it asks for.
#include "station/line_rule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane::station {
namespace {

using namespace std::chrono_literals;
using S = LineState;

enum class In { kPoll, kTick, kJobStarted, kEnded, kSame, kGone, kBack };

struct Input {
  In in;
  int ms = 0;             // time of a poll or a tick
  S end = S::kDone;       // kEnded: the end
  S state;                // the state afterwards
  bool identify = false;  // asked to read the unit again
  bool job_lost = false;
};

// Polls every 10 ms from `from` to `to` (both included), all quiet.
std::vector<Input> Polls(int from, int to, S state) {
  std::vector<Input> inputs;
  for (int ms = from; ms <= to; ms += 10) inputs.push_back({In::kPoll, ms, {}, state});
  return inputs;
}

struct Scenario {
  std::string name;
  std::vector<std::vector<Input>> parts;
};

TEST(LineRule, FollowsTheModemByItsPolls) {
  const std::vector<Scenario> scenarios = {
      {"no polls: waiting for good, never failed",
       {{{In::kTick, 0, {}, S::kNoModem}, {In::kTick, 60'000, {}, S::kNoModem}}}},
      {"first poll: arrived, read it",
       {{{In::kPoll, 5, {}, S::kArrived, true}}, Polls(15, 100, S::kArrived)}},
      {"arrived, then silent: left without a job",
       {{{In::kPoll, 0, {}, S::kArrived, true}},
        {{In::kTick, 1999, {}, S::kArrived}, {In::kTick, 2000, {}, S::kNoModem}}}},
      {"a job that ends done: remove it until it leaves, then waiting",
       {{{In::kPoll, 0, {}, S::kArrived, true}, {In::kJobStarted, 0, {}, S::kRunning}},
        Polls(10, 500, S::kRunning),
        {{In::kEnded, 500, S::kDone, S::kDone}},
        Polls(510, 5000, S::kDone),
        {{In::kTick, 6999, {}, S::kDone}, {In::kTick, 7000, {}, S::kNoModem}},
        {{In::kPoll, 9000, {}, S::kArrived, true}}}},
      {"silence during the job: the job is lost, then the modem left",
       {{{In::kPoll, 0, {}, S::kArrived, true}, {In::kJobStarted, 0, {}, S::kRunning}},
        Polls(10, 100, S::kRunning),
        {{In::kTick, 2500, {}, S::kRunning}, {In::kTick, 3100, {}, S::kRunning, false, true}},
        {{In::kEnded, 3100, S::kFailed, S::kFailed}, {In::kTick, 3200, {}, S::kNoModem}}}},
      {"a swap faster than a departure: polls resume after a gap, read it again",
       {{{In::kPoll, 0, {}, S::kArrived, true}, {In::kEnded, 0, S::kAlreadyDone, S::kAlreadyDone}},
        Polls(10, 200, S::kAlreadyDone),
        {{In::kPoll, 280, {}, S::kAlreadyDone}},   // 80 ms: the floor, not beyond it
        {{In::kPoll, 900, {}, S::kArrived, true}},  // 620 ms of silence
        {{In::kSame, 900, {}, S::kAlreadyDone}},
        Polls(910, 950, S::kAlreadyDone)}},
      {"a failed unit is not read again while it keeps polling",
       {{{In::kPoll, 0, {}, S::kArrived, true}, {In::kJobStarted, 0, {}, S::kRunning}},
        {{In::kEnded, 0, S::kFailed, S::kFailed}},
        Polls(10, 1000, S::kFailed)}},
      {"the adapter goes and comes back: no port, then waiting",
       {{{In::kPoll, 0, {}, S::kArrived, true}, {In::kGone, 10, {}, S::kNoPort}},
        {{In::kTick, 60'000, {}, S::kNoPort}, {In::kBack, 60'000, {}, S::kNoModem}},
        {{In::kPoll, 60'010, {}, S::kArrived, true}}}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    LineRule rule;
    const LineRule::Time zero{};
    int step = 0;
    for (const auto& part : scenario.parts) {
      for (const Input& input : part) {
        SCOPED_TRACE("input " + std::to_string(step++) + " at " + std::to_string(input.ms) + " ms");
        const LineRule::Time at = zero + std::chrono::milliseconds(input.ms);
        const S before = rule.state();
        LineChange change;
        switch (input.in) {
          case In::kPoll: change = rule.Poll(at); break;
          case In::kTick: change = rule.Tick(at); break;
          case In::kJobStarted: change = rule.JobStarted(); break;
          case In::kEnded: change = rule.UnitEnded(input.end); break;
          case In::kSame: change = rule.SameUnit(); break;
          case In::kGone: change = rule.PortGone(); break;
          case In::kBack: change = rule.PortBack(); break;
        }
        EXPECT_EQ(rule.state(), input.state);
        EXPECT_EQ(change.state.has_value(), before != input.state) << "a change is told exactly when it happens";
        EXPECT_EQ(change.identify, input.identify);
        EXPECT_EQ(change.job_lost, input.job_lost);
      }
    }
  }
}

// The gap that counts as a resume follows the measured poll period, with
// a floor for fast consoles.
TEST(LineRule, TheResumeGapFollowsThePollPeriod) {
  for (const auto& [period_ms, gap] : std::vector<std::pair<int, LineRule::Duration>>{{1, 80ms}, {20, 160ms},
                                                                                     {100, 800ms}}) {
    LineRule rule;
    LineRule::Time at{};
    for (int i = 0; i < 50; ++i, at += std::chrono::milliseconds(period_ms)) rule.Poll(at);
    EXPECT_EQ(rule.ResumeGap(), gap) << period_ms << " ms polls";
  }
}

}  // namespace
}  // namespace orvane::station
