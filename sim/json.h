// A small JSON reader and the string quoting of the writer, enough for the
// state and statistics files of the simulator.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::sim::json {

struct Value {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;                  // kString, as UTF-8
  std::vector<Value> items;          // kArray; kObject: the member values
  std::vector<std::string> keys;     // kObject: the member names, same order

  // The first member of that name, or nullptr (also when not an object).
  const Value* Find(std::string_view key) const;
};

// Reads one document; nesting deeper than 64 levels is refused so that
// hostile input cannot exhaust the stack. On failure *error says where.
std::optional<Value> Parse(std::string_view text, std::string* error);

// text as a JSON string literal, quotes included; control characters escaped.
std::string Quote(std::string_view text);

}  // namespace orvane::sim::json
