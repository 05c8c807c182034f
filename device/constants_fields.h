// Each field of the constants block once: its key (the tool's option is
// "--" and the key; profiles, job files, records and reports use the key
// itself), the values it accepts, the window's label and how it shows the
// value, and where it lies in the 34-byte block. Everything that reads,
// checks, writes or names a constants field goes through this table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/payloads.h"

namespace orvane::device {

// The block's fields, one member each, written once: as values (what the
// window shows, one member per control) and as a change (what an option, a
// profile or a job sets; an empty member keeps what the console holds).
template <template <typename> class Value>
struct ConstantsOf {
  Value<std::string> identifier{};       // Edit1 (UTF-8)
  Value<std::int32_t> time_zone{};       // zqIntEdit1, minutes east of UTC
  Value<std::int32_t> summer_index{};    // ComboBox1 item index, -1 when none matches
  Value<std::int32_t> local_address{};   // zqIntEdit3
  Value<std::int32_t> global_address{};  // zqIntEdit4
  Value<std::int32_t> serial_number{};   // zqIntEdit2

  bool Empty() const { return *this == ConstantsOf{}; }
  bool operator==(const ConstantsOf&) const = default;
};

template <typename T>
using Plain = T;
using ConstantsFields = ConstantsOf<Plain>;
using ConstantsChange = ConstantsOf<std::optional>;

enum class ConstantsField { kIdentifier, kTimeZone, kSummer, kLocalAddress, kGlobalAddress, kSerialNumber };

inline constexpr std::size_t kIdentifierLimit = link::ConstantsBlock::kIdentifierBytes;  // characters
inline constexpr const char* kSummerNames[] = {"Нет", "Есть (стандартный)"};

struct FieldDescription {
  ConstantsField field;
  const char* key;     // "tz"
  const char* option;  // "--tz"
  const char* label;   // the window's label, "Смещение часового пояса:"
  const char* unit;    // shown after the value ("минут."), or nullptr
  // Numbers: the values accepted. The identifier: its length in characters.
  std::int64_t low;
  std::int64_t high;
  // The window brings a typed value into the range (above the highest gives
  // the highest, then below the lowest the lowest); the other fields take
  // what they are given.
  bool window_limits;
  // A console's own: set by an option, never by a profile or a job.
  bool per_console;
  std::size_t block_offset;  // of its first byte (the identifier: its length byte)
  std::size_t block_bytes;
  std::int32_t ConstantsFields::*number;
  std::optional<std::int32_t> ConstantsChange::*number_change;

  constexpr bool is_text() const { return number == nullptr; }
  constexpr bool Accepts(std::int64_t value) const { return value >= low && value <= high; }
  std::int32_t Limit(std::int32_t value) const;
};

namespace detail {
using Block = link::ConstantsBlock;
template <typename T>
constexpr std::int64_t kLowest = std::numeric_limits<T>::min();
template <typename T>
constexpr std::int64_t kHighest = std::numeric_limits<T>::max();
}  // namespace detail

// In the order the report lists them and the tool compares them.
inline constexpr std::array<FieldDescription, 6> kConstantsFields{{
    {.field = ConstantsField::kIdentifier, .key = "id", .option = "--id", .label = "Идентификатор модема:",
     .unit = nullptr, .low = 0, .high = kIdentifierLimit, .window_limits = false, .per_console = false,
     .block_offset = detail::Block::kIdentifierLengthAt, .block_bytes = 1 + detail::Block::kIdentifierBytes,
     .number = nullptr, .number_change = nullptr},
    {.field = ConstantsField::kTimeZone, .key = "tz", .option = "--tz", .label = "Смещение часового пояса:",
     .unit = "минут.", .low = detail::kLowest<decltype(detail::Block::time_zone)>,
     .high = detail::kHighest<decltype(detail::Block::time_zone)>, .window_limits = true, .per_console = false,
     .block_offset = detail::Block::kTimeZoneAt, .block_bytes = sizeof(detail::Block::time_zone),
     .number = &ConstantsFields::time_zone, .number_change = &ConstantsChange::time_zone},
    {.field = ConstantsField::kSummer, .key = "summer", .option = "--summer", .label = "Переход на летнее время:",
     .unit = nullptr, .low = 0, .high = std::size(kSummerNames) - 1, .window_limits = false, .per_console = false,
     .block_offset = detail::Block::kSummerAt, .block_bytes = sizeof(detail::Block::summer),
     .number = &ConstantsFields::summer_index, .number_change = &ConstantsChange::summer_index},
    // 255 the window never takes.
    {.field = ConstantsField::kLocalAddress, .key = "local", .option = "--local", .label = "Локальный адрес:",
     .unit = nullptr, .low = 0, .high = 254, .window_limits = true, .per_console = false,
     .block_offset = detail::Block::kLocalAt, .block_bytes = sizeof(detail::Block::local_address),
     .number = &ConstantsFields::local_address, .number_change = &ConstantsChange::local_address},
    {.field = ConstantsField::kGlobalAddress, .key = "global", .option = "--global", .label = "Глобальный адрес:",
     .unit = nullptr, .low = 0, .high = detail::kHighest<decltype(detail::Block::global_address)>,
     .window_limits = true, .per_console = false, .block_offset = detail::Block::kGlobalAt,
     .block_bytes = sizeof(detail::Block::global_address), .number = &ConstantsFields::global_address,
     .number_change = &ConstantsChange::global_address},
    {.field = ConstantsField::kSerialNumber, .key = "serial", .option = "--serial", .label = "Серийный номер:",
     .unit = nullptr, .low = detail::kLowest<decltype(detail::Block::serial_number)>,
     .high = detail::kHighest<decltype(detail::Block::serial_number)>, .window_limits = false,
     .per_console = true, .block_offset = detail::Block::kSerialAt,
     .block_bytes = sizeof(detail::Block::serial_number), .number = &ConstantsFields::serial_number,
     .number_change = &ConstantsChange::serial_number},
}};

constexpr const FieldDescription& Describe(ConstantsField field) {
  return kConstantsFields[static_cast<std::size_t>(field)];
}
// The field with this key ("tz"), or nullptr.
const FieldDescription* FieldWithKey(std::string_view key);

// Why an identifier cannot be stored as given; checked for the code page
// first, then for the length.
struct IdentifierProblem {
  enum class Kind { kMalformed, kNotInCp1251, kTooLong } kind;
  std::string character;   // kNotInCp1251: the character, as UTF-8
  std::size_t offset = 0;  // kMalformed, kNotInCp1251: its byte offset
  std::size_t length = 0;  // kTooLong: the characters given
};
std::optional<IdentifierProblem> CheckIdentifier(std::string_view text);

// Sets the fields the change holds, as if typed into the window's controls.
void ApplyChange(const ConstantsChange& change, ConstantsFields& fields);
// True when every field the change holds has its value in `fields`.
bool Holds(const ConstantsFields& fields, const ConstantsChange& change);
// The first field in which the two differ, or nothing.
std::optional<ConstantsField> FirstDifference(const ConstantsFields& a, const ConstantsFields& b);

// The value as the report's table shows it: the identifier as is, a number
// with its unit, the summer time by its item's text ("(N)" for none).
std::string ShownText(const FieldDescription& description, const ConstantsFields& fields);

}  // namespace orvane::device
