#include "serial/adapters.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace orvane::serial {
namespace {

namespace fs = std::filesystem;

TEST(NaturalLess, NumbersCompareAsNumbers) {
  const std::tuple<const char*, const char*, bool> table[] = {
      {"ttyUSB2", "ttyUSB10", true},
      {"ttyACM9", "ttyUSB0", true},
      {"usb-0:1.2:1.0-port0", "usb-0:1.10:1.0-port0", true},
      {"usb-0:1.10:1.0-port0", "usb-0:1.9:1.0-port0", false},
      {"ttyUSB007", "ttyUSB8", true},
      {"ttyUSB", "ttyUSB0", true},
      {"", "a", true},
  };
  for (const auto& [a, b, less] : table) EXPECT_EQ(NaturalLess(a, b), less) << a << " < " << b;
}

class Bench : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("orvane-adapters-" + std::to_string(::getpid()));
    for (const char* folder : {"dev", "by-path", "sys/class/tty"}) fs::create_directories(root_ / folder);
    folders_ = {(root_ / "dev").string(), (root_ / "by-path").string(), (root_ / "sys").string()};
  }
  void TearDown() override {
    unsetenv("ORVANE_PORT_DIR");
    fs::remove_all(root_);
  }

  std::string Device(const std::string& name) {
    std::ofstream(root_ / "dev" / name) << "";
    return (root_ / "dev" / name).string();
  }
  void Socket(const std::string& socket, const std::string& tty) {
    fs::create_symlink("../dev/" + tty, root_ / "by-path" / socket);
  }
  void UsbSerial(const std::string& tty, const std::string& serial) {
    const fs::path usb = root_ / "sys/devices/usb1" / serial;
    fs::create_directories(usb / "1.0");
    std::ofstream(usb / "idVendor") << "0403\n";
    std::ofstream(usb / "manufacturer") << "FTDI\n";
    std::ofstream(usb / "product") << "FT232R USB UART\n";
    std::ofstream(usb / "serial") << serial << "\n";
    fs::create_directories(root_ / "sys/class/tty" / tty);
    fs::create_directory_symlink(usb / "1.0", root_ / "sys/class/tty" / tty / "device");
  }

  fs::path root_;
  DeviceFolders folders_;
};

TEST_F(Bench, EveryAdapterInSocketOrderThenByDeviceNumber) {
  for (const char* tty : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB7", "ttyUSB6", "ttyS0", "ttyUSBx", "COM5"}) {
    Device(tty);
  }
  Socket("pci-0000:00:14.0-usb-0:1.10:1.0-port0", "ttyUSB2");
  Socket("pci-0000:00:14.0-usb-0:1.9:1.0-port0", "ttyUSB10");
  Socket("pci-0000:00:14.0-usb-0:1.4:1.0-port0", "ttyUSB99");  // unplugged: its link leads nowhere
  UsbSerial("ttyUSB10", "A50285BI");

  std::vector<std::string> order, sockets;
  for (const PortInfo& adapter : ListAdapters(folders_)) {
    EXPECT_EQ(adapter.name, adapter.device);
    order.push_back(fs::path(adapter.device).filename().string());
    sockets.push_back(adapter.socket);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB6", "ttyUSB7"}));
  EXPECT_EQ(sockets, (std::vector<std::string>{"pci-0000:00:14.0-usb-0:1.9:1.0-port0",
                                               "pci-0000:00:14.0-usb-0:1.10:1.0-port0", "", "", ""}));
  const PortInfo first = ListAdapters(folders_).front();
  EXPECT_EQ(first.maker, "FTDI");
  EXPECT_EQ(first.product, "FT232R USB UART");
  EXPECT_EQ(first.serial, "A50285BI");
  EXPECT_EQ(ListAdapters(folders_)[1].serial, "") << "an adapter sysfs knows nothing of";

  folders_.devices = (root_ / "nothing").string();
  EXPECT_TRUE(ListAdapters(folders_).empty());
}

// Built-in ports join the adapters only when they take the link's settings;
// one that refuses them is named so the operator can be told.
TEST_F(Bench, StationLinesAreTheAdaptersAndPortsThatTakeTheSettings) {
  setenv("ORVANE_PORT_DIR", folders_.devices.c_str(), 1);
  Device("ttyUSB12");
  const std::string adapter = Device("ttyUSB0");
  fs::create_symlink(adapter, root_ / "dev" / "COM5");  // COM5 is that adapter already
  std::map<std::string, LineCheck> answers;
  for (const auto& [name, check] : {std::pair{"COM1", LineCheck::kRefusesSettings},
                                    {"COM2", LineCheck::kTakesSettings}, {"COM3", LineCheck::kCannotOpen},
                                    {"COM4", LineCheck::kNotSerial}, {"COM11", LineCheck::kTakesSettings}}) {
    answers[Device(name)] = check;
  }
  std::vector<std::string> probed;
  const StationLines found = FindStationLines(
      [&](const std::string& device) {
        probed.push_back(fs::path(device).filename().string());
        return answers.at(device);
      },
      folders_);

  std::vector<std::string> names;
  for (const PortInfo& line : found.lines) names.push_back(fs::path(line.name).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"ttyUSB0", "ttyUSB12", "COM2", "COM11"}));
  ASSERT_EQ(found.left_out.size(), 1u);
  EXPECT_EQ(found.left_out[0].port.name, "COM1");
  EXPECT_EQ(found.left_out[0].why, LineCheck::kRefusesSettings);
  EXPECT_EQ(probed, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM11"})) << "adapters are not opened";
}

}  // namespace
}  // namespace orvane::serial
