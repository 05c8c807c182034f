// The plain model of what the window shows: the constants fields, the file
// table, the status-bar panel and the device's free space. The window binds
// its controls to it; the command-line tool reads it directly.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane::device {

// The constants group of the window, one member per control.
struct ConstantsFields {
  std::string identifier;           // Edit1, at most 20 characters (UTF-8)
  std::int32_t time_zone = 0;       // zqIntEdit1, minutes east of UTC
  int summer_index = 0;             // ComboBox1 item index, -1 when none matches
  std::int32_t local_address = 0;   // zqIntEdit3
  std::int32_t global_address = 0;  // zqIntEdit4
  std::int32_t serial_number = 0;   // zqIntEdit2
};

inline constexpr std::int32_t kLocalAddressMax = 254;
inline constexpr std::int32_t kGlobalAddressMax = 65535;
// The limits of zqIntEdit3Change and zqIntEdit4Change: above the maximum
// gives the maximum, then below 0 gives 0.
std::int32_t LimitLocalAddress(std::int32_t value);
std::int32_t LimitGlobalAddress(std::int32_t value);

// StringGrid1: four columns, row 0 the header, one row per file, and a last
// row whose second column shows the free space.
class FileTable {
 public:
  static constexpr int kColumns = 4;

  FileTable() { SetRowCount(2); }
  int row_count() const { return static_cast<int>(rows_.size()); }
  void SetRowCount(int rows);
  const std::string& cell(int row, int column) const { return rows_.at(row).at(column); }
  void SetCell(int row, int column, std::string text);
  void ClearRow(int row);

 private:
  std::vector<std::array<std::string, kColumns>> rows_;
};

inline constexpr std::size_t kBlockSize = 34;
inline constexpr std::int32_t kInitialFreeSpace = 10000;

struct DeviceModel {
  ConstantsFields fields;
  FileTable table;
  std::string status_panel;  // StatusBar1, panel 0
  std::int32_t free_space = kInitialFreeSpace;
  std::array<std::uint8_t, kBlockSize> constants_block{};  // ConstantsBlock
};

enum class ModelPart { kFields, kTable, kStatus };

}  // namespace orvane::device
