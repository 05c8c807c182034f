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

}  // namespace
}  // namespace orvane::link
