// One command on several modems at once. Each port gets a child process of
// this same program with a --port of its own, all started together: a modem
// that fails, hangs up, stalls or crashes its run ends only that child, the
// children spread over every core, and each runs the one-port run exactly as
// it is tested. The parent asks the erase and reflash question once, passes
// the log lines on with the port name in front, takes each child's result
// from a pipe of its own (one JSON line), and prints it as the child ends: a
// table under a heading, or with --json one object a line carrying "port"
// and "exit". It exits with the worst status of all.
#pragma once

#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/port_result.h"

namespace orvane::cli {

// The options of the child for one port: its own --port, questions answered
// (--yes), --serial-from become this port's --serial, a trace file of its
// own, and the descriptor its result goes to.
Options ChildOptions(const Options& options, const std::string& port, std::size_t index, int result_fd);

// FILE.PORT, the port name made fit for a file name: "/dev/ttyUSB0" gives
// "dev-ttyUSB0", and a "-" or "%" of the name is escaped as "%2D" or "%25" so
// that different names never share a file.
std::string TracePathFor(const std::string& trace, const std::string& port);

// The ports as the question to confirm lists them: "A, B, C".
std::string PortList(const std::vector<std::string>& ports);

// The whole run on several ports (the ports `ports` finds for --port all):
// the checks of the input, the one question, then the children.
int RunOnSeveralPorts(const Options& options, const std::string& program, const Console& console);

// How one child ended: its result, and its result line as it came (empty
// when none came), where a command finds what else its children told.
struct ChildEnd {
  PortResult result;
  std::string line;
};

// The children alone, for a command that prints its own results: one per
// port, all at once, signals passed on, log lines with the port in front;
// the ends in the order of the ports.
std::vector<ChildEnd> RunChildren(const Options& options, const std::vector<std::string>& ports,
                                  const std::string& program, const Console& console);

}  // namespace orvane::cli
