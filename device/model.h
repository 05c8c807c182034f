// The device as the last answers described it, in typed records: the
// constants fields, the directory with each file's number, stored name, type
// code and size, the free space, and the status-bar text. The window draws
// its controls from it; the command-line tool prints its table and JSON from
// it. Display strings are made from the records, never read back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/constants_fields.h"

namespace orvane::device {

// The window's limits of zqIntEdit1Change, zqIntEdit3Change and
// zqIntEdit4Change (the constants fields' Limit).
std::int32_t LimitLocalAddress(std::int32_t value);
std::int32_t LimitGlobalAddress(std::int32_t value);
std::int32_t LimitTimeZone(std::int32_t value);

// One file of the device's directory.
struct FileRecord {
  int number = 0;          // as the table shows it: the device's index + 1
  std::string name;        // UTF-8 from code page 1251, as stored (padding included)
  std::uint16_t type = 0;
  std::uint16_t size = 0;  // bytes, as the device reports it

  bool operator==(const FileRecord&) const = default;
};

// The directory of the last refresh: one slot per file the device reported,
// each empty until that file's details have come, and the free space once
// it has been reported in this refresh.
struct Directory {
  std::vector<std::optional<FileRecord>> files;
  std::optional<std::uint16_t> free;

  int count() const { return static_cast<int>(files.size()); }
};

// StringGrid1 as text: four columns, row 0 the header, one row per file, and
// a last row whose second column shows the free space.
class FileTable {
 public:
  static constexpr int kColumns = 4;

  FileTable() { SetRowCount(2); }
  int row_count() const { return static_cast<int>(rows_.size()); }
  void SetRowCount(int rows);
  const std::string& cell(int row, int column) const { return rows_.at(row).at(column); }
  void SetCell(int row, int column, std::string text);

 private:
  std::vector<std::array<std::string, kColumns>> rows_;
};

inline constexpr std::int32_t kInitialFreeSpace = 10000;

struct DeviceModel {
  ConstantsFields fields;
  Directory directory;
  std::string status_panel;  // StatusBar1, panel 0
  std::int32_t free_space = kInitialFreeSpace;
  link::ConstantsBlockBytes constants_block{};  // ConstantsBlock
};

enum class ModelPart { kFields, kTable, kStatus };

// The grid's texts for the directory: the headers, "%d" numbers, the type
// names, "%d б." sizes and "Свободно - %d байт".
FileTable DisplayTable(const Directory& directory);
std::string SizeText(std::uint16_t size);  // "%d б."

}  // namespace orvane::device
