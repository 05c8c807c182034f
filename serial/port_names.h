// Port names: COM1 to COM16 stand for fixed device files; any other name is
// a device path and is opened as it stands.
#pragma once

#include <string>

namespace orvane::serial {

inline constexpr int kFirstPortNumber = 1;
inline constexpr int kLastPortNumber = 16;

// COM1-COM4: /dev/ttyS0-3, COM5-COM10: /dev/ttyUSB0-5, COM11-COM16:
// /dev/ttyACM0-5. When ORVANE_PORT_DIR is set, COMn is the file COMn in that
// folder instead (a folder of links that stands in for the fixed devices).
std::string DeviceFileForPort(const std::string& name);

struct PortInfo {
  std::string name, device, maker, product, serial;
  std::string socket;  // the hub socket: its link name in /dev/serial/by-path
};

// The device file of a name and, for a USB adapter, its maker, product and
// serial number from sysfs and its socket; the fields stay empty where there
// are none.
PortInfo DescribePort(const std::string& name);
PortInfo DescribePort(const std::string& name, const std::string& sysfs_root);

// Fills maker, product and serial of the tty device named (ttyUSB0) from the
// USB device above it in sysfs.
void ReadUsbDetails(const std::string& tty_name, const std::string& sysfs_root, PortInfo& info);

// The folder of by-path links: $ORVANE_BY_PATH_DIR, or /dev/serial/by-path.
std::string ByPathFolder();
// The name of the link in `by_path_folder` that leads to the same file as
// `device`, or "" (udev makes these links; without it there are none).
std::string SocketOf(const std::string& device, const std::string& by_path_folder);

}  // namespace orvane::serial
