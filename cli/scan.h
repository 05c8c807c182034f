// The port scan of `orvane-cli ports` and of --port all: COM1 to COM16 tried
// as the port dialog tries them, with the same log lines on stderr, then the
// USB adapters the COMn table has no name for, by their device paths.
#pragma once

#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"
#include "serial/adapters.h"

namespace orvane::cli {

// The ports that open and take the link's settings: the COMn names found,
// then the other adapters in bench order. A port that exists but refuses the
// settings (a built-in UART at 1000000 baud) is left out with a note on
// stderr.
std::vector<std::string> ScanForPorts(bool quiet, const Console& console,
                                      const serial::LineProbe& probe = serial::CheckLineSettings);

// The ports of a run on several: those given with --port, or with --port
// all those the scan finds.
std::vector<std::string> PortsGiven(const Options& options, const Console& console);

// "COM1 (/dev/ttyS0) is left out: ..." for the note on stderr.
std::string LeftOutNote(const serial::LeftOut& left_out);

// `ports`: the names found, one a line (with -v their devices, sockets and
// USB details), or a JSON list.
int RunPortsCommand(const Options& options, const Console& console);

}  // namespace orvane::cli
