// The state file: what the console stores, as JSON.
//   {"files":[{"type":2,"name_hex":"...","name":"...","data_hex":"..."}],
//    "constants_hex":"...","firmware_hex":"..."}
// name_hex holds the name's code page 1251 bytes and is what is read back;
// name is a UTF-8 copy for people and is ignored on reading.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "link/cp1251.h"
#include "sim/json.h"
#include "sim/kv80_device.h"
#include "sim/simulator.h"

namespace orvane::sim {
namespace {

using json::Value;
using Bytes = std::vector<std::uint8_t>;

// A write chunk at the highest offset reaches this far.
constexpr std::size_t kMaxFirmware = 0xFFFF + 32;
constexpr std::size_t kMaxFileSize = 0xFFFF;

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Bytes> FromHex(const Value* value) {
  if (!value || value->kind != Value::Kind::kString || value->text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(value->text.size() / 2);
  for (std::size_t i = 0; i < value->text.size(); i += 2) {
    const int high = HexDigit(value->text[i]);
    const int low = HexDigit(value->text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return out;
}

bool ReadFile(const Value& entry, std::size_t index, SimFile& file, std::string* error) {
  const std::string where = "files[" + std::to_string(index) + "]";
  const Value* type = entry.Find("type");
  if (!type || type->kind != Value::Kind::kNumber || type->number < 0 || type->number > 0xFFFF ||
      std::floor(type->number) != type->number) {
    return Fail(error, where + ".type must be a whole number from 0 to 65535");
  }
  auto name = FromHex(entry.Find("name_hex"));
  if (!name) return Fail(error, where + ".name_hex must be a hex string");
  if (name->size() > kMaxAnsweredName) {
    return Fail(error, where + ": a name longer than " + std::to_string(kMaxAnsweredName) +
                           " bytes cannot be stored on the console");
  }
  const Value* data_field = entry.Find("data_hex");
  auto data = data_field ? FromHex(data_field) : std::optional<Bytes>(Bytes{});
  if (!data) return Fail(error, where + ".data_hex must be a hex string");
  file.type = static_cast<std::uint16_t>(type->number);
  file.name = std::move(*name);
  file.data = std::move(*data);
  if (StoredSize(file) > kMaxFileSize) return Fail(error, where + " is longer than 65535 bytes");
  return true;
}

bool ReadState(const Value& root, DeviceState& state, std::string* error) {
  if (root.kind != Value::Kind::kObject) return Fail(error, "the state must be a JSON object");
  if (const Value* files = root.Find("files")) {
    if (files->kind != Value::Kind::kArray) return Fail(error, "files must be an array");
    if (files->items.size() > kMaxFiles) return Fail(error, "the console holds at most 255 files");
    for (std::size_t i = 0; i < files->items.size(); ++i) {
      if (files->items[i].kind != Value::Kind::kObject) return Fail(error, "files must hold objects");
      SimFile file;
      if (!ReadFile(files->items[i], i, file, error)) return false;
      state.files.push_back(std::move(file));
    }
  }
  if (const Value* constants = root.Find("constants_hex")) {
    const auto block = FromHex(constants);
    if (!block || block->size() != state.constants.size()) {
      return Fail(error, "constants_hex must be 34 bytes in hex");
    }
    std::copy(block->begin(), block->end(), state.constants.begin());
  }
  if (const Value* firmware = root.Find("firmware_hex")) {
    auto image = FromHex(firmware);
    if (!image || image->size() > kMaxFirmware) {
      return Fail(error, "firmware_hex must be hex of at most " + std::to_string(kMaxFirmware) + " bytes");
    }
    state.firmware = std::move(*image);
  }
  return true;
}

std::string WriteState(const DeviceState& state) {
  std::string out = "{\n  \"files\": [";
  for (std::size_t i = 0; i < state.files.size(); ++i) {
    const SimFile& file = state.files[i];
    out += i ? ",\n    {" : "\n    {";
    out += "\"type\": " + std::to_string(file.type);
    out += ", \"name_hex\": \"" + Hex(file.name) + "\"";
    out += ", \"name\": " + json::Quote(link::Cp1251ToUtf8(file.name));
    out += ", \"data_hex\": \"" + Hex(file.data) + "\"}";
  }
  out += state.files.empty() ? "],\n" : "\n  ],\n";
  out += "  \"constants_hex\": \"" + Hex(state.constants) + "\",\n";
  out += "  \"firmware_hex\": \"" + Hex(state.firmware) + "\"\n}\n";
  return out;
}

// Written beside the target and renamed over it, so a run that dies while
// writing leaves the previous file whole.
bool WriteWhole(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return Fail(error, "cannot write " + temporary + ": " + std::strerror(errno));
    out << text;
    out.flush();
    if (!out) return Fail(error, "cannot write " + temporary + ": " + std::strerror(errno));
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    return Fail(error, "cannot replace " + path + ": " + reason);
  }
  return true;
}

}  // namespace

bool LoadState(const std::string& path, DeviceState& state, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  const auto root = json::Parse(text.str(), error);
  if (!root) return false;
  DeviceState loaded;
  if (!ReadState(*root, loaded, error)) return false;
  state = std::move(loaded);
  return true;
}

bool SaveState(const std::string& path, const DeviceState& state, std::string* error) {
  return WriteWhole(path, WriteState(state), error);
}

bool SaveStats(const std::string& path, const ExchangeStats& stats, std::string* error) {
  const std::pair<const char*, long> counts[] = {
      {"polls", stats.polls},
      {"answers", stats.answers},
      {"polls_unheard", stats.polls_unheard},
      {"answers_unheard", stats.answers_unheard},
      {"frames_received", stats.frames_received},
      {"rx_dropped", stats.rx_dropped},
      {"rx_corrupted", stats.rx_corrupted},
      {"bytes_discarded", stats.bytes_discarded},
      {"bytes_overflowed", stats.bytes_overflowed},
  };
  std::string out = "{";
  for (const auto& [key, value] : counts) out += "\"" + std::string(key) + "\": " + std::to_string(value) + ", ";
  out += "\"turnaround_us\": [";
  char number[32];
  for (std::size_t i = 0; i < stats.turnaround_us.size(); ++i) {
    std::snprintf(number, sizeof number, "%s%.3f", i ? "," : "", stats.turnaround_us[i]);
    out += number;
  }
  out += "]}\n";
  return WriteWhole(path, out, error);
}

}  // namespace orvane::sim
