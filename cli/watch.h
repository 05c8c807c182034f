// provision --watch --port all: the station stays up and runs the job on
// each port as it appears. It watches the folder of the port files with
// inotify (/dev for COM5 to COM16, the USB adapters that come and go; with
// ORVANE_PORT_DIR that folder for COM1 to COM16), and starts a child for a
// port a moment after it appears (the system sets up its permissions). A
// port that disappears and comes back starts again.
//
// On a terminal stdout shows one line per port: waiting, the step and its
// progress, done with the serial number, failed with the reason; without
// one, a line per event. The first Ctrl-C starts no new job and waits for
// the running ones, a second stops them (the signal passed on), then the
// session's totals are printed. The children run in process groups of
// their own, so that the terminal's Ctrl-C reaches only this process.
#pragma once

#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/provision.h"

namespace orvane::cli {

int RunWatch(const Options& options, const Console& console, const std::string& program, PreparedJob& prepared);

}  // namespace orvane::cli
