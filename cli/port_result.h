// The result of a run on one port, whether it ran in this process or in a
// child of a run on several ports: how it ended and why, and what the
// console showed at the end. One function gives its exit status; one JSON
// line carries it from a child to its parent and is what --json prints for
// each port of a run on several.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/console.h"
#include "cli/commands.h"
#include "cli/report.h"
#include "device/model.h"
#include "station/run_ending.h"

namespace orvane::cli {

enum ExitStatus : int { kExitDone = 0, kExitLinkFailed = 1, kExitRefused = 2, kExitSignal = 128 };

using station::RunEnding;

// 0 done, 1 failed, 2 refused, 128+N stopped by signal N (SIGINT, the
// operator's, when none was told).
int ExitStatusOf(const RunEnding& end);
// {"exit":N, ...between..., "error":TEXT}: the error only for a run that did
// not end done, when there is one.
Json EndJson(const RunEnding& end, const std::string& error, const Json& between = Json::object());

struct PortResult {
  std::string port;
  RunEnding end = RunEnding::Done();
  // Why it did not end done: the link's own line ("Модем не подключен!") or
  // the tool's words; may be empty.
  std::string error;
  // What the last refresh showed, when the run has a result to show: it
  // ended done, or a verify found a difference.
  std::optional<device::DeviceModel> device;
  std::optional<VerifyResult> verify;
};

inline int ExitStatusOf(const PortResult& result) { return ExitStatusOf(result.end); }

// The result as a single run prints it on stdout: the table (and the verify
// line), empty when the run has nothing to show; or one JSON object, on
// failure with "port", "exit" and "error" as for a port of several.
std::string FormatResult(const PortResult& result, bool json);
// An end before any port was touched: "orvane-cli: TEXT" on stderr and,
// with json, {"exit":N,"error":TEXT} on stdout. Returns the exit status.
int Refuse(const Console& console, bool json, const std::string& text, const RunEnding& end);
// The result of one port of a run on several: "== PORT ==" (or "== PORT:
// exit N, ERROR ==") above its table, or with json one line
// {"port","exit",...,"error"}.
std::string FormatPortResult(const PortResult& result, bool json);
// The JSON line that carries a result from a child to its parent: what
// --json prints for the port, and its end itself under "end".
std::string ResultLine(const PortResult& result);
std::optional<PortResult> ParseResultLine(std::string_view line);

// How far a child is, as it tells its parent on the same pipe:
// {"progress":{"step":S,"steps":N,"kind":"flash","done":D,"of":M}}.
struct ChildProgress {
  std::size_t step = 0, steps = 0;
  std::string kind;
  int done = 0, of = 0;  // commands of the step answered, and queued in all
};
std::string ProgressMessage(const RunProgress& progress);
std::optional<ChildProgress> ParseProgressMessage(std::string_view line);

}  // namespace orvane::cli
