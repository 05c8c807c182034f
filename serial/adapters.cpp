#include "serial/adapters.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "serial/fd_port.h"
#include "serial/link_port.h"
#include "serial/serial_comm.h"

namespace orvane::serial {
namespace {

namespace fs = std::filesystem;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The run of digits at the start of `text`, without its leading zeros.
std::string_view DigitRun(std::string_view text, std::size_t& length) {
  length = 0;
  while (length < text.size() && IsDigit(text[length])) ++length;
  std::string_view run = text.substr(0, length);
  while (run.size() > 1 && run.front() == '0') run.remove_prefix(1);
  return run;
}

bool IsAdapterName(const std::string& name) {
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    if (name.size() > 6 && name.starts_with(prefix) &&
        std::all_of(name.begin() + 6, name.end(), [](char c) { return IsDigit(c); })) {
      return true;
    }
  }
  return false;
}

std::string FolderOrDefault(const char* variable, const char* fallback) {
  const char* folder = std::getenv(variable);
  return folder != nullptr && *folder != '\0' ? folder : fallback;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

}  // namespace

DeviceFolders DeviceFolders::FromEnvironment() {
  return {FolderOrDefault("ORVANE_PORT_DIR", "/dev"), ByPathFolder(), "/sys"};
}

bool NaturalLess(std::string_view a, std::string_view b) {
  while (!a.empty() && !b.empty()) {
    if (IsDigit(a.front()) && IsDigit(b.front())) {
      std::size_t a_length = 0, b_length = 0;
      const std::string_view a_number = DigitRun(a, a_length), b_number = DigitRun(b, b_length);
      if (a_number.size() != b_number.size()) return a_number.size() < b_number.size();
      if (a_number != b_number) return a_number < b_number;
      a.remove_prefix(a_length);
      b.remove_prefix(b_length);
    } else {
      if (a.front() != b.front()) return a.front() < b.front();
      a.remove_prefix(1);
      b.remove_prefix(1);
    }
  }
  return a.size() < b.size();
}

bool BenchOrder(const PortInfo& a, const PortInfo& b) {
  if (a.socket.empty() != b.socket.empty()) return !a.socket.empty();
  if (a.socket != b.socket) return NaturalLess(a.socket, b.socket);
  return NaturalLess(fs::path(a.device).filename().string(), fs::path(b.device).filename().string());
}

std::vector<PortInfo> ListAdapters(const DeviceFolders& folders) {
  std::vector<PortInfo> adapters;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folders.devices, error)) {
    const std::string tty = entry.path().filename().string();
    if (!IsAdapterName(tty)) continue;
    PortInfo info;
    info.name = info.device = entry.path().string();
    ReadUsbDetails(tty, folders.sysfs, info);
    info.socket = SocketOf(info.device, folders.by_path);
    adapters.push_back(std::move(info));
  }
  std::sort(adapters.begin(), adapters.end(), BenchOrder);
  return adapters;
}

LineCheck CheckLineSettings(const std::string& device) {
  std::unique_ptr<FdPort> port;
  switch (FdPort::Open(device, port)) {
    case FdPort::OpenResult::kCannotOpen: return LineCheck::kCannotOpen;
    case FdPort::OpenResult::kNotCommPort: return LineCheck::kNotSerial;
    case FdPort::OpenResult::kOpened: break;
  }
  TSerialComm comm;
  ConfigureLinkComm(comm);
  return port->SetCommState(comm.dcb()) ? LineCheck::kTakesSettings : LineCheck::kRefusesSettings;
}

StationLines FindStationLines(const LineProbe& probe, const DeviceFolders& folders) {
  StationLines found{ListAdapters(folders), {}};
  const std::size_t adapters = found.lines.size();
  for (int number = kFirstPortNumber; number <= kLastPortNumber; ++number) {
    const std::string name = "COM" + std::to_string(number);
    const std::string device = DeviceFileForPort(name);
    std::error_code error;
    if (!fs::exists(device, error)) continue;
    const auto first = found.lines.begin(), last = first + static_cast<std::ptrdiff_t>(adapters);
    if (std::any_of(first, last, [&](const PortInfo& line) { return SameFile(line.device, device); })) continue;
    PortInfo port{name, device, {}, {}, {}, {}};
    switch (probe(device)) {
      case LineCheck::kTakesSettings: found.lines.push_back(std::move(port)); break;
      case LineCheck::kRefusesSettings: found.left_out.push_back({std::move(port), LineCheck::kRefusesSettings}); break;
      case LineCheck::kCannotOpen:
      case LineCheck::kNotSerial: break;
    }
  }
  return found;
}

}  // namespace orvane::serial
