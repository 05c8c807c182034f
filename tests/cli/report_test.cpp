#include "cli/report.h"

#include <gtest/gtest.h>

#include "device/session.h"

namespace orvane::cli {
namespace {

device::DeviceModel TwoFiles() {
  device::DeviceModel model;
  model.directory.files = {device::FileRecord{1, "C:\\план \"А\".yp1", 2, 1500},
                           device::FileRecord{2, "x", 0x1A, 3}};
  model.directory.free = 12345;
  model.free_space = 12345;
  model.fields = {"Пульт\t7", -60, 1, 5, 300, -2};
  return model;
}

TEST(Report, JsonHoldsTheFilesFreeSpaceAndConstantsWithEscapedTexts) {
  EXPECT_EQ(FormatJson(TwoFiles()),
            "{\"files\":[{\"number\":1,\"name\":\"C:\\\\план \\\"А\\\".yp1\",\"type\":2,"
            "\"type_name\":\"Годовой план АСУДД\",\"size\":1500},"
            "{\"number\":2,\"name\":\"x\",\"type\":26,\"type_name\":\"Неизвестный тип 1Ah\",\"size\":3}],"
            "\"free\":12345,\"constants\":{\"id\":\"Пульт\\t7\",\"tz\":-60,\"summer\":1,\"local\":5,"
            "\"global\":300,\"serial\":-2}}\n");
}

TEST(Report, JsonOfBytesThatAreNotUtf8ReplacesThemInsteadOfFailing) {
  EXPECT_EQ(DumpJson(Json{{"name", "plan\xFF.yp1"}}), "{\"name\":\"plan\xEF\xBF\xBD.yp1\"}");
}

TEST(Report, TableRowsSkipRowsTheRefreshLeftEmpty) {
  device::DeviceModel model = TwoFiles();
  model.directory.files[1].reset();
  const std::vector<FileEntry> entries = FileEntries(model.directory);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].size, 1500);
  const std::string table = FormatTable(model);
  EXPECT_NE(table.find("  1  C:\\план \"А\".yp1"), std::string::npos) << table;
  EXPECT_NE(table.find("Свободно - 12345 байт\n"), std::string::npos);
  EXPECT_NE(table.find("Переход на летнее время:  Есть (стандартный)\n"), std::string::npos);
  EXPECT_NE(table.find("Смещение часового пояса:  -60 минут.\n"), std::string::npos);
}

TEST(Report, PortsListOneNameALineOrDetails) {
  const std::vector<serial::PortInfo> ports{
      {"COM3", "/dev/ttyS2", "", "", "", ""},
      {"COM5", "/dev/ttyUSB0", "FTDI", "FT232R", "A1", "pci-0000:00:14.0-usb-0:1.1:1.0-port0"},
      {"/dev/ttyUSB9", "/dev/ttyUSB9", "", "", "B2", ""}};
  EXPECT_EQ(FormatPorts(ports, false), "COM3\nCOM5\n/dev/ttyUSB9\n");
  EXPECT_EQ(FormatPorts(ports, true),
            "COM3\t/dev/ttyS2\t-\t-\t-\t-\n"
            "COM5\t/dev/ttyUSB0\tpci-0000:00:14.0-usb-0:1.1:1.0-port0\tFTDI\tFT232R\tA1\n"
            "/dev/ttyUSB9\t/dev/ttyUSB9\t-\t-\t-\tB2\n");
  EXPECT_EQ(FormatPortsJson({ports[1]}),
            "[{\"name\":\"COM5\",\"device\":\"/dev/ttyUSB0\",\"socket\":\"pci-0000:00:14.0-usb-0:1.1:1.0-port0\","
            "\"maker\":\"FTDI\",\"product\":\"FT232R\",\"serial\":\"A1\"}]\n");
  EXPECT_EQ(FormatPortsJson({}), "[]\n");
}

}  // namespace
}  // namespace orvane::cli
