// How a log line bears on the end of a run: the success line of the last pop
// ends the current operation; the lines of a link that failed end the run.
#pragma once

#include <string_view>

#include "serial/link_port.h"

namespace orvane::cli {

inline constexpr const char* kLogPortFailed = serial::kLogPortFailed;

enum class LogVerdict { kNone, kOperationDone, kLinkFailed };

// A queue cleared without the success line (a verify error, an answer that
// ended a refresh while entries waited behind it, a closed port) never
// completes the operation, so it fails the run like a silent or stalled
// device does.
LogVerdict JudgeLogLine(std::string_view line);

}  // namespace orvane::cli
