#include "station/bench.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>

namespace orvane::station {
namespace {

TEST(Bench, AFileWithSocketsAndAdapters) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("orvane-bench-" + std::to_string(::getpid()) + ".toml");
  std::ofstream(file) << R"(station = "Стенд 2"
[[position]]
name = "Место 1"
socket = "pci-0000:00:14.0-usb-0:1.1:1.0-port0"
[[position]]
name = "Место 2"
adapter = "A50285BI"
)";
  const auto bench = ReadBench(file.string());
  std::filesystem::remove(file);
  ASSERT_TRUE(bench) << bench.error;
  EXPECT_EQ(bench.value->station, "Стенд 2");
  EXPECT_EQ(bench.value->positions,
            (std::vector<Position>{{"Место 1", "pci-0000:00:14.0-usb-0:1.1:1.0-port0", "", ""},
                                   {"Место 2", "", "A50285BI", ""}}));

  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  const auto unnamed = ParseBench("[[position]]\nname = \"1\"\nadapter = \"X\"\n", "bench.toml");
  ASSERT_TRUE(unnamed) << unnamed.error;
  EXPECT_EQ(unnamed.value->station, host);
}

TEST(Bench, EachFaultIsNamedWithItsLine) {
  const std::pair<const char*, const char*> table[] = {
      {"", "\"b.toml\": the bench has no position"},
      {"position = []\n", "\"b.toml\": the bench has no position"},
      {"stations = \"S\"\n", "\"b.toml\", line 1: unknown key \"stations\""},
      {"[[position]]\nname = \"1\"\nsocket = \"a\"\nport = \"COM5\"\n",
       "\"b.toml\", line 4: unknown key \"position.port\""},
      {"[[position]]\nname = \"1\"\n", "\"b.toml\", line 1: position \"1\" has neither a socket nor an adapter"},
      {"[[position]]\nname = \"1\"\nsocket = \"a\"\nadapter = \"b\"\n",
       "\"b.toml\", line 1: position \"1\" has both a socket and an adapter"},
      {"[[position]]\nsocket = \"a\"\n", "\"b.toml\", line 1: a position has no name"},
      {"[[position]]\nname = \"1\"\nsocket = 5\n", "\"b.toml\", line 3: position.socket must be a text"},
      {"position = \"a\"\n", "\"b.toml\", line 1: position must be a list of tables"},
      {"[[position]]\nname = \"1\"\nsocket = \"a\"\n[[position]]\nname = \"1\"\nsocket = \"b\"\n",
       "\"b.toml\", line 4: the name \"1\" is given twice"},
      {"[[position]]\nname = \"1\"\nsocket = \"a\"\n[[position]]\nname = \"2\"\nsocket = \"a\"\n",
       "\"b.toml\", line 4: the socket \"a\" is given twice"},
      {"[[position]]\nname = \"1\"\nadapter = \"A\"\n[[position]]\nname = \"2\"\nadapter = \"A\"\n",
       "\"b.toml\", line 4: the adapter \"A\" is given twice"},
      {"[[position]\n", "\"b.toml\", line 1, column"},
  };
  for (const auto& [text, error] : table) {
    const auto bench = ParseBench(text, "b.toml");
    EXPECT_FALSE(bench) << text;
    EXPECT_TRUE(bench.error.starts_with(error)) << text << "\n" << bench.error;
  }
  EXPECT_TRUE(ReadBench("/nonexistent/b.toml").error.starts_with("cannot read \"/nonexistent/b.toml\": "));
  EXPECT_EQ(ReadBench("/").error, "cannot read \"/\": it is a folder");
}

TEST(Bench, PositionsFindTheirAdaptersOrStayEmpty) {
  const std::vector<serial::PortInfo> adapters{
      {"/dev/ttyUSB3", "/dev/ttyUSB3", "FTDI", "FT232R", "A50285BI", "usb-0:1.10:1.0-port0"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0", "FTDI", "FT232R", "B1", "usb-0:1.2:1.0-port0"},
      {"/dev/ttyACM1", "/dev/ttyACM1", "", "", "", ""},
      {"/dev/ttyACM0", "/dev/ttyACM0", "", "", "C7", ""},
  };
  const Bench bench{"S",
                    {{"Место 1", "usb-0:1.2:1.0-port0", "", ""},
                     {"Место 2", "", "A50285BI", ""},
                     {"Место 3", "usb-0:1.3:1.0-port0", "", ""},
                     {"Место 4", "", "Z9", ""}}};
  std::vector<std::string> devices;
  for (const Position& position : ResolvePositions(bench, adapters)) devices.push_back(position.device);
  EXPECT_EQ(devices, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB3", "", ""}));

  EXPECT_EQ(DefaultPositions(adapters),
            (std::vector<Position>{{"1", "usb-0:1.2:1.0-port0", "B1", "/dev/ttyUSB0"},
                                   {"2", "usb-0:1.10:1.0-port0", "A50285BI", "/dev/ttyUSB3"},
                                   {"3", "", "C7", "/dev/ttyACM0"},
                                   {"4", "", "", "/dev/ttyACM1"}}));
  EXPECT_TRUE(DefaultPositions({}).empty());
}

}  // namespace
}  // namespace orvane::station
