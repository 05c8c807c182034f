#include "device/model.h"

namespace orvane::device {

std::int32_t LimitLocalAddress(std::int32_t value) { return Describe(ConstantsField::kLocalAddress).Limit(value); }
std::int32_t LimitGlobalAddress(std::int32_t value) { return Describe(ConstantsField::kGlobalAddress).Limit(value); }
std::int32_t LimitTimeZone(std::int32_t value) { return Describe(ConstantsField::kTimeZone).Limit(value); }

void FileTable::SetRowCount(int rows) { rows_.resize(rows < 1 ? 1 : static_cast<std::size_t>(rows)); }

void FileTable::SetCell(int row, int column, std::string text) {
  rows_.at(row).at(column) = std::move(text);
}

}  // namespace orvane::device
