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

PortInfo DescribePort(const std::string& name, const std::string& sysfs_root) {
  PortInfo info{name, DeviceFileForPort(name), {}, {}, {}, {}};
  std::error_code error;
  fs::path device = fs::weakly_canonical(info.device, error);
  if (error) device = info.device;
  ReadUsbDetails(device.filename().string(), sysfs_root, info);
  info.socket = SocketOf(info.device, ByPathFolder());
  return info;
}

// /sys/class/tty/<tty>/device leads into the adapter's interface; the USB
// device with its idVendor and strings is one of the folders above it.
void ReadUsbDetails(const std::string& tty_name, const std::string& sysfs_root, PortInfo& info) {
  std::error_code error;
  fs::path node = fs::canonical(fs::path(sysfs_root) / "class/tty" / tty_name / "device", error);
  if (error) return;
  for (; !node.empty() && node != node.root_path(); node = node.parent_path()) {
    if (fs::exists(node / "idVendor", error)) {
      info.maker = ReadAttribute(node / "manufacturer");
      info.product = ReadAttribute(node / "product");
      info.serial = ReadAttribute(node / "serial");
      return;
    }
  }
}

std::string ByPathFolder() {
  const char* folder = std::getenv("ORVANE_BY_PATH_DIR");
  return folder != nullptr && *folder != '\0' ? folder : "/dev/serial/by-path";
}

std::string SocketOf(const std::string& device, const std::string& by_path_folder) {
  std::error_code error;
  const fs::path target = fs::canonical(device, error);
  if (error) return {};
  std::string found;
  for (const fs::directory_entry& link : fs::directory_iterator(by_path_folder, error)) {
    std::error_code dangling;
    if (fs::canonical(link.path(), dangling) != target || dangling) continue;
    const std::string name = link.path().filename().string();
    if (found.empty() || name < found) found = name;  // the same one whatever the folder's order
  }
  return found;
}

}  // namespace orvane::serial
