// One command on several modems at once. Each port gets a child process of
// this same program with a --port of its own, all started together: a
// modem that fails, hangs up, stalls or crashes its run ends only that
// child, the children spread over every core, and each keeps the one-port
// run exactly as it is tested. The parent asks the erase and reflash
// question once, passes the log lines on with the port name in front, and
// prints each port's result as it ends: a table under a heading, or with
// --json one object a line carrying "port" and "exit". It exits with the
// worst status of all.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/configurator.h"
#include "cli/options.h"
#include "cli/report.h"

namespace orvane::cli {

// The arguments of the child for one port (the program name not included).
// Questions are answered already (--yes); --serial-from becomes the serial
// number of this port; a trace goes to its own file.
std::vector<std::string> ChildArguments(const Options& options, const std::string& port, std::size_t index);

// FILE.PORT, the port name made fit for a file name ("/dev/ttyUSB0" gives
// "dev-ttyUSB0").
std::string TracePathFor(const std::string& trace, const std::string& port);

// What a child left: its exit status (1 for one killed by a signal), its
// standard output, and the last error it reported.
struct ChildOutcome {
  std::string port;
  int status = 1;
  std::string out;
  std::string error;  // the last "orvane-cli: ..." text or failure log line
};

// The child's result as the parent prints it.
std::string FormatOutcome(const ChildOutcome& outcome, bool json);

// The error a child's stderr line reports, or nothing: the text after
// "orvane-cli: ", or a log line that ends a run as failed.
std::optional<std::string> ErrorOfLine(const std::string& line);

// Runs the children for the ports under the running QCoreApplication and
// returns the worst exit status.
int RunFleet(const Options& options, const std::vector<std::string>& ports, const std::string& program,
             const Console& console);

// The whole run on several ports: the ports that `ports` finds for --port
// all, the checks of the input, the one question, then the children.
int RunOnSeveralPorts(const Options& options, const std::string& program, const Console& console);

}  // namespace orvane::cli
