#include "cli/options.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "link/cp1251.h"

namespace orvane::cli {

const char* const kUsage =
    "Usage: orvane-cli [--port NAME] [--json] [--quiet] [--yes] COMMAND [ARGS]\n"
    "The KV80 modem configurator without a window.\n"
    "\n"
    "Commands:\n"
    "  ports [-v]            scan COM1 to COM16; print the names found, one a line\n"
    "  status                connect, refresh, print the files, free space and constants\n"
    "  put FILE              add a plan file to the console\n"
    "  delete N              delete the file shown as number N\n"
    "  erase                 erase all files (asks on a terminal unless --yes)\n"
    "  flash IMAGE           reflash the main program (asks on a terminal unless --yes)\n"
    "  constants [--id TEXT] [--tz MINUTES] [--summer 0|1] [--local N] [--global N] [--serial N]\n"
    "                        change the given constants and save them\n"
    "\n"
    "Options:\n"
    "  --port NAME           COMn or a device path (default: the stored ComPort)\n"
    "  --json                print the result as one JSON object\n"
    "  --quiet               leave out the log lines on stderr\n"
    "  --yes                 answer Yes to the erase and reflash questions\n"
    "  --help                show this text\n"
    "\n"
    "Exit status: 0 done, 1 the link failed, 2 refused input.\n";

namespace {

constexpr std::size_t kIdentifierLimit = 20;

template <typename T>
std::optional<T> ParseInteger(std::string_view text, long long low, long long high) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (text.empty() || failure != std::errc() || stop != end || value < low || value > high) return std::nullopt;
  return static_cast<T>(value);
}

std::optional<Command> CommandNamed(std::string_view name) {
  if (name == "ports") return Command::kPorts;
  if (name == "status") return Command::kStatus;
  if (name == "put") return Command::kPut;
  if (name == "delete") return Command::kDelete;
  if (name == "erase") return Command::kErase;
  if (name == "flash") return Command::kFlash;
  if (name == "constants") return Command::kConstants;
  return std::nullopt;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  ParseResult Run() {
    std::vector<std::string> positional;
    for (index_ = 0; index_ < arguments_.size(); ++index_) {
      std::string_view argument = arguments_[index_];
      std::optional<std::string> inline_value;
      if (argument.starts_with("--") && argument.find('=') != std::string_view::npos) {
        inline_value = std::string(argument.substr(argument.find('=') + 1));
        argument = argument.substr(0, argument.find('='));
      }
      if (argument == "--") {
        for (++index_; index_ < arguments_.size(); ++index_) positional.push_back(arguments_[index_]);
        break;
      }
      if (argument.size() > 1 && argument[0] == '-') {
        if (!Option(argument, inline_value)) return Refused();
      } else {
        positional.push_back(std::string(argument));
      }
    }
    if (options_.help) return {options_, ""};
    if (!Positional(positional)) return Refused();
    if (!constants_given_.empty() && options_.command != Command::kConstants) {
      error_ = constants_given_ + " belongs to the constants command";
      return Refused();
    }
    if (options_.verbose && options_.command != Command::kPorts) {
      error_ = "--verbose belongs to the ports command";
      return Refused();
    }
    return {options_, ""};
  }

 private:
  ParseResult Refused() const { return {std::nullopt, error_}; }

  std::optional<std::string> Value(std::string_view name, std::optional<std::string>& inline_value) {
    if (inline_value) return inline_value;
    if (index_ + 1 >= arguments_.size()) {
      error_ = std::string(name) + " needs a value";
      return std::nullopt;
    }
    return arguments_[++index_];
  }

  template <typename T>
  bool Number(std::string_view name, std::optional<std::string>& inline_value, long long low, long long high,
              std::optional<T>& out) {
    const auto text = Value(name, inline_value);
    if (!text) return false;
    out = ParseInteger<T>(*text, low, high);
    if (!out) {
      error_ = std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not \"" + *text + "\"";
      return false;
    }
    constants_given_ = std::string(name);
    return true;
  }

  bool Flag(bool& flag, const std::optional<std::string>& inline_value, std::string_view name) {
    if (inline_value) {
      error_ = std::string(name) + " takes no value";
      return false;
    }
    flag = true;
    return true;
  }

  bool Option(std::string_view name, std::optional<std::string>& inline_value) {
    using Limits32 = std::numeric_limits<std::int32_t>;
    ConstantsChange& c = options_.constants;
    if (name == "--json") return Flag(options_.json, inline_value, name);
    if (name == "--quiet" || name == "-q") return Flag(options_.quiet, inline_value, name);
    if (name == "--yes" || name == "-y") return Flag(options_.yes, inline_value, name);
    if (name == "--verbose" || name == "-v") return Flag(options_.verbose, inline_value, name);
    if (name == "--help" || name == "-h") return Flag(options_.help, inline_value, name);
    if (name == "--port") {
      options_.port = Value(name, inline_value);
      if (options_.port && options_.port->empty()) error_ = "--port needs a name";
      return options_.port && !options_.port->empty();
    }
    if (name == "--id") {
      c.identifier = Value(name, inline_value);
      if (!c.identifier) return false;
      constants_given_ = "--id";
      if (link::Utf8Length(*c.identifier) > kIdentifierLimit) {
        error_ = "--id holds at most 20 characters";
        return false;
      }
      return true;
    }
    // The window keeps the time zone in a 16-bit field and the addresses
    // within their limits; values beyond them are refused, not cut.
    if (name == "--tz") return Number(name, inline_value, -32768, 32767, c.time_zone);
    if (name == "--summer") return Number(name, inline_value, 0, 1, c.summer);
    if (name == "--local") return Number(name, inline_value, 0, 254, c.local_address);
    if (name == "--global") return Number(name, inline_value, 0, 65535, c.global_address);
    if (name == "--serial") return Number(name, inline_value, Limits32::min(), Limits32::max(), c.serial_number);
    error_ = "unknown option " + std::string(name);
    return false;
  }

  bool Positional(const std::vector<std::string>& words) {
    if (words.empty()) {
      error_ = "no command given";
      return false;
    }
    const auto command = CommandNamed(words[0]);
    if (!command) {
      error_ = "unknown command \"" + words[0] + "\"";
      return false;
    }
    options_.command = *command;
    const bool takes_argument =
        *command == Command::kPut || *command == Command::kDelete || *command == Command::kFlash;
    const std::size_t expected = takes_argument ? 2 : 1;
    if (words.size() != expected) {
      error_ = words[0] + (takes_argument ? " takes one argument" : " takes no arguments");
      return false;
    }
    if (*command == Command::kDelete) {
      const auto number = ParseInteger<int>(words[1], 1, 255);
      if (!number) {
        error_ = "delete needs a file number from 1 to 255, not \"" + words[1] + "\"";
        return false;
      }
      options_.file_number = *number;
    } else if (takes_argument) {
      options_.path = words[1];
      if (options_.path.empty()) {
        error_ = words[0] + " needs a file name";
        return false;
      }
    }
    if (*command == Command::kConstants && options_.constants.Empty()) {
      error_ = "constants needs at least one of --id, --tz, --summer, --local, --global, --serial";
      return false;
    }
    return true;
  }

  const std::vector<std::string>& arguments_;
  std::size_t index_ = 0;
  Options options_;
  std::string error_;
  std::string constants_given_;
};

}  // namespace

ParseResult ParseOptions(const std::vector<std::string>& arguments) { return Parser(arguments).Run(); }

}  // namespace orvane::cli
