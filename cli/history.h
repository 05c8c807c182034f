// orvane-cli history: the records of provision runs in the station store,
// oldest first, as a table, JSON lines (--json) or CSV (--csv); --serial N,
// --since DATE, --until DATE, --station NAME, --position NAME and
// --result WORD narrow them down; --trace RUN prints that run's trace.
#pragma once

#include "cli/console.h"
#include "cli/options.h"

namespace orvane::cli {

int RunHistory(const Options& options, const Console& console);

}  // namespace orvane::cli
