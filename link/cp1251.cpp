#include "link/cp1251.h"

#include <array>

namespace orvane::link {
namespace {

// Code points of the bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F
// and 0x00 to 0x7F are ASCII. 0x98 is unassigned and kept as U+0098 so that
// every byte survives a round trip.
constexpr std::array<char32_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

constexpr std::uint8_t kUnknown = '?';

char32_t ByteToCodePoint(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
  return kHigh[byte - 0x80];
}

std::uint8_t CodePointToByte(char32_t c) {
  if (c < 0x80) return static_cast<std::uint8_t>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<std::uint8_t>(0xC0 + (c - 0x0410));
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == c) return static_cast<std::uint8_t>(0x80 + i);
  }
  return kUnknown;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one code point at text[i] and advances i; a malformed sequence
// yields U+FFFD for its first byte only.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = static_cast<unsigned char>(text[i++]);
  if (byte < 0x80) return byte;
  std::size_t extra = 0;
  char32_t c = 0;
  if ((byte & 0xE0) == 0xC0) {
    extra = 1, c = byte & 0x1F;
  } else if ((byte & 0xF0) == 0xE0) {
    extra = 2, c = byte & 0x0F;
  } else if ((byte & 0xF8) == 0xF0) {
    extra = 3, c = byte & 0x07;
  } else {
    return 0xFFFD;
  }
  if (i + extra > text.size()) return 0xFFFD;
  for (std::size_t k = 0; k < extra; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (next & 0x3F);
  }
  i += extra;
  return c;
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when it is
// malformed; the decoded code point goes to *c.
std::size_t StrictSequence(std::string_view text, std::size_t i, char32_t* c) {
  std::size_t next = i;
  *c = NextCodePoint(text, next);
  const std::size_t length = next - i;
  if (length == 1) return static_cast<unsigned char>(text[i]) < 0x80 ? 1 : 0;
  const char32_t lowest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (*c < lowest || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::optional<Cp1251Gap> FirstCharacterWithoutCp1251(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = StrictSequence(utf8, i, &c);
    if (length == 0) {
      // The bad lead byte and the continuation bytes that follow it.
      std::size_t end = i + 1;
      while (end < utf8.size() && end < i + 4 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
      return Cp1251Gap{std::string(utf8.substr(i, end - i)), i, true};
    }
    if (CodePointToByte(c) == kUnknown && c != kUnknown) {
      return Cp1251Gap{std::string(utf8.substr(i, length)), i, false};
    }
    i += length;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> Utf8ToCp1251(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) out.push_back(CodePointToByte(NextCodePoint(text, i)));
  return out;
}

std::string Cp1251ToUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) AppendUtf8(out, ByteToCodePoint(byte));
  return out;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) NextCodePoint(text, i);
  return count;
}

std::string Utf8Prefix(std::string_view text, std::size_t characters) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < characters && i < text.size(); ++n) NextCodePoint(text, i);
  return std::string(text.substr(0, i));
}

}  // namespace orvane::link
