#include "cli/scan.h"

#include "cli/port_result.h"
#include "cli/report.h"
#include "l10n/l10n.h"
#include "serial/link_port.h"
#include "serial/serial_comm.h"

namespace orvane::cli {

std::vector<std::string> ScanForPorts(bool quiet, const Console& console) {
  serial::TSerialComm comm;
  serial::SimplePortChoice choice;
  auto log = [&](const std::string& line) {
    if (quiet) return;
    std::fprintf(console.err, "%s\n", line.c_str());
    std::fflush(console.err);
  };
  serial::LinkPort link_port(&comm, choice, {.append_log = log, .clear_queue = nullptr, .rearm_watchdog = nullptr});
  link_port.ScanPorts();
  return choice.List();
}

int RunPortsCommand(const Options& options, const Console& console) {
  std::vector<serial::PortInfo> found;
  for (const std::string& name : ScanForPorts(options.quiet, console)) found.push_back(serial::DescribePort(name));
  if (found.empty()) PrintError(console, l10n::Tr("no port found: none of COM1 to COM16 opens"));
  const std::string text = options.json ? FormatPortsJson(found) : FormatPorts(found, options.verbose);
  std::fputs(text.c_str(), console.out);
  std::fflush(console.out);
  return kExitDone;
}

}  // namespace orvane::cli
