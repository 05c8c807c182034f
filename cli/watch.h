// The station session of provision: one engine for a run on the given
// ports (each runs one unit's job, then the session ends) and for --watch
// (the ports are watched for as long as the session lasts, each unit that
// arrives on a line is read and gets its job once).
//
// --watch --port all watches COM5 to COM16 in /dev (with ORVANE_PORT_DIR
// that folder's COM1 to COM16): a port whose file is missing waits for it.
// On a terminal stdout shows one line per port; without one, a line per
// event. The first Ctrl-C starts no new job and waits for the running ones,
// a second (or SIGTERM, SIGHUP) stops them; then the session's totals.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/provision.h"
#include "station/job_snapshot.h"

namespace orvane::cli {

// The ports --watch --port all looks at.
std::vector<std::string> WatchedPorts();

int RunStation(const Options& options, const Console& console, const std::vector<std::string>& ports,
               std::shared_ptr<const station::JobSnapshot> snapshot);

}  // namespace orvane::cli
