#include "device/constants_fields.h"

#include <limits>

#include "tests/device/device_fixture.h"

namespace orvane::device {
namespace {

using Field = ConstantsField;
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

struct Expected {
  Field field;
  const char* key;
  std::int64_t low, high;
  std::size_t offset, bytes;
  bool window_limits, per_console;
};

// The keys every file, option and report uses, the values the window's
// fields hold, and the block's layout as the console reads it.
constexpr Expected kExpected[] = {
    {Field::kIdentifier, "id", 0, 20, 13, 21, false, false},
    {Field::kTimeZone, "tz", -32768, 32767, 10, 2, true, false},
    {Field::kSummer, "summer", 0, 1, 12, 1, false, false},
    {Field::kLocalAddress, "local", 0, 254, 3, 1, true, false},
    {Field::kGlobalAddress, "global", 0, 65535, 4, 2, true, false},
    {Field::kSerialNumber, "serial", kInt32Min, kInt32Max, 6, 4, false, true},
};

TEST(ConstantsFields, EachFieldHasItsKeyRangeLimitAndPlace) {
  ASSERT_EQ(std::size(kExpected), kConstantsFields.size());
  for (const Expected& want : kExpected) {
    const FieldDescription& d = Describe(want.field);
    SCOPED_TRACE(want.key);
    EXPECT_EQ(d.field, want.field);
    EXPECT_STREQ(d.key, want.key);
    EXPECT_EQ(std::string(d.option), std::string("--") + want.key);
    EXPECT_EQ(FieldWithKey(want.key), &d);
    EXPECT_EQ(std::pair(d.low, d.high), std::pair(want.low, want.high));
    EXPECT_EQ(std::pair(d.block_offset, d.block_bytes), std::pair(want.offset, want.bytes));
    EXPECT_EQ(d.per_console, want.per_console);
    EXPECT_TRUE(d.Accepts(want.low) && d.Accepts(want.high));
    EXPECT_FALSE(d.Accepts(want.low - 1));
    EXPECT_FALSE(d.Accepts(want.high + 1));
    if (d.is_text()) continue;
    if (want.window_limits) {
      EXPECT_EQ(d.Limit(static_cast<std::int32_t>(want.high + 1)), want.high);
      EXPECT_EQ(d.Limit(static_cast<std::int32_t>(want.low - 1)), want.low);
    } else {
      EXPECT_EQ(d.Limit(kInt32Max), kInt32Max) << "the window takes the field as typed";
      EXPECT_EQ(d.Limit(kInt32Min), kInt32Min);
    }
  }
  EXPECT_EQ(FieldWithKey("serial_number"), nullptr);
}

TEST(ConstantsFields, AnIdentifierIsCheckedForTheCodePageThenForItsLength) {
  using Kind = IdentifierProblem::Kind;
  const std::string twenty = [] {
    std::string text;
    for (int i = 0; i < 20; ++i) text += "Ж";
    return text;
  }();
  EXPECT_FALSE(CheckIdentifier(""));
  EXPECT_FALSE(CheckIdentifier(twenty)) << "twenty Cyrillic characters are forty bytes";
  const auto long_one = CheckIdentifier(twenty + "Ж");
  ASSERT_TRUE(long_one);
  EXPECT_EQ(long_one->kind, Kind::kTooLong);
  EXPECT_EQ(long_one->length, 21u);
  const auto foreign = CheckIdentifier(twenty + "日");
  ASSERT_TRUE(foreign);
  EXPECT_EQ(foreign->kind, Kind::kNotInCp1251);
  EXPECT_EQ(foreign->character, "日");
  EXPECT_EQ(foreign->offset, 40u);
  const auto broken = CheckIdentifier("ab\xFF");
  ASSERT_TRUE(broken);
  EXPECT_EQ(broken->kind, Kind::kMalformed);
  EXPECT_EQ(broken->offset, 2u);
}

TEST(ConstantsFields, AChangeSetsOnlyItsFieldsWithinTheWindowsLimits) {
  const ConstantsFields before{"old", 60, 0, 1, 2, 3};
  EXPECT_TRUE(ConstantsChange{}.Empty());
  EXPECT_TRUE(Holds(before, {}));
  for (const FieldDescription& d : kConstantsFields) {
    SCOPED_TRACE(d.key);
    ConstantsChange change;
    if (d.is_text()) {
      change.identifier = "new";
    } else {
      change.*d.number_change = static_cast<std::int32_t>(d.high);
    }
    EXPECT_FALSE(change.Empty());
    EXPECT_FALSE(Holds(before, change));
    ConstantsFields after = before;
    ApplyChange(change, after);
    EXPECT_TRUE(Holds(after, change));
    EXPECT_EQ(FirstDifference(before, after), d.field) << "and no other field moved";
    EXPECT_EQ(FirstDifference(after, after), std::nullopt);
  }
  ConstantsChange beyond;
  beyond.local_address = 300;
  beyond.time_zone = -40000;
  ConstantsFields limited = before;
  ApplyChange(beyond, limited);
  EXPECT_EQ(limited.local_address, 254);
  EXPECT_EQ(limited.time_zone, -32768);
}

TEST(ConstantsFields, ASummerTimeIndexWithoutAnItemShowsAsTheIndex) {
  ConstantsFields fields;
  fields.summer_index = -1;
  EXPECT_EQ(ShownText(Describe(Field::kSummer), fields), "(-1)");
}

std::int64_t LittleEndianAt(const Bytes& block, const FieldDescription& d) {
  std::uint64_t value = 0;
  for (std::size_t i = d.block_bytes; i-- > 0;) value = value << 8 | block.at(d.block_offset + i);
  const unsigned bits = 8 * static_cast<unsigned>(d.block_bytes);
  if (d.low < 0 && (value >> (bits - 1)) != 0) return static_cast<std::int64_t>(value) - (std::int64_t{1} << bits);
  return static_cast<std::int64_t>(value);
}

// Both ends of every field go into the saved block at the place the table
// gives, and a read of that block brings them back.
TEST_F(DeviceTest, EachFieldsEndsLandAtItsPlaceInTheBlockAndComeBack) {
  for (const FieldDescription& d : kConstantsFields) {
    for (const std::int64_t end : {d.low, d.high}) {
      SCOPED_TRACE(std::string(d.key) + " " + std::to_string(end));
      ConstantsFields& fields = session.model().fields;
      fields = {};
      std::string identifier;
      for (std::int64_t i = 0; i < end && d.is_text(); ++i) identifier += "Ж";
      ConstantsChange change;
      if (d.is_text()) {
        change.identifier = identifier;
      } else {
        change.*d.number_change = static_cast<std::int32_t>(end);
      }
      ApplyChange(change, fields);
      const ConstantsFields written = fields;
      session.SaveConstants();
      const Bytes block = EntryData(0);
      link().ClearQueue();
      if (d.is_text()) {
        EXPECT_EQ(std::int64_t{block.at(d.block_offset)}, end);
        EXPECT_EQ(Bytes(block.begin() + 14, block.begin() + 14 + end), Bytes(static_cast<std::size_t>(end), 0xC6));
      } else {
        EXPECT_EQ(LittleEndianAt(block, d), end);
      }
      fields = {"other", 1, 1, 1, 1, 1};
      session.QueueReadConstants();
      Answer(Frame(link::kConstantsRead, block));
      EXPECT_EQ(session.model().fields, written);
    }
  }
}

}  // namespace
}  // namespace orvane::device
