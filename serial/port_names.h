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
};

// The device file of a name and, for a USB adapter, its maker, product and
// serial number from sysfs; the fields stay empty where there are none.
PortInfo DescribePort(const std::string& name);
PortInfo DescribePort(const std::string& name, const std::string& sysfs_root);

}  // namespace orvane::serial
