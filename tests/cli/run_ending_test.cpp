// Every way a run can end, and what each view makes of it: the exit status,
// the tool's words, the JSON, the record's text and the end read back from
// it, and the child's result line that carries the end to its parent.
#include <gtest/gtest.h>
#include <signal.h>

#include "cli/port_result.h"
#include "station/run_ending.h"

namespace orvane::cli {
namespace {

using station::FailureCause;
using station::RunResult;

TEST(RunEnding, EachEndGivesItsStatusWordsJsonAndRecord) {
  struct Case {
    RunEnding end;
    int exit;
    const char* words;
    const char* json;
    const char* record;
    RunResult back;
  };
  const Case cases[] = {
      {RunEnding::Done(), 0, "done", R"({"exit":0,"serial":7})", "done", RunResult::kDone},
      {RunEnding::Failed(), 1, "failed", R"({"exit":1,"serial":7,"error":"why"})", "failed", RunResult::kFailed},
      {RunEnding::Failed(RunEnding::Failure::kModem), 1, "failed", R"({"exit":1,"serial":7,"error":"why"})", "failed",
       RunResult::kFailed},
      {RunEnding::Refused(), 2, "refused", R"({"exit":2,"serial":7,"error":"why"})", "failed", RunResult::kFailed},
      {RunEnding::Stopped(SIGTERM), 143, "interrupted", R"({"exit":143,"serial":7,"error":"why"})", "interrupted",
       RunResult::kInterrupted},
      {RunEnding::Stopped(0), 130, "interrupted", R"({"exit":130,"serial":7,"error":"why"})", "interrupted",
       RunResult::kInterrupted},
      {RunEnding{RunResult::kRunning}, 1, "running", R"({"exit":1,"serial":7,"error":"why"})", "running",
       RunResult::kRunning},
      {RunEnding{RunResult::kAbandoned}, 1, "abandoned", R"({"exit":1,"serial":7,"error":"why"})", "abandoned",
       RunResult::kAbandoned},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words + std::string(" ") + std::to_string(c.exit));
    EXPECT_EQ(ExitStatusOf(c.end), c.exit);
    EXPECT_EQ(station::ResultWords(c.end), c.words);
    EXPECT_EQ(DumpJson(EndJson(c.end, "why", {{"serial", 7}})), c.json);
    EXPECT_EQ(station::RunResultText(c.end.kind), std::string(c.record));
    EXPECT_EQ(station::RunResultFromText(c.record), c.back);

    // A child's line carries the end itself, not only its status.
    const PortResult result{.port = "COM3", .end = c.end, .error = "why", .device = std::nullopt, .verify = std::nullopt};
    const auto parsed = ParseResultLine(ResultLine(result));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->end, c.end);
    EXPECT_EQ(FormatPortResult(*parsed, true), FormatPortResult(result, true));
  }
  EXPECT_EQ(DumpJson(EndJson(RunEnding::Done(), "ignored")), R"({"exit":0})");
  EXPECT_EQ(DumpJson(EndJson(RunEnding::Failed(), "")), R"({"exit":1})");
  EXPECT_FALSE(station::RunResultFromText("refused")) << "no record holds a refusal";
  EXPECT_FALSE(station::RunResultFromText("Done"));
  EXPECT_FALSE(ParseResultLine(R"({"port":"COM3","exit":0})")) << "a line without its end is no result";
  EXPECT_FALSE(ParseResultLine(R"({"port":"COM3","exit":0,"end":{"kind":"won","modem":false,"signal":0}})"));
}

TEST(RunEnding, AUnitsCauseTellsWhetherTheModemCouldNotTakeTheJob) {
  const std::pair<FailureCause, RunEnding> cases[] = {
      {FailureCause::kRefused, RunEnding::Failed(RunEnding::Failure::kModem)},
      {FailureCause::kForeignSerial, RunEnding::Failed(RunEnding::Failure::kModem)},
      {FailureCause::kLinkCleared, RunEnding::Failed()},
      {FailureCause::kModemLeft, RunEnding::Failed()},
      {FailureCause::kPortLost, RunEnding::Failed()},
      {FailureCause::kCheckFailed, RunEnding::Failed()},
      {FailureCause::kRecords, RunEnding::Failed()},
  };
  for (const auto& [cause, end] : cases) EXPECT_EQ(station::EndingOf(cause), end) << static_cast<int>(cause);
  EXPECT_EQ(station::EndingOf(FailureCause::kStopped, SIGHUP), RunEnding::Stopped(SIGHUP));
}

}  // namespace
}  // namespace orvane::cli
