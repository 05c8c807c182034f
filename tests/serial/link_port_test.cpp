// The link port operations with their log lines, on pseudo-terminals that
// stand in for COMn through ORVANE_PORT_DIR, with the settings store in the
// test's own configuration folder; the port name table and sysfs lookup.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QSettings>
#include <QStringList>
#include <filesystem>
#include <fstream>

#include "serial/link_port.h"
#include "serial/port_names.h"
#include "serial/settings.h"
#include "tests/serial/pty_pair.h"

namespace orvane::serial {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using testing::PtyPair;

fs::path StoreFile() { return fs::path(getenv("XDG_CONFIG_HOME")) / "Veltranix" / "Orvane.conf"; }

class LinkPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(StoreFile().parent_path());
    port_dir = fs::temp_directory_path() / ("orvane-ports-" + std::to_string(getpid()));
    fs::create_directories(port_dir);
    setenv("ORVANE_PORT_DIR", port_dir.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVANE_PORT_DIR");
    fs::remove_all(port_dir);
    fs::remove_all(StoreFile().parent_path());
  }
  void Link(const std::string& name, const PtyPair& pty) { fs::create_symlink(pty.port(), port_dir / name); }

  TSerialComm comm;
  SimplePortChoice choice;
  Lines log;
  int queue_clears = 0;
  int rearms = 0;
  LinkPort link{&comm, choice,
                {[this](const std::string& line) { log.push_back(line); }, [this] { ++queue_clears; },
                 [this] { ++rearms; }}};
  fs::path port_dir;
};

TEST_F(LinkPortTest, FirstStartWithNothingStoredCreatesTheStoreAndFailsToOpen) {
  choice.SetText("");
  link.LoadPortSetting();
  link.OpenLinkPort();
  EXPECT_EQ(log, (Lines{"Загрузка конфигурации...", "Загрузка конфигурации завершена.", "Открытие портa связи:",
                        "Порт связи не может быть открыт."}));
  EXPECT_TRUE(fs::exists(StoreFile()));
  EXPECT_FALSE(QSettings("Veltranix", "Orvane").contains("ComPort"));
  EXPECT_EQ(rearms, 0);
}

TEST_F(LinkPortTest, StoredPortIsLoadedOpenedAndClosed) {
  PtyPair pty;
  Link("COM3", pty);
  SaveComPort("COM3");
  link.LoadPortSetting();
  EXPECT_EQ(choice.Text(), "COM3");
  link.OpenLinkPort();
  EXPECT_TRUE(comm.PortOpen());
  EXPECT_EQ(log, (Lines{"Загрузка конфигурации...", "  настройки порта;", "Загрузка конфигурации завершена.",
                        "Открытие портa связи:", "Порт связи открыт. (COM3)"}));
  EXPECT_EQ(rearms, 1);

  log.clear();
  link.OpenLinkPort();
  EXPECT_TRUE(log.empty()) << "an open port only restarts the watchdog";
  EXPECT_EQ(rearms, 2);

  link.CloseLinkPort();
  EXPECT_EQ(log, (Lines{"Закрытие порта связи", "Порт связи закрыт"}));
  EXPECT_FALSE(comm.PortOpen());
  EXPECT_EQ(queue_clears, 1);
  link.CloseLinkPort();
  EXPECT_EQ(log.size(), 2u) << "a closed port writes no lines";
  EXPECT_EQ(queue_clears, 2) << "but the queue is emptied all the same";
}

TEST_F(LinkPortTest, SavedEmptyNameLoadsAsEmpty) {
  choice.SetText("");
  link.SavePortSetting();
  EXPECT_EQ(log, (Lines{"Сохранение конфигурации...", "  настройки порта;", "Сохранение конфигурации завершено."}));
  choice.SetText("COM9");
  log.clear();
  link.LoadPortSetting();
  EXPECT_EQ(choice.Text(), "");
  EXPECT_EQ(log, (Lines{"Загрузка конфигурации...", "  настройки порта;", "Загрузка конфигурации завершена."}));
}

TEST_F(LinkPortTest, StoredValueOfAnotherTypeIsAnError) {
  QSettings("Veltranix", "Orvane").setValue("ComPort", QStringList{"COM1", "COM2"});
  choice.SetText("COM5");
  try {
    link.LoadPortSetting();
    FAIL() << "no error";
  } catch (const SettingsError& error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'ComPort'");
  }
  EXPECT_EQ(log, Lines{"Загрузка конфигурации..."});
  EXPECT_EQ(choice.Text(), "COM5");
}

TEST_F(LinkPortTest, UnwritableStoreFailsToSaveAndLoadsNothing) {
  fs::create_directories(StoreFile().parent_path().parent_path());
  std::ofstream(StoreFile().parent_path()) << "not a folder";
  choice.SetText("COM1");
  try {
    link.SavePortSetting();
    FAIL() << "no error";
  } catch (const SettingsError& error) {
    EXPECT_STREQ(error.what(), "Failed to set data for 'ComPort'");
  }
  EXPECT_EQ(log, Lines{"Сохранение конфигурации..."});
  log.clear();
  link.LoadPortSetting();
  EXPECT_EQ(log, (Lines{"Загрузка конфигурации...", "Загрузка конфигурации завершена."}));
  fs::remove(StoreFile().parent_path());
}

TEST_F(LinkPortTest, ScanListsTheOpenablePortsInOrderAndLeavesTheChoice) {
  PtyPair first, fourth;
  Link("COM4", fourth);
  Link("COM1", first);
  choice.SetText("COM4");
  link.OpenLinkPort();
  ASSERT_TRUE(comm.PortOpen());
  log.clear();
  choice.AddToList("stale");
  link.ScanPorts();
  EXPECT_EQ(log, (Lines{"Поиск доступных портов:", "  найден порт: COM1;", "  найден порт: COM4;",
                        "Поиск портов завершен."}));
  EXPECT_EQ(choice.List(), (Lines{"COM1", "COM4"})) << "the open link port is listed too";
  EXPECT_EQ(choice.Text(), "COM4");
  EXPECT_FALSE(comm.PortOpen());
  EXPECT_EQ(comm.CommPort(), "COM16");
  EXPECT_EQ(queue_clears, 0);
  EXPECT_EQ(rearms, 1);
}

TEST_F(LinkPortTest, ScanWithoutPortsLogsOnlyItsFrame) {
  link.ScanPorts();
  EXPECT_EQ(log, (Lines{"Поиск доступных портов:", "Поиск портов завершен."}));
  EXPECT_TRUE(choice.List().empty());
}

TEST(LinkPortWithoutComm, OpenAsksForARestart) {
  SimplePortChoice choice;
  Lines log;
  int clears = 0;
  LinkPort link(nullptr, choice, {[&](const std::string& line) { log.push_back(line); }, [&] { ++clears; }, {}});
  link.OpenLinkPort();
  link.CloseLinkPort();
  EXPECT_EQ(log, Lines{"Необходим перезапуск программы!"});
  EXPECT_EQ(clears, 1);
}

TEST(LinkComm, ConfiguredForTheMainWindow) {
  TSerialComm comm;
  comm.SetCommPort("x");
  ConfigureLinkComm(comm);
  EXPECT_EQ(comm.BaudRate(), 1000000u);
  EXPECT_EQ(comm.Parity(), pOdd);
  EXPECT_EQ(comm.FlowControl(), fcNone);
  EXPECT_EQ(comm.EventChar(), 0);
  EXPECT_EQ(comm.CommPort(), "COM2");
  EXPECT_EQ(comm.ByteSize(), sz_8);
  EXPECT_EQ(comm.StopBits(), sb1_0);
}

TEST(PortNames, FixedTableAndOtherNamesAsTheyStand) {
  const std::pair<const char*, const char*> table[] = {
      {"COM1", "/dev/ttyS0"},    {"COM4", "/dev/ttyS3"},     {"COM5", "/dev/ttyUSB0"},
      {"COM10", "/dev/ttyUSB5"}, {"COM11", "/dev/ttyACM0"},  {"COM16", "/dev/ttyACM5"},
      {"COM17", "COM17"},        {"COM0", "COM0"},           {"COM01", "COM01"},
      {"com3", "com3"},          {"COM3x", "COM3x"},         {"/dev/pts/3", "/dev/pts/3"},
      {"", ""}};
  for (const auto& [name, device] : table) EXPECT_EQ(DeviceFileForPort(name), device) << name;
}

TEST(PortNames, UsbAdapterIsDescribedFromSysfs) {
  const fs::path root = fs::temp_directory_path() / ("orvane-sysfs-" + std::to_string(getpid()));
  const fs::path usb = root / "devices/pci0000:00/usb1/1-2";
  fs::create_directories(usb / "1-2:1.0/ttyUSB0");
  fs::create_directories(root / "class/tty");
  std::ofstream(usb / "idVendor") << "0403\n";
  std::ofstream(usb / "manufacturer") << "FTDI\n";
  std::ofstream(usb / "product") << "FT232R USB UART\n";
  std::ofstream(usb / "serial") << "A50285BI\n";
  fs::create_directory_symlink(usb / "1-2:1.0", usb / "1-2:1.0/ttyUSB0/device");
  fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", root / "class/tty/ttyUSB0");

  const PortInfo usb_port = DescribePort("COM5", root.string());
  EXPECT_EQ(usb_port.name, "COM5");
  EXPECT_EQ(usb_port.device, "/dev/ttyUSB0");
  EXPECT_EQ(usb_port.maker, "FTDI");
  EXPECT_EQ(usb_port.product, "FT232R USB UART");
  EXPECT_EQ(usb_port.serial, "A50285BI");
  const PortInfo plain = DescribePort("COM1", root.string());
  EXPECT_EQ(plain.device, "/dev/ttyS0");
  EXPECT_TRUE(plain.maker.empty() && plain.product.empty() && plain.serial.empty());
  fs::remove_all(root);
}

}  // namespace
}  // namespace orvane::serial
