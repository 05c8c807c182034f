#include <gtest/gtest.h>

#include "link/cp1251.h"

namespace orvane::link {
namespace {

TEST(Cp1251, EveryByteSurvivesARoundTrip) {
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(Cp1251, CyrillicAndSignsMapToTheirBytes) {
  EXPECT_EQ(Utf8ToCp1251("АЯаяЁё№€"),
            (std::vector<std::uint8_t>{0xC0, 0xDF, 0xE0, 0xFF, 0xA8, 0xB8, 0xB9, 0x88}));
  EXPECT_EQ(Cp1251ToUtf8(std::vector<std::uint8_t>{0xCF, 0xF3, 0xEB, 0xFC, 0xF2}), "Пульт");
}

TEST(Cp1251, CharactersWithoutAByteAndBrokenUtf8BecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("a€ü漢😀"), (std::vector<std::uint8_t>{'a', 0x88, '?', '?', '?'}));
  EXPECT_EQ(Utf8ToCp1251("\xD0"), std::vector<std::uint8_t>{'?'});
  EXPECT_EQ(Utf8ToCp1251("\xE2\x82x"), (std::vector<std::uint8_t>{'?', '?', 'x'}));
}

TEST(Cp1251, CountsAndCutsByCharacters) {
  EXPECT_EQ(Utf8Length("Пульт-7"), 7u);
  EXPECT_EQ(Utf8Prefix("Пульт-7", 3), "Пул");
  EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
}

TEST(Cp1251, FindsTheFirstCharacterItCannotWrite) {
  struct Case {
    const char* text;
    std::optional<Cp1251Gap> gap;
  };
  const Case cases[] = {
      {"", std::nullopt},
      {"Пульт-7 №1 €", std::nullopt},
      {"?", std::nullopt},
      {"Ёё\u00A0\u2116", std::nullopt},
      {"ab日本", Cp1251Gap{"日", 2, false}},
      {"Пульт😀", Cp1251Gap{"😀", 10, false}},
      {"x\xEF\xBF\xBD", Cp1251Gap{"\xEF\xBF\xBD", 1, false}},  // U+FFFD itself is no 1251 character
      {"ü", Cp1251Gap{"ü", 0, false}},
      {"a\xD0", Cp1251Gap{"\xD0", 1, true}},                  // cut sequence
      {"\x80" "abc", Cp1251Gap{"\x80", 0, true}},                // stray continuation byte
      {"\xE2\x82x", Cp1251Gap{"\xE2\x82", 0, true}},          // continuation missing
      {"\xC0\x80", Cp1251Gap{"\xC0\x80", 0, true}},           // overlong NUL
      {"\xE0\x80\xAF", Cp1251Gap{"\xE0\x80\xAF", 0, true}},   // overlong '/'
      {"\xED\xA0\x80", Cp1251Gap{"\xED\xA0\x80", 0, true}},   // surrogate
      {"\xF4\x90\x80\x80", Cp1251Gap{"\xF4\x90\x80\x80", 0, true}},  // past U+10FFFF
      {"\xFF" "a", Cp1251Gap{"\xFF", 0, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto gap = FirstCharacterWithoutCp1251(c.text);
    ASSERT_EQ(gap.has_value(), c.gap.has_value());
    if (!gap) continue;
    EXPECT_EQ(gap->character, c.gap->character);
    EXPECT_EQ(gap->offset, c.gap->offset);
    EXPECT_EQ(gap->malformed, c.gap->malformed);
  }
}

}  // namespace
}  // namespace orvane::link
