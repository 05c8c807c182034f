#include "cli/scan.h"

#include <filesystem>
#include <set>

#include "cli/port_result.h"
#include "cli/report.h"
#include "l10n/l10n.h"
#include "serial/link_port.h"
#include "serial/serial_comm.h"

namespace orvane::cli {
namespace {

// As the window scans: with the link's settings, which a port must take to
// be found.
std::vector<std::string> ScanComNames(bool quiet, const Console& console) {
  serial::TSerialComm comm;
  serial::ConfigureLinkComm(comm);
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

// Whether the COMn table names this device (found by the scan or not).
bool HasComName(const std::string& device) {
  for (int number = serial::kFirstPortNumber; number <= serial::kLastPortNumber; ++number) {
    std::error_code error;
    if (std::filesystem::equivalent(serial::DeviceFileForPort("COM" + std::to_string(number)), device, error)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string LeftOutNote(const serial::LeftOut& left_out) {
  return l10n::Format(l10n::Tr("%1$s (%2$s) is left out: it refuses the line settings (1000000 baud, "
                               "8 data bits, odd parity)"),
                      left_out.port.name.c_str(), left_out.port.device.c_str());
}

// The scan has opened every COMn with the link's settings already: a name it
// found is not opened again.
std::vector<std::string> ScanForPorts(bool quiet, const Console& console, const serial::LineProbe& probe) {
  std::vector<std::string> ports = ScanComNames(quiet, console);
  std::set<std::string> found_devices;
  for (const std::string& name : ports) found_devices.insert(serial::DeviceFileForPort(name));
  const serial::StationLines station = serial::FindStationLines([&](const std::string& device) {
    return found_devices.contains(device) ? serial::LineCheck::kTakesSettings : probe(device);
  });
  for (const serial::LeftOut& left_out : station.left_out) PrintError(console, LeftOutNote(left_out));
  for (const serial::PortInfo& line : station.lines) {
    if (line.name != line.device || HasComName(line.device)) continue;  // a COMn, scanned above
    if (probe(line.device) == serial::LineCheck::kTakesSettings) ports.push_back(line.device);
  }
  return ports;
}

std::vector<std::string> PortsGiven(const Options& options, const Console& console) {
  return options.AllPorts() ? ScanForPorts(options.quiet, console) : options.ports;
}

int RunPortsCommand(const Options& options, const Console& console) {
  std::vector<serial::PortInfo> found;
  for (const std::string& name : ScanForPorts(options.quiet, console)) found.push_back(serial::DescribePort(name));
  if (found.empty()) PrintError(console, l10n::Tr("no port found: none of COM1 to COM16 and of the USB adapters opens"));
  const std::string text = options.json ? FormatPortsJson(found) : FormatPorts(found, options.verbose);
  std::fputs(text.c_str(), console.out);
  std::fflush(console.out);
  return kExitDone;
}

}  // namespace orvane::cli
