// Code page 1251 (Windows Cyrillic), the encoding of every name and text on
// the wire and in the device. Our own table codec: UTF-8 in the program, one byte per
// character on the wire.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::link {

// Each character that 1251 lacks becomes '?'; malformed UTF-8 counts one '?'
// per bad byte.
std::vector<std::uint8_t> Utf8ToCp1251(std::string_view text);
std::string Cp1251ToUtf8(std::span<const std::uint8_t> bytes);

// Number of characters (code points) in a UTF-8 text, and its first n of them.
std::size_t Utf8Length(std::string_view text);
std::string Utf8Prefix(std::string_view text, std::size_t characters);

}  // namespace orvane::link
