// Code page 1251 (Windows Cyrillic), the encoding of every name and text on
// the wire and in the device. Our own table codec: UTF-8 in the program, one byte per
// character on the wire.
#pragma once

#include <cstdint>
#include <optional>
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

// The first spot in a UTF-8 text that cannot be written in code page 1251:
// a character the code page lacks, or malformed UTF-8 (a stray or missing
// continuation byte, a cut sequence, an overlong form, a surrogate, a code
// point past U+10FFFF).
struct Cp1251Gap {
  std::string character;  // the character as UTF-8, or the malformed bytes
  std::size_t offset = 0;  // byte offset in the text
  bool malformed = false;
};
// Nothing when every character of the text has a byte in code page 1251.
std::optional<Cp1251Gap> FirstCharacterWithoutCp1251(std::string_view utf8);

}  // namespace orvane::link
