// A value, or the reason there is none: what the station's functions return
// where the caller has to say why something could not be done.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace orvane::station {

template <typename T>
struct Outcome {
  std::optional<T> value;
  std::string error;  // empty when value holds

  static Outcome Done(T v) { return Outcome{std::move(v), {}}; }
  static Outcome Failed(std::string why) { return Outcome{std::nullopt, std::move(why)}; }
  explicit operator bool() const { return value.has_value(); }
};

}  // namespace orvane::station
