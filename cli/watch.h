// The station session of provision: one engine for a run on the given
// ports (each runs one unit's job, then the session ends) and for --watch
// (the ports are watched for as long as the session lasts, each unit that
// arrives on a line is read and gets its job once).
//
// --watch --port all watches the positions of the bench: those of --bench
// FILE, or one for each USB adapter ("1", "2", ... in socket order), then
// COM5 to COM16 in /dev (with ORVANE_PORT_DIR that folder's COM1 to COM16)
// where no adapter is behind them. A position held by its hub socket is
// watched through its by-path link; a port whose file is missing waits, one
// that refuses the link's settings is left out.
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
#include "serial/adapters.h"
#include "station/job_snapshot.h"
#include "station/outcome.h"
#include "station/position_worker.h"

namespace orvane::cli {

struct WatchedBench {
  std::string station;  // empty: the host name
  std::vector<station::StationPosition> positions;
  std::vector<serial::LeftOut> left_out;  // COMn ports that refuse the link's settings
};

// The positions --watch --port all looks at; fails on a bench file that
// cannot be read.
station::Outcome<WatchedBench> WatchedPositions(const Options& options);

// The positions of a run on given ports: each port its own.
WatchedBench PortPositions(const std::vector<std::string>& ports);

int RunStation(const Options& options, const Console& console, WatchedBench bench,
               std::shared_ptr<const station::JobSnapshot> snapshot);

}  // namespace orvane::cli
