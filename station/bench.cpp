#include "station/bench.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <toml++/toml.h>

#include "l10n/l10n.h"
#include "serial/adapters.h"
#include "station/position_worker.h"

namespace orvane::station {
namespace {

using l10n::Format;
using l10n::Tr;

struct Problem {
  std::string text;
  std::uint32_t line = 0;
};
using Check = std::optional<Problem>;

Problem At(const toml::node& node, std::string text) { return {std::move(text), node.source().begin.line}; }

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

// A text value that is not empty.
Check ReadText(const toml::node& node, const std::string& key, std::string& out) {
  const auto* text = node.as_string();
  if (!text) return At(node, Format(Tr("%s must be a text"), key.c_str()));
  if (text->get().empty()) return At(node, Format(Tr("%s is empty"), key.c_str()));
  out = text->get();
  return std::nullopt;
}

Check UnknownKeys(const toml::table& table, std::initializer_list<std::string_view> known, const std::string& prefix) {
  for (const auto& [key, node] : table) {
    if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
      return Problem{Format(Tr("unknown key \"%s\""), (prefix + std::string(key.str())).c_str()), key.source().begin.line};
    }
  }
  return std::nullopt;
}

Check ReadPosition(const toml::node& node, Position& out) {
  const toml::table* table = node.as_table();
  if (!table) return At(node, Tr("position must be a table ([[position]])"));
  if (auto problem = UnknownKeys(*table, {"name", "socket", "adapter"}, "position.")) return problem;
  const toml::node* name = table->get("name");
  if (!name) return At(node, Tr("a position has no name"));
  if (auto problem = ReadText(*name, "position.name", out.name)) return problem;
  const toml::node* socket = table->get("socket");
  const toml::node* adapter = table->get("adapter");
  if (!socket == !adapter) {
    return At(node, Format(socket ? Tr("position \"%s\" has both a socket and an adapter; give one")
                                  : Tr("position \"%s\" has neither a socket nor an adapter; give one"),
                           out.name.c_str()));
  }
  return socket ? ReadText(*socket, "position.socket", out.socket)
                : ReadText(*adapter, "position.adapter", out.adapter_serial);
}

// What no two positions may share, and what is said when two do.
struct Unique {
  std::string Position::*field;
  const char* twice;
};
constexpr Unique kUnique[] = {
    {&Position::name, N_("the name \"%s\" is given twice")},
    {&Position::socket, N_("the socket \"%s\" is given twice")},
    {&Position::adapter_serial, N_("the adapter \"%s\" is given twice")},
};

Check FirstRepeat(const std::vector<Position>& positions, const toml::array& nodes) {
  for (std::size_t i = 0; i < positions.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      for (const Unique& unique : kUnique) {
        const std::string& value = positions[i].*unique.field;
        if (!value.empty() && value == positions[j].*unique.field) {
          return At(*nodes.get(i), Format(Tr(unique.twice), value.c_str()));
        }
      }
    }
  }
  return std::nullopt;
}

Check ReadParts(const toml::table& root, Bench& bench) {
  if (auto problem = UnknownKeys(root, {"station", "position"}, "")) return problem;
  if (const toml::node* station = root.get("station")) {
    if (auto problem = ReadText(*station, "station", bench.station)) return problem;
  } else {
    bench.station = HostName();
  }
  const toml::node* positions = root.get("position");
  const toml::array* list = positions ? positions->as_array() : nullptr;
  if (positions && !list) return At(*positions, Tr("position must be a list of tables ([[position]])"));
  if (!list || list->empty()) return Problem{Tr("the bench has no position ([[position]] with a name and a socket or an adapter)")};
  for (const toml::node& node : *list) {
    Position position;
    if (auto problem = ReadPosition(node, position)) return problem;
    bench.positions.push_back(std::move(position));
  }
  return FirstRepeat(bench.positions, *list);
}

std::string CannotRead(const std::string& path, const std::string& why) {
  return Format(Tr("cannot read \"%s\": %s"), path.c_str(), why.c_str());
}

}  // namespace

Outcome<Bench> ParseBench(std::string_view text, const std::string& path) {
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    const auto& where = error.source().begin;
    return Outcome<Bench>::Failed(Format(Tr("\"%1$s\", line %2$u, column %3$u: %4$s"), path.c_str(), where.line,
                                         where.column, std::string(error.description()).c_str()));
  }
  Bench bench;
  if (auto problem = ReadParts(root, bench)) {
    return Outcome<Bench>::Failed(problem->line > 0 ? Format(Tr("\"%1$s\", line %2$u: %3$s"), path.c_str(),
                                                             problem->line, problem->text.c_str())
                                                    : Format("\"%s\": %s", path.c_str(), problem->text.c_str()));
  }
  return Outcome<Bench>::Done(std::move(bench));
}

Outcome<Bench> ReadBench(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return Outcome<Bench>::Failed(CannotRead(path, Tr("it is a folder")));
  std::ifstream in(path, std::ios::binary);
  if (!in) return Outcome<Bench>::Failed(CannotRead(path, std::strerror(errno)));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return Outcome<Bench>::Failed(CannotRead(path, std::strerror(errno)));
  return ParseBench(text.str(), path);
}

std::vector<Position> ResolvePositions(const Bench& bench, const std::vector<serial::PortInfo>& adapters) {
  std::vector<Position> positions = bench.positions;
  for (Position& position : positions) {
    const auto found = std::find_if(adapters.begin(), adapters.end(), [&](const serial::PortInfo& adapter) {
      return position.socket.empty() ? adapter.serial == position.adapter_serial : adapter.socket == position.socket;
    });
    position.device = found == adapters.end() ? "" : found->device;
  }
  return positions;
}

std::vector<Position> DefaultPositions(std::vector<serial::PortInfo> adapters) {
  std::stable_sort(adapters.begin(), adapters.end(), serial::BenchOrder);
  std::vector<Position> positions;
  for (const serial::PortInfo& adapter : adapters) {
    positions.push_back({std::to_string(positions.size() + 1), adapter.socket, adapter.serial, adapter.device});
  }
  return positions;
}

Outcome<Bench> BenchFor(const std::string& bench_file, const std::vector<serial::PortInfo>& adapters) {
  if (bench_file.empty()) return Outcome<Bench>::Done({"", DefaultPositions(adapters)});
  auto bench = ReadBench(bench_file);
  if (!bench) return bench;
  bench.value->positions = ResolvePositions(*bench.value, adapters);
  return bench;
}

StationPosition LineOf(const Position& position, const serial::DeviceFolders& folders) {
  std::string port = position.device;
  if (!position.socket.empty()) port = (std::filesystem::path(folders.by_path) / position.socket).string();
  return {port, position.adapter_serial, position.name, position.socket};
}

}  // namespace orvane::station
