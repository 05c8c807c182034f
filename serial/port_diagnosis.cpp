#include "serial/port_diagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "l10n/l10n.h"
#include "serial/port_names.h"

namespace orvane::serial {
namespace {

namespace fs = std::filesystem;
using Cause = PortDiagnosis::Cause;
using l10n::Format;
using l10n::Tr;

constexpr const char* kDialout = "dialout";

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

std::string GroupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

PortDiagnosis Missing(const std::string& device) {
  const std::vector<std::string> ports = ExistingPorts();
  return {Cause::kMissing, device, Format(Tr("%s does not exist"), device.c_str()),
          ports.empty() ? Tr("no serial port exists here; is the adapter plugged in?")
                        : Format(Tr("ports that exist: %s"), Joined(ports).c_str()),
          ports};
}

// Serial devices belong to the group dialout on Debian; its members may open
// them. A device of group root is for root alone until a udev rule gives it
// to dialout.
PortDiagnosis Permission(const std::string& device, int error) {
  const char* reason = error == EPERM ? Tr("%s: Operation not permitted") : Tr("%s: Permission denied");
  PortDiagnosis diagnosis{Cause::kPermission, device, Format(reason, device.c_str()), "", {}};
  struct stat info{};
  const std::string group = ::stat(device.c_str(), &info) == 0 ? GroupName(info.st_gid) : kDialout;
  diagnosis.names = {group};
  if (group == "root") {
    diagnosis.advice =
        Tr("only root may open it; a udev rule can give it to the group dialout, whose members may then open it");
  } else {
    diagnosis.advice =
        Format(Tr("its group is %1$s: add your user to it (sudo usermod -aG %1$s $USER) and log in again"), group.c_str());
  }
  return diagnosis;
}

PortDiagnosis Busy(const std::string& device) {
  PortDiagnosis diagnosis{Cause::kBusy, device, Format(Tr("%s is in use by another program"), device.c_str()), "", {}};
  const std::vector<std::string> holders = PortHolders(device);
  diagnosis.names = holders;
  if (holders.empty()) {
    diagnosis.advice = Format(Tr("`fuser -v %s` shows which one; close it and try again"), device.c_str());
  } else if (holders.front().starts_with("ModemManager ")) {
    diagnosis.advice = Format(Tr("held by %s, which probes new modems: stop it (sudo systemctl stop ModemManager) "
                                 "and try again"),
                              Joined(holders).c_str());
  } else {
    diagnosis.advice = Format(Tr("held by %s; close it and try again"), Joined(holders).c_str());
  }
  return diagnosis;
}

// The descriptor is open: it must be a terminal that nobody else has locked,
// as the serial component asks.
PortDiagnosis Opened(const std::string& device, int fd) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) {
    return {Cause::kNotSerial, device, Format(Tr("%s is not a serial port"), device.c_str()),
            Tr("give the name of a serial port"), {}};
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return Busy(device);
  ::flock(fd, LOCK_UN);
  return {Cause::kOpensNow, device, Format(Tr("%s opens now"), device.c_str()),
          Tr("it refused the line settings (1000000 baud, 8 data bits, odd parity) or was busy for a moment"), {}};
}

std::string ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

std::string PortDiagnosis::Text() const { return advice.empty() ? reason : reason + "; " + advice; }

PortDiagnosis DiagnosePort(const std::string& port_name) {
  if (port_name.empty()) return {Cause::kNoName, "", Tr("no port is chosen: choose it in the port settings"), "", {}};
  const std::string device = DeviceFileForPort(port_name);
  if (!PortHolders(device).empty()) return Busy(device);
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
      case ENOENT:
      case ENODEV:
      case ENXIO: return Missing(device);
      case EACCES:
      case EPERM: return Permission(device, error);
      case EBUSY: return Busy(device);
      default: return {Cause::kOther, device, Format("%s: %s", device.c_str(), std::strerror(error)), "", {}};
    }
  }
  PortDiagnosis diagnosis = Opened(device, fd);
  ::close(fd);
  return diagnosis;
}

// A descriptor holds the port when it is the same character device, whatever
// name it was opened by. Processes this user may not look into are passed
// over: nothing is known of them.
std::vector<std::string> PortHolders(const std::string& device, const std::string& proc_root) {
  struct stat target{};
  if (::stat(device.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return {};
  std::error_code error;
  std::vector<std::string> holders;
  const std::string self = std::to_string(::getpid());
  for (const fs::directory_entry& process : fs::directory_iterator(proc_root, error)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    std::error_code denied;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", denied)) {
      struct stat open{};
      if (::stat(fd.path().c_str(), &open) == 0 && S_ISCHR(open.st_mode) && open.st_rdev == target.st_rdev) {
        holders.push_back(ReadFirstLine(process.path() / "comm") + " (pid " + pid + ")");
        break;
      }
    }
  }
  return holders;
}

std::vector<std::string> ExistingPorts() {
  std::vector<std::string> ports;
  for (int number = kFirstPortNumber; number <= kLastPortNumber; ++number) {
    const std::string name = "COM" + std::to_string(number);
    const std::string device = DeviceFileForPort(name);
    std::error_code error;
    if (fs::exists(device, error)) ports.push_back(name + " (" + device + ")");
  }
  return ports;
}

}  // namespace orvane::serial
