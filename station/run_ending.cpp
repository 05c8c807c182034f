#include "station/run_ending.h"

#include "l10n/l10n.h"

namespace orvane::station {
namespace {

using Kind = RunEnding::Kind;

struct RecordWord {
  Kind kind;
  const char* text;
};

// As the stores hold them; old stores read back through the same table.
constexpr RecordWord kRecordWords[] = {{Kind::kRunning, "running"},
                                       {Kind::kDone, "done"},
                                       {Kind::kFailed, "failed"},
                                       {Kind::kInterrupted, "interrupted"},
                                       {Kind::kAbandoned, "abandoned"}};

}  // namespace

const char* RunResultText(RunResult result) {
  if (result == Kind::kRefused) result = Kind::kFailed;
  for (const RecordWord& word : kRecordWords) {
    if (word.kind == result) return word.text;
  }
  return "?";
}

std::optional<RunResult> RunResultFromText(std::string_view text) {
  for (const RecordWord& word : kRecordWords) {
    if (text == word.text) return word.kind;
  }
  return std::nullopt;
}

std::string ResultWords(const RunEnding& ending) {
  switch (ending.kind) {
    case Kind::kRunning: return l10n::Tr("running");
    case Kind::kDone: return l10n::Tr("done");
    case Kind::kFailed: return l10n::Tr("failed");
    case Kind::kInterrupted: return l10n::Tr("interrupted");
    case Kind::kAbandoned: return l10n::Tr("abandoned");
    case Kind::kRefused: return l10n::Tr("refused");
  }
  return l10n::Tr("failed");
}

RunEnding EndingOf(FailureCause cause, int signal) {
  switch (cause) {
    case FailureCause::kStopped: return RunEnding::Stopped(signal);
    case FailureCause::kRefused:
    case FailureCause::kForeignSerial: return RunEnding::Failed(RunEnding::Failure::kModem);
    default: return RunEnding::Failed();
  }
}

}  // namespace orvane::station
