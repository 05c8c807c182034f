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
#include <nlohmann/json.hpp>
#include <sstream>

#include "link/cp1251.h"
#include "sim/kv80_device.h"
#include "sim/simulator.h"

namespace orvane::sim {
namespace {

using Json = nlohmann::ordered_json;
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

std::optional<Bytes> FromHex(const Json* value) {
  if (!value || !value->is_string()) return std::nullopt;
  const std::string& text = value->get_ref<const std::string&>();
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return out;
}

const Json* Member(const Json& object, const char* name) {
  const auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

bool IsWholeNumberIn(const Json* value, double low, double high) {
  if (!value || !value->is_number()) return false;
  const double number = value->get<double>();
  return number >= low && number <= high && std::floor(number) == number;
}

bool ReadFile(const Json& entry, std::size_t index, SimFile& file, std::string* error) {
  const std::string where = "files[" + std::to_string(index) + "]";
  const Json* type = Member(entry, "type");
  if (!IsWholeNumberIn(type, 0, 0xFFFF)) return Fail(error, where + ".type must be a whole number from 0 to 65535");
  auto name = FromHex(Member(entry, "name_hex"));
  if (!name) return Fail(error, where + ".name_hex must be a hex string");
  if (name->size() > kMaxAnsweredName) {
    return Fail(error, where + ": a name longer than " + std::to_string(kMaxAnsweredName) +
                           " bytes cannot be stored on the console");
  }
  const Json* data_field = Member(entry, "data_hex");
  auto data = data_field ? FromHex(data_field) : std::optional<Bytes>(Bytes{});
  if (!data) return Fail(error, where + ".data_hex must be a hex string");
  file.type = static_cast<std::uint16_t>(type->get<double>());
  file.name = std::move(*name);
  file.data = std::move(*data);
  if (StoredSize(file) > kMaxFileSize) return Fail(error, where + " is longer than 65535 bytes");
  return true;
}

bool ReadState(const Json& root, DeviceState& state, std::string* error) {
  if (!root.is_object()) return Fail(error, "the state must be a JSON object");
  if (const Json* files = Member(root, "files")) {
    if (!files->is_array()) return Fail(error, "files must be an array");
    if (files->size() > kMaxFiles) return Fail(error, "the console holds at most 255 files");
    for (std::size_t i = 0; i < files->size(); ++i) {
      if (!(*files)[i].is_object()) return Fail(error, "files must hold objects");
      SimFile file;
      if (!ReadFile((*files)[i], i, file, error)) return false;
      state.files.push_back(std::move(file));
    }
  }
  if (const Json* constants = Member(root, "constants_hex")) {
    const auto block = FromHex(constants);
    if (!block || block->size() != state.constants.size()) {
      return Fail(error, "constants_hex must be 34 bytes in hex");
    }
    std::copy(block->begin(), block->end(), state.constants.begin());
  }
  if (const Json* firmware = Member(root, "firmware_hex")) {
    auto image = FromHex(firmware);
    if (!image || image->size() > kMaxFirmware) {
      return Fail(error, "firmware_hex must be hex of at most " + std::to_string(kMaxFirmware) + " bytes");
    }
    state.firmware = std::move(*image);
  }
  return true;
}

std::string WriteState(const DeviceState& state) {
  Json files = Json::array();
  for (const SimFile& file : state.files) {
    files.push_back({{"type", file.type},
                     {"name_hex", Hex(file.name)},
                     {"name", link::Cp1251ToUtf8(file.name)},
                     {"data_hex", Hex(file.data)}});
  }
  const Json root = {{"files", std::move(files)},
                     {"constants_hex", Hex(state.constants)},
                     {"firmware_hex", Hex(state.firmware)}};
  return root.dump(2) + "\n";
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
  Json root;
  try {
    root = Json::parse(text.str());
  } catch (const Json::parse_error& failure) {
    return Fail(error, path + ": " + failure.what());
  }
  DeviceState loaded;
  if (!ReadState(root, loaded, error)) return false;
  state = std::move(loaded);
  return true;
}

bool SaveState(const std::string& path, const DeviceState& state, std::string* error) {
  return WriteWhole(path, WriteState(state), error);
}

// Turnarounds are kept to the nanosecond.
bool SaveStats(const std::string& path, const ExchangeStats& stats, std::string* error) {
  Json turnarounds = Json::array();
  for (const double microseconds : stats.turnaround_us) turnarounds.push_back(std::round(microseconds * 1000) / 1000);
  const Json root = {{"polls", stats.polls},
                     {"answers", stats.answers},
                     {"polls_unheard", stats.polls_unheard},
                     {"answers_unheard", stats.answers_unheard},
                     {"frames_received", stats.frames_received},
                     {"rx_dropped", stats.rx_dropped},
                     {"rx_corrupted", stats.rx_corrupted},
                     {"bytes_discarded", stats.bytes_discarded},
                     {"bytes_overflowed", stats.bytes_overflowed},
                     {"turnaround_us", std::move(turnarounds)}};
  return WriteWhole(path, root.dump() + "\n", error);
}

}  // namespace orvane::sim
