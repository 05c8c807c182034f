// Why a port would not open, in words a user can act on. The link port's log
// keeps its one line "Порт связи не может быть открыт."; this tells the
// system's reason beside it: the port is missing (and which ones exist),
// the user may not open it (and which group to join), or another program
// holds it (and which one, where that can be found out).
#pragma once

#include <string>
#include <vector>

namespace orvane::serial {

struct PortDiagnosis {
  enum class Cause { kNoName, kMissing, kPermission, kBusy, kNotSerial, kOpensNow, kOther };

  Cause cause = Cause::kOther;
  std::string device;  // the device file the name stands for
  std::string reason;  // what the system said, for this port
  std::string advice;  // what to do about it; may be empty
  // The names behind the advice: the ports that exist (missing), the
  // programs that hold the port (busy), the port's group (permission).
  std::vector<std::string> names;

  // "reason; advice" on one line, in the messages' language: for the tool's
  // stderr, and for the window's status bar (the window speaks Russian).
  std::string Text() const;
};

// Tries the port's device file the way the serial component opens it and
// explains what stands in the way. Run it right after an open failed: the
// port may have changed since.
PortDiagnosis DiagnosePort(const std::string& port_name);

// The programs that have the device open (the same character device, by any
// name), as "name (pid N)", from the /proc folder given; this process is
// left out. Empty where nothing can be seen (another user's processes are
// hidden from an ordinary user).
std::vector<std::string> PortHolders(const std::string& device, const std::string& proc_root = "/proc");

// The names COM1 to COM16 whose device files exist, as "COMn (device)".
std::vector<std::string> ExistingPorts();

}  // namespace orvane::serial
