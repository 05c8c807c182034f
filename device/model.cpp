#include "device/model.h"

namespace orvane::device {

std::int32_t LimitLocalAddress(std::int32_t value) {
  if (value > kLocalAddressMax) value = kLocalAddressMax;
  if (value < 0) value = 0;
  return value;
}

std::int32_t LimitGlobalAddress(std::int32_t value) {
  if (value > kGlobalAddressMax) value = kGlobalAddressMax;
  if (value < 0) value = 0;
  return value;
}

std::int32_t LimitTimeZone(std::int32_t value) {
  if (value > kTimeZoneMax) value = kTimeZoneMax;
  if (value < kTimeZoneMin) value = kTimeZoneMin;
  return value;
}

void FileTable::SetRowCount(int rows) { rows_.resize(rows < 1 ? 1 : static_cast<std::size_t>(rows)); }

void FileTable::SetCell(int row, int column, std::string text) {
  rows_.at(row).at(column) = std::move(text);
}

}  // namespace orvane::device
