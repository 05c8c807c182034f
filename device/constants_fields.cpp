#include "device/constants_fields.h"

#include <algorithm>

#include "link/cp1251.h"

namespace orvane::device {
namespace {

constexpr bool EachFieldInItsPlace() {
  for (std::size_t i = 0; i < kConstantsFields.size(); ++i) {
    const FieldDescription& d = kConstantsFields[i];
    if (static_cast<std::size_t>(d.field) != i) return false;
    if (d.block_offset + d.block_bytes > link::kConstantsBlockBytes) return false;
    if (d.is_text() != (d.number_change == nullptr) || d.low > d.high) return false;
  }
  return true;
}
static_assert(EachFieldInItsPlace(), "Describe() indexes by the enum; every field lies inside the block");

}  // namespace


std::int32_t FieldDescription::Limit(std::int32_t value) const {
  if (!window_limits) return value;
  if (value > high) value = static_cast<std::int32_t>(high);
  if (value < low) value = static_cast<std::int32_t>(low);
  return value;
}

const FieldDescription* FieldWithKey(std::string_view key) {
  const auto it = std::find_if(kConstantsFields.begin(), kConstantsFields.end(),
                               [key](const FieldDescription& d) { return key == d.key; });
  return it == kConstantsFields.end() ? nullptr : &*it;
}

std::optional<IdentifierProblem> CheckIdentifier(std::string_view text) {
  using Kind = IdentifierProblem::Kind;
  if (const auto gap = link::FirstCharacterWithoutCp1251(text)) {
    return IdentifierProblem{gap->malformed ? Kind::kMalformed : Kind::kNotInCp1251, gap->character, gap->offset, 0};
  }
  if (const std::size_t length = link::Utf8Length(text); length > kIdentifierLimit) {
    return IdentifierProblem{Kind::kTooLong, {}, 0, length};
  }
  return std::nullopt;
}

void ApplyChange(const ConstantsChange& change, ConstantsFields& fields) {
  if (change.identifier) fields.identifier = *change.identifier;
  for (const FieldDescription& d : kConstantsFields) {
    if (d.is_text()) continue;
    if (const auto& value = change.*d.number_change) fields.*d.number = d.Limit(*value);
  }
}

bool Holds(const ConstantsFields& fields, const ConstantsChange& change) {
  ConstantsFields changed = fields;
  ApplyChange(change, changed);
  return changed == fields;
}

std::optional<ConstantsField> FirstDifference(const ConstantsFields& a, const ConstantsFields& b) {
  for (const FieldDescription& d : kConstantsFields) {
    if (d.is_text() ? a.identifier != b.identifier : a.*d.number != b.*d.number) return d.field;
  }
  return std::nullopt;
}

std::string ShownText(const FieldDescription& description, const ConstantsFields& fields) {
  if (description.is_text()) return fields.identifier;
  const std::int32_t value = fields.*description.number;
  if (description.field == ConstantsField::kSummer) {
    return description.Accepts(value) ? kSummerNames[value] : "(" + std::to_string(value) + ")";
  }
  std::string text = std::to_string(value);
  if (description.unit) text += std::string(" ") + description.unit;
  return text;
}

}  // namespace orvane::device
