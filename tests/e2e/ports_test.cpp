// A bench of USB adapters beyond the COMn table, in a hub whose sockets have
// by-path names: `ports` lists them in socket order with their sockets, and
// --port all runs on each.
#include <QJsonArray>
#include <filesystem>
#include <map>

#include "tests/e2e/e2e_fixture.h"

namespace orvane::e2e {
namespace {

namespace fs = std::filesystem;

class PortsBench : public EndToEnd {
 protected:
  // Console i behind ports/<tty>, in hub socket `socket` when it has one.
  void Plug(std::size_t i, const std::string& tty, const std::string& socket) {
    StartConsole(i);
    fs::create_symlink(consoles_[i]->port(), Path("ports/" + tty));
    if (!socket.empty()) fs::create_symlink("../ports/" + tty, Path("by-path/" + socket));
  }
  Environment Bench() const { return {{"ORVANE_PORT_DIR", Path("ports")}, {"ORVANE_BY_PATH_DIR", Path("by-path")}}; }
};

TEST_F(PortsBench, AdaptersBeyondTheTableAreFoundInSocketOrderAndEachRuns) {
  fs::create_directories(Path("ports"));
  fs::create_directories(Path("by-path"));
  const std::string socket_2 = "pci-0000:00:14.0-usb-0:1.2:1.0-port0";
  const std::string socket_10 = "pci-0000:00:14.0-usb-0:1.10:1.0-port0";
  Plug(0, "ttyUSB7", socket_10);
  Plug(1, "ttyUSB12", socket_2);
  Plug(2, "COM3", "");
  Plug(3, "ttyACM9", "");
  const std::string ports = Path("ports");

  const RunResult scan = CliWithoutPort({"--quiet", "ports", "-v"}, Bench());
  ASSERT_EQ(scan.exit_status, 0) << scan.err;
  EXPECT_EQ(scan.out, "COM3\t" + ports + "/COM3\t-\t-\t-\t-\n" +                                   //
                          ports + "/ttyUSB12\t" + ports + "/ttyUSB12\t" + socket_2 + "\t-\t-\t-\n" +  //
                          ports + "/ttyUSB7\t" + ports + "/ttyUSB7\t" + socket_10 + "\t-\t-\t-\n" +   //
                          ports + "/ttyACM9\t" + ports + "/ttyACM9\t-\t-\t-\t-\n");
  EXPECT_EQ(scan.err, "");

  const RunResult json = CliWithoutPort({"--json", "ports"}, Bench());
  const QJsonArray list = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
  ASSERT_EQ(list.size(), 4) << json.out;
  EXPECT_EQ(list[1].toObject()["socket"].toString().toStdString(), socket_2);
  EXPECT_EQ(list[0].toObject()["socket"].toString().toStdString(), "");

  const RunResult all =
      CliWithoutPort({"--port", "all", "--quiet", "--json", "constants", "--serial-from", "200"}, Bench());
  ASSERT_EQ(all.exit_status, 0) << all.err << all.out;
  std::map<std::string, int> serials;
  for (const std::string& line : Lines(all.out)) {
    const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    serials[result["port"].toString().toStdString()] = result["constants"].toObject()["serial"].toInt();
  }
  EXPECT_EQ(serials, (std::map<std::string, int>{{"COM3", 200},
                                                 {ports + "/ttyUSB12", 201},
                                                 {ports + "/ttyUSB7", 202},
                                                 {ports + "/ttyACM9", 203}}))
      << "the serial numbers follow the sockets' order";
}

}  // namespace
}  // namespace orvane::e2e
