#include "station/job.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <span>
#include <sstream>
#include <toml++/toml.h>

#include "l10n/l10n.h"
#include "device/file_rules.h"
#include "device/session.h"
#include "link/cp1251.h"
#include "link/payloads.h"

namespace orvane::station {
namespace {

using l10n::Format;
using l10n::Tr;

// A serial number the station gives is positive and fits the constants
// block's field.
constexpr std::int64_t kSerialMax = std::numeric_limits<decltype(link::ConstantsBlock::serial_number)>::max();

struct NumberField {
  std::string_view key;
  std::int64_t low, high;
  std::optional<std::int32_t> Constants::*target;
};

constexpr NumberField kNumberFields[] = {
    {"tz", -32768, 32767, &Constants::time_zone},
    {"summer", 0, 1, &Constants::summer},
    {"local", 0, 254, &Constants::local_address},
    {"global", 0, 65535, &Constants::global_address},
};

using Keys = std::span<const std::string_view>;
constexpr std::string_view kTopKeys[] = {"image", "erase", "plans", "constants", "serial"};
constexpr std::string_view kConstantsKeys[] = {"id", "tz", "summer", "local", "global"};
constexpr std::string_view kSerialKeys[] = {"first", "last"};

// A problem and the line it is on (0 when it has none).
struct Problem {
  std::string text;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};
using Check = std::optional<Problem>;

Problem At(const toml::node& node, std::string text) {
  return {std::move(text), node.source().begin.line, node.source().begin.column};
}

std::string_view TypeName(toml::node_type type) {
  switch (type) {
    case toml::node_type::table: return Tr("a table");
    case toml::node_type::array: return Tr("an array");
    case toml::node_type::string: return Tr("a text");
    case toml::node_type::integer: return Tr("an integer");
    case toml::node_type::floating_point: return Tr("a decimal number");
    case toml::node_type::boolean: return Tr("true or false");
    case toml::node_type::date: return Tr("a date");
    case toml::node_type::time: return Tr("a time");
    case toml::node_type::date_time: return Tr("a date and time");
    case toml::node_type::none: break;
  }
  return Tr("nothing");
}

Problem WrongType(const toml::node& node, std::string_view name, std::string_view wanted) {
  return At(node, Format(Tr("%1$s must be %2$s, not %3$s"), std::string(name).c_str(), std::string(wanted).c_str(),
                        std::string(TypeName(node.type())).c_str()));
}

// A key as it would be written in the file: bare when it can be, else as a
// literal string in single quotes.
std::string KeyText(std::string_view key) {
  const bool bare = !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
  return bare ? std::string(key) : "'" + std::string(key) + "'";
}

bool Known(Keys keys, std::string_view key) { return std::find(keys.begin(), keys.end(), key) != keys.end(); }

// The first key of the file, by position, that a job does not have.
Check FirstUnknownKey(const toml::table& root) {
  Check first;
  auto note = [&first](const toml::key& key, const std::string& dotted) {
    const auto& where = key.source().begin;
    if (first && std::pair(first->line, first->column) <= std::pair(where.line, where.column)) return;
    std::string text = dotted == "constants.serial"
                           ? Format(Tr("unknown key \"%s\" (each modem's serial number comes from the [serial] counter)"),
                                    dotted.c_str())
                           : Format(Tr("unknown key \"%s\""), dotted.c_str());
    first = Problem{std::move(text), where.line, where.column};
  };
  auto walk = [&note](const toml::table& table, std::string_view prefix, Keys keys) {
    for (const auto& [key, node] : table) {
      (void)node;
      if (!Known(keys, key.str())) note(key, std::string(prefix) + KeyText(key.str()));
    }
  };
  walk(root, "", kTopKeys);
  if (const toml::table* constants = root["constants"].as_table()) walk(*constants, "constants.", kConstantsKeys);
  if (const toml::table* serial = root["serial"].as_table()) walk(*serial, "serial.", kSerialKeys);
  return first;
}

std::string Resolve(const std::filesystem::path& folder, const std::string& path) {
  const std::filesystem::path given(path);
  return (given.is_absolute() ? given : folder / given).lexically_normal().string();
}

// A file path from the job: a text that is not empty, made absolute.
Check ReadPath(const toml::node& node, const std::string& name, const std::filesystem::path& folder, std::string& out) {
  const auto* text = node.as_string();
  if (!text) return WrongType(node, name, Tr("a text (a file path)"));
  if (text->get().empty()) return At(node, Format(Tr("%s is empty"), name.c_str()));
  out = Resolve(folder, text->get());
  return std::nullopt;
}

Check CheckStoredName(const toml::node& node, const std::string& name, const std::string& path) {
  const auto gap = device::StoredNameGap(path);
  if (!gap) return std::nullopt;
  if (gap->malformed) return At(node, Format(Tr("%s is not valid UTF-8"), name.c_str()));
  return At(node, Format(Tr("%1$s: \"%2$s\" has no code page 1251 form"), name.c_str(), gap->character.c_str()));
}

// Each plan once: a second upload under the same stored name would leave
// the console with one of them.
Check ReadPlans(const toml::node& node, const std::filesystem::path& folder, std::vector<std::string>& out) {
  const toml::array* list = node.as_array();
  if (!list) return WrongType(node, "plans", Tr("an array of file paths"));
  std::vector<std::vector<std::uint8_t>> stored;
  for (std::size_t i = 0; i < list->size(); ++i) {
    const toml::node& item = *list->get(i);
    const std::string name = "plans[" + std::to_string(i) + "]";
    std::string path;
    if (auto problem = ReadPath(item, name, folder, path)) return problem;
    if (auto problem = CheckStoredName(item, name, path)) return problem;
    stored.push_back(device::DeviceFileName(path));
    const auto first = std::find(stored.begin(), stored.end(), stored.back());
    if (first != stored.end() - 1) {
      return At(item, Format(Tr("%1$s: \"%2$s\" is listed twice (also plans[%3$zu])"), name.c_str(),
                             item.as_string()->get().c_str(), static_cast<std::size_t>(first - stored.begin())));
    }
    out.push_back(path);
  }
  return std::nullopt;
}

Check ReadInteger(const toml::node& node, const std::string& name, std::int64_t low, std::int64_t high,
                  std::int32_t& out) {
  const auto* number = node.as_integer();
  if (!number) return WrongType(node, name, Tr("an integer"));
  const std::int64_t value = number->get();
  if (value < low || value > high) {
    return At(node, Format(Tr("%1$s must be from %2$lld to %3$lld, not %4$lld"), name.c_str(),
                           static_cast<long long>(low), static_cast<long long>(high), static_cast<long long>(value)));
  }
  out = static_cast<std::int32_t>(value);
  return std::nullopt;
}

Check ReadIdentifier(const toml::node& node, std::optional<std::string>& out) {
  const auto* text = node.as_string();
  if (!text) return WrongType(node, "constants.id", Tr("a text"));
  const std::string& id = text->get();
  if (const auto gap = link::FirstCharacterWithoutCp1251(id)) {
    if (gap->malformed) return At(node, Format(Tr("constants.id is not valid UTF-8 at byte %zu"), gap->offset));
    return At(node, Format(Tr("constants.id: \"%s\" has no code page 1251 form"), gap->character.c_str()));
  }
  if (const std::size_t length = link::Utf8Length(id); length > kIdentifierLimit) {
    return At(node, Format(Tr("constants.id holds at most %1$zu characters, not %2$zu"), kIdentifierLimit, length));
  }
  out = id;
  return std::nullopt;
}

Check ReadConstants(const toml::node& node, Constants& out) {
  const toml::table* table = node.as_table();
  if (!table) return WrongType(node, "constants", Tr("a table"));
  if (const toml::node* id = table->get("id")) {
    if (auto problem = ReadIdentifier(*id, out.identifier)) return problem;
  }
  for (const NumberField& field : kNumberFields) {
    const toml::node* value = table->get(field.key);
    if (!value) continue;
    std::int32_t number = 0;
    if (auto problem = ReadInteger(*value, "constants." + std::string(field.key), field.low, field.high, number)) {
      return problem;
    }
    out.*field.target = number;
  }
  return std::nullopt;
}

Check ReadSerial(const toml::node& node, std::optional<SerialRange>& out) {
  const toml::table* table = node.as_table();
  if (!table) return WrongType(node, "serial", Tr("a table with first and last"));
  const toml::node* first = table->get("first");
  const toml::node* last = table->get("last");
  if (!first || !last) {
    return At(node, first ? Tr("serial needs both first and last, last is missing")
                          : Tr("serial needs both first and last, first is missing"));
  }
  SerialRange range;
  if (auto problem = ReadInteger(*first, "serial.first", 1, kSerialMax, range.first)) return problem;
  if (auto problem = ReadInteger(*last, "serial.last", 1, kSerialMax, range.last)) return problem;
  if (range.first > range.last) {
    return At(*first, Format(Tr("serial.first (%1$d) is above serial.last (%2$d)"), range.first, range.last));
  }
  out = range;
  return std::nullopt;
}

Check ReadParts(const toml::table& root, const std::filesystem::path& folder, Job& job) {
  if (auto problem = FirstUnknownKey(root)) return problem;
  if (const toml::node* image = root.get("image")) {
    std::string path;
    if (auto problem = ReadPath(*image, "image", folder, path)) return problem;
    job.image = path;
  }
  if (const toml::node* erase = root.get("erase")) {
    const auto* flag = erase->as_boolean();
    if (!flag) return WrongType(*erase, "erase", Tr("true or false"));
    job.erase = flag->get();
  }
  if (const toml::node* plans = root.get("plans")) {
    if (auto problem = ReadPlans(*plans, folder, job.plans)) return problem;
  }
  if (const toml::node* constants = root.get("constants")) {
    if (auto problem = ReadConstants(*constants, job.constants)) return problem;
  }
  if (const toml::node* serial = root.get("serial")) {
    if (auto problem = ReadSerial(*serial, job.serial)) return problem;
  }
  if (!job.image && !job.erase && job.plans.empty() && job.constants.Empty() && !job.serial) {
    return Problem{Tr("the job does nothing: it has no image, erase, plans, constants or serial")};
  }
  return std::nullopt;
}

std::string CannotRead(const std::string& path, const char* why) {
  return Format(Tr("cannot read \"%s\": %s"), path.c_str(), why);
}

}  // namespace

std::string SerialRange::Text() const { return Format(Tr("%1$d to %2$d"), first, last); }

Outcome<Job> ParseJob(std::string_view text, const std::string& path) {
  Job job;
  job.file = std::filesystem::absolute(std::filesystem::path(path)).lexically_normal().string();
  const std::filesystem::path folder = std::filesystem::path(job.file).parent_path();
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    const auto& where = error.source().begin;
    return Outcome<Job>::Failed(Format(Tr("\"%1$s\", line %2$u, column %3$u: %4$s"), path.c_str(), where.line,
                                       where.column, std::string(error.description()).c_str()));
  }
  if (auto problem = ReadParts(root, folder, job)) {
    return Outcome<Job>::Failed(problem->line > 0 ? Format(Tr("\"%1$s\", line %2$u: %3$s"), path.c_str(), problem->line,
                                                           problem->text.c_str())
                                                  : Format("\"%s\": %s", path.c_str(), problem->text.c_str()));
  }
  return Outcome<Job>::Done(std::move(job));
}

Outcome<Job> ReadJob(const std::string& path) {
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) {
    return Outcome<Job>::Failed(CannotRead(path, std::strerror(errno)));
  }
  if (S_ISDIR(info.st_mode)) return Outcome<Job>::Failed(CannotRead(path, Tr("it is a folder")));
  if (static_cast<std::uintmax_t>(info.st_size) > kJobFileLimit) {
    return Outcome<Job>::Failed(Format(Tr("\"%s\" is too big for a job file"), path.c_str()));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return Outcome<Job>::Failed(CannotRead(path, std::strerror(errno)));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return Outcome<Job>::Failed(CannotRead(path, std::strerror(errno)));
  return ParseJob(text.str(), path);
}

}  // namespace orvane::station
