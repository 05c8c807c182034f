#include "sim/json.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace orvane::sim::json {
namespace {

constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<Value> Document(std::string* error) {
    Value value;
    bool ok = ParseValue(value, 0);
    SkipSpace();
    if (ok && pos_ != text_.size()) ok = Fail("unexpected text after the document");
    if (!ok) {
      if (error) *error = "JSON error at offset " + std::to_string(pos_) + ": " + problem_;
      return std::nullopt;
    }
    return value;
  }

 private:
  bool Fail(const char* problem) {
    problem_ = problem;
    return false;
  }

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static bool IsNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
  }

  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  bool Take(char expected) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == expected) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool TakeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool ParseValue(Value& value, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    SkipSpace();
    if (pos_ >= text_.size()) return Fail("value expected");
    switch (text_[pos_]) {
      case '{': return ParseObject(value, depth);
      case '[': return ParseArray(value, depth);
      case '"':
        value.kind = Value::Kind::kString;
        return ParseString(value.text);
      case 't':
      case 'f':
        value.kind = Value::Kind::kBool;
        value.boolean = text_[pos_] == 't';
        return TakeWord(value.boolean ? "true" : "false") || Fail("bad literal");
      case 'n':
        value.kind = Value::Kind::kNull;
        return TakeWord("null") || Fail("bad literal");
      default: return ParseNumber(value);
    }
  }

  bool ParseObject(Value& value, int depth) {
    value.kind = Value::Kind::kObject;
    ++pos_;
    if (Take('}')) return true;
    do {
      SkipSpace();
      std::string key;
      if (pos_ >= text_.size() || text_[pos_] != '"' || !ParseString(key)) return Fail("member name expected");
      if (!Take(':')) return Fail("':' expected");
      Value member;
      if (!ParseValue(member, depth + 1)) return false;
      value.keys.push_back(std::move(key));
      value.items.push_back(std::move(member));
    } while (Take(','));
    return Take('}') || Fail("'}' expected");
  }

  bool ParseArray(Value& value, int depth) {
    value.kind = Value::Kind::kArray;
    ++pos_;
    if (Take(']')) return true;
    do {
      Value item;
      if (!ParseValue(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (Take(','));
    return Take(']') || Fail("']' expected");
  }

  bool ParseNumber(Value& value) {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    const std::size_t digits = pos_;
    while (pos_ < text_.size() && IsNumberChar(text_[pos_])) ++pos_;
    if (pos_ == digits || text_[digits] < '0' || text_[digits] > '9') return Fail("value expected");
    const std::string number(text_.substr(start, pos_ - start));
    char* end = nullptr;
    value.kind = Value::Kind::kNumber;
    value.number = std::strtod(number.c_str(), &end);
    return end == number.c_str() + number.size() || Fail("bad number");
  }

  bool Hex4(std::uint32_t& unit) {
    if (pos_ + 4 > text_.size()) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      unit <<= 4;
      if (c >= '0' && c <= '9') unit |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') unit |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') unit |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  static void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  // \uXXXX escapes, surrogate pairs joined; a lone surrogate becomes U+FFFD.
  bool ParseEscapedUnit(std::string& out) {
    std::uint32_t unit = 0;
    if (!Hex4(unit)) return Fail("bad \\u escape");
    if (unit >= 0xD800 && unit < 0xDC00 && TakeWord("\\u")) {
      std::uint32_t low = 0;
      if (!Hex4(low)) return Fail("bad \\u escape");
      unit = (low >= 0xDC00 && low < 0xE000) ? 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00) : 0xFFFD;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      unit = 0xFFFD;
    }
    AppendUtf8(out, unit);
    return true;
  }

  bool ParseString(std::string& out) {
    ++pos_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      const char escaped = text_[pos_++];
      switch (escaped) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u':
          if (!ParseEscapedUnit(out)) return false;
          break;
        default: return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  const char* problem_ = "";
};

}  // namespace

const Value* Value::Find(std::string_view key) const {
  if (kind != Kind::kObject) return nullptr;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == key) return &items[i];
  }
  return nullptr;
}

std::optional<Value> Parse(std::string_view text, std::string* error) {
  return Reader(text).Document(error);
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace orvane::sim::json
