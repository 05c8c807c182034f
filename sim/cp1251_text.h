// Code page 1251 (Windows Cyrillic), the one-byte encoding of the names the
// console stores, to and from UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::sim {

// A character that 1251 lacks, and malformed UTF-8 (per bad byte), become '?'.
std::vector<std::uint8_t> Utf8ToCp1251(std::string_view text);
// The one unassigned byte, 0x98, becomes '?'.
std::string Cp1251ToUtf8(std::span<const std::uint8_t> bytes);

}  // namespace orvane::sim
