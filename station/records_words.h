// The words the store and the history write for the run's enums, and back.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "station/record_store.h"

namespace orvane::station {

template <typename Enum>
struct Word {
  Enum value;
  const char* text;
};

inline constexpr Word<ImageAction> kImageActionWords[] = {
    {ImageAction::kNone, "none"}, {ImageAction::kWritten, "written"}, {ImageAction::kAlreadyHeld, "already_held"}};
inline constexpr Word<StepKind> kStepKindWords[] = {
    {StepKind::kNone, "none"},   {StepKind::kConnect, "connect"}, {StepKind::kIdentify, "identify"},
    {StepKind::kImage, "image"}, {StepKind::kErase, "erase"},     {StepKind::kPlan, "plan"},
    {StepKind::kConstants, "constants"}, {StepKind::kCheck, "check"}};
inline constexpr Word<SerialKind> kSerialKindWords[] = {
    {SerialKind::kFresh, "fresh"}, {SerialKind::kAgain, "again"}, {SerialKind::kKept, "kept"}};

template <typename Enum, std::size_t N>
const char* WordOf(const Word<Enum> (&words)[N], Enum value) {
  for (const auto& word : words) {
    if (word.value == value) return word.text;
  }
  return "?";
}

template <typename Enum, std::size_t N>
std::optional<Enum> ValueOf(const Word<Enum> (&words)[N], std::string_view text) {
  for (const auto& word : words) {
    if (text == word.text) return word.value;
  }
  return std::nullopt;
}

}  // namespace orvane::station
