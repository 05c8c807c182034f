#include "cli/log_verdict.h"

#include "link/link_control.h"

namespace orvane::cli {

LogVerdict JudgeLogLine(std::string_view line) {
  if (line == link::kLogDone) return LogVerdict::kOperationDone;
  for (std::string_view failure : {link::kLogNotConnected, link::kLogVerifyError, link::kLogNoAnswer,
                                   link::kLogQueueCleared, kLogPortFailed}) {
    if (line == failure) return LogVerdict::kLinkFailed;
  }
  return LogVerdict::kNone;
}

}  // namespace orvane::cli
