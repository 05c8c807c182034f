#include "serial/port_names.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orvane::serial {
namespace {

namespace fs = std::filesystem;

// The number n of a name "COMn" with n from 1 to 16, or 0.
int PortNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0 || name[3] == '0') return 0;
  int number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number <= kLastPortNumber ? number : 0;
}

std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
  return value;
}

}  // namespace

std::string DeviceFileForPort(const std::string& name) {
  const int number = PortNumber(name);
  if (number == 0) return name;
  if (const char* folder = std::getenv("ORVANE_PORT_DIR"); folder != nullptr && *folder != '\0')
    return (fs::path(folder) / name).string();
  if (number <= 4) return "/dev/ttyS" + std::to_string(number - 1);
  if (number <= 10) return "/dev/ttyUSB" + std::to_string(number - 5);
  return "/dev/ttyACM" + std::to_string(number - 11);
}

PortInfo DescribePort(const std::string& name) { return DescribePort(name, "/sys"); }

// /sys/class/tty/<tty>/device leads into the adapter's interface; the USB
// device with its idVendor and strings is one of the folders above it.
PortInfo DescribePort(const std::string& name, const std::string& sysfs_root) {
  PortInfo info{name, DeviceFileForPort(name), {}, {}, {}};
  std::error_code error;
  fs::path device = fs::weakly_canonical(info.device, error);
  if (error) device = info.device;
  fs::path node = fs::canonical(fs::path(sysfs_root) / "class/tty" / device.filename() / "device", error);
  if (error) return info;
  for (; !node.empty() && node != node.root_path(); node = node.parent_path()) {
    if (fs::exists(node / "idVendor", error)) {
      info.maker = ReadAttribute(node / "manufacturer");
      info.product = ReadAttribute(node / "product");
      info.serial = ReadAttribute(node / "serial");
      break;
    }
  }
  return info;
}

}  // namespace orvane::serial
