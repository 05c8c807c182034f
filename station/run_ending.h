// How a run ended, one value for the tool's runs on a port, the station's
// units and the records; the exit status, the words, the JSON and the
// record's text are each made from it by one function. A record keeps the
// kind alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "station/events.h"

namespace orvane::station {

struct RunEnding {
  // kRefused: the run refused its input and wrote nothing to a modem.
  // kRunning and kAbandoned only a record has: a run not ended yet, and one
  // whose session's lease lapsed while it was running.
  enum class Kind { kRunning, kDone, kFailed, kInterrupted, kAbandoned, kRefused };
  // Why a run failed: on the link (or in the run on it), or the modem could
  // not take the job (its room, its number).
  enum class Failure { kLink, kModem };

  Kind kind = Kind::kFailed;  // a run that did not say how it ended failed
  Failure failure = Failure::kLink;
  int signal = 0;  // kInterrupted: the signal that stopped it; 0 when none was told

  static constexpr RunEnding Done() { return {Kind::kDone}; }
  static constexpr RunEnding Failed(Failure failure = Failure::kLink) { return {Kind::kFailed, failure}; }
  static constexpr RunEnding Refused() { return {Kind::kRefused}; }
  static constexpr RunEnding Stopped(int signal) { return {Kind::kInterrupted, Failure::kLink, signal}; }

  bool done() const { return kind == Kind::kDone; }
  bool operator==(const RunEnding&) const = default;
};

// What a record stores of an ending.
using RunResult = RunEnding::Kind;

// The record's text: "running", "done", "failed", "interrupted", "abandoned"
// (a refusal, which no record holds, would read "failed"); and back.
const char* RunResultText(RunResult result);
std::optional<RunResult> RunResultFromText(std::string_view text);

// The tool's words for an ending, in the user's language.
std::string ResultWords(const RunEnding& ending);

// A unit's job that did not end done, by its cause.
RunEnding EndingOf(FailureCause cause, int signal = 0);

}  // namespace orvane::station
