// The port scan of `orvane-cli ports` and of --port all: COM1 to COM16 tried
// as the port dialog tries them, with the same log lines on stderr.
#pragma once

#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"

namespace orvane::cli {

std::vector<std::string> ScanForPorts(bool quiet, const Console& console);

// `ports`: the names found, one a line (with -v their devices and USB
// details), or a JSON list.
int RunPortsCommand(const Options& options, const Console& console);

}  // namespace orvane::cli
