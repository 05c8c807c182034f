#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <limits>

#include "link/cp1251.h"

namespace orvane::cli {

const char* const kUsage =
    "Usage: orvane-cli [--port NAME]... [--json] [--quiet] [--yes] [--trace FILE] COMMAND [ARGS]\n"
    "The KV80 modem configurator without a window.\n"
    "\n"
    "Commands:\n"
    "  ports [-v]            scan COM1 to COM16; print the names found, one a line\n"
    "  status                connect, refresh, print the files, free space and constants\n"
    "  put FILE              add a plan file to the console\n"
    "  delete N              delete the file shown as number N\n"
    "  erase                 erase all files (asks on a terminal unless --yes)\n"
    "  flash IMAGE           reflash the main program (asks on a terminal unless --yes)\n"
    "  verify IMAGE          compare the console's main program with IMAGE, writing nothing\n"
    "  constants [--id TEXT] [--tz MINUTES] [--summer 0|1] [--local N] [--global N] [--serial N]\n"
    "            [--serial-from N] [--from FILE]\n"
    "                        change the given constants and save them; --from takes them\n"
    "                        from the \"constants\" of a `status --json` file (options win);\n"
    "                        --serial-from gives the ports N, N+1, ... in the order given\n"
    "\n"
    "Options:\n"
    "  --port NAME           COMn or a device path (default: the stored ComPort); give it\n"
    "                        again for more modems at once, or \"--port all\" for every port\n"
    "                        that `ports` finds\n"
    "  --json                print the result as one JSON object (one a line per port)\n"
    "  --quiet               leave out the log lines on stderr\n"
    "  --yes                 answer Yes to the erase and reflash questions\n"
    "  --trace FILE          write every frame in and out and the link's decisions to FILE\n"
    "                        (with several ports: FILE.PORT for each)\n"
    "  --help, --version     show this text, or the version\n"
    "\n"
    "Exit status: 0 done, 1 the link failed, 2 refused input; with several ports the worst.\n";

const NumberField kNumberFields[kNumberFieldCount] = {
    {"--tz", "tz", -32768, 32767, &ConstantsChange::time_zone},
    {"--summer", "summer", 0, 1, &ConstantsChange::summer},
    {"--local", "local", 0, 254, &ConstantsChange::local_address},
    {"--global", "global", 0, 65535, &ConstantsChange::global_address},
    {"--serial", "serial", std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
     &ConstantsChange::serial_number},
};

namespace {

using Limits32 = std::numeric_limits<std::int32_t>;

std::optional<long long> WholeNumber(std::string_view text, long long low, long long high) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (text.empty() || failure != std::errc() || stop != end || value < low || value > high) return std::nullopt;
  return value;
}

struct CommandName {
  const char* name;
  Command command;
  const char* argument;  // the one argument it takes, or nullptr
};
constexpr CommandName kCommands[] = {
    {"ports", Command::kPorts, nullptr},   {"status", Command::kStatus, nullptr},
    {"put", Command::kPut, "FILE"},        {"delete", Command::kDelete, "N"},
    {"erase", Command::kErase, nullptr},   {"flash", Command::kFlash, "IMAGE"},
    {"verify", Command::kVerify, "IMAGE"}, {"constants", Command::kConstants, nullptr},
};

const CommandName& Named(std::string_view name) {
  return *std::find_if(std::begin(kCommands), std::end(kCommands),
                       [name](const CommandName& entry) { return entry.name == name; });
}

// The options of CLI11 and what they fill. Everything that has a value is
// taken as text and checked afterwards, so that every refusal names the
// option and the value the way the user wrote them.
class Parser {
 public:
  Parser() {
    app_.set_help_flag();
    app_.allow_extras();
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app_.add_option("--port", options_.ports)->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    Flag(app_, "--json", options_.json);
    Flag(app_, "-q,--quiet", options_.quiet);
    Flag(app_, "-y,--yes", options_.yes);
    Flag(app_, "-h,--help", options_.help);
    trace_ = app_.add_option("--trace", trace_text_);
    for (const CommandName& entry : kCommands) {
      CLI::App* command = app_.add_subcommand(entry.name);
      command->allow_extras();
      command->fallthrough();
      if (entry.argument) argument_options_.push_back(command->add_option(entry.argument, argument_text_));
    }
    // The options of one command are taken anywhere on the line, as the
    // global ones are, and refused afterwards when another command is given.
    verbose_ = app_.add_flag("-v,--verbose", options_.verbose)->disable_flag_override();
    AddConstantsOptions(app_);
  }

  ParseResult Run(const std::vector<std::string>& arguments) {
    // Words after "--" are arguments even when they start with a dash; CLI11
    // would still take some of them for options of the parent command.
    const auto separator = std::find(arguments.begin(), arguments.end(), "--");
    if (separator != arguments.end()) operands_.assign(separator + 1, arguments.end());
    std::vector<std::string> reversed(std::make_reverse_iterator(separator), arguments.rend());
    try {
      app_.parse(reversed);
    } catch (const CLI::ArgumentMismatch& mismatch) {
      return Refused(MismatchText(mismatch.what()));
    } catch (const CLI::ParseError& failure) {
      return Refused(failure.what());
    }
    if (options_.help) return {options_, ""};
    if (const auto error = Check()) return Refused(*error);
    return {options_, ""};
  }

 private:
  static void Flag(CLI::App& app, const std::string& names, bool& target) {
    app.add_flag(names, target)->disable_flag_override();
  }

  void AddConstantsOptions(CLI::App& app) {
    identifier_ = app.add_option("--id", identifier_text_);
    for (std::size_t i = 0; i < kNumberFieldCount; ++i) {
      numbers_[i] = app.add_option(kNumberFields[i].option, number_texts_[i]);
    }
    serial_from_ = app.add_option("--serial-from", serial_from_text_);
    profile_ = app.add_option("--from", profile_text_);
    constants_options_ = {identifier_, numbers_[0], numbers_[1], numbers_[2], numbers_[3], numbers_[4],
                          serial_from_, profile_};
  }

  static ParseResult Refused(std::string error) { return {std::nullopt, std::move(error)}; }

  // CLI11 says "--port: 1 required TEXT missing" for an option without its
  // value and "json was given a disallowed flag override" for a flag given
  // one.
  static std::string MismatchText(std::string what) {
    std::string name = what.substr(0, what.find_first_of(": "));
    if (!name.starts_with("-")) name = (name.size() == 1 ? "-" : "--") + name;
    return name + (what.find("flag override") != std::string::npos ? " takes no value" : " needs a value");
  }

  std::optional<std::string> Check() {
    if (auto error = CheckLeftOver()) return error;
    const std::vector<CLI::App*> chosen = app_.get_subcommands();
    if (chosen.empty()) return "no command given";
    options_.command = Named(chosen[0]->get_name()).command;
    if (auto error = CheckOwnOptions()) return error;
    if (auto error = CheckPorts()) return error;
    if (auto error = CheckArgument(chosen[0]->get_name())) return error;
    if (options_.command == Command::kConstants) return CheckConstants();
    return std::nullopt;
  }

  // Words that no option or command took: an option of another command, an
  // unknown one, an unknown command, or one argument too many.
  std::optional<std::string> CheckLeftOver() const {
    std::vector<std::string> left = app_.remaining();
    for (const CLI::App* command : app_.get_subcommands()) {
      const auto more = command->remaining();
      left.insert(left.end(), more.begin(), more.end());
    }
    if (left.empty()) return std::nullopt;
    const std::string word = left.front();
    if (word.size() > 1 && word[0] == '-') return "unknown option " + word.substr(0, word.find('='));
    if (app_.get_subcommands().empty()) return "unknown command \"" + word + "\"";
    return ArgumentCountText(app_.get_subcommands()[0]->get_name());
  }

  std::optional<std::string> CheckOwnOptions() const {
    if (options_.command != Command::kConstants) {
      for (const CLI::Option* option : constants_options_) {
        if (option->count() > 0) return option->get_name() + " belongs to the constants command";
      }
    }
    if (options_.command != Command::kPorts && verbose_->count() > 0) {
      return std::string("--verbose belongs to the ports command");
    }
    return std::nullopt;
  }

  static std::string ArgumentCountText(const std::string& command) {
    return command + (Named(command).argument ? " takes one argument" : " takes no arguments");
  }

  std::optional<std::string> CheckPorts() {
    for (const std::string& port : options_.ports) {
      if (port.empty()) return std::string("--port needs a name");
    }
    for (auto port = options_.ports.begin(); port != options_.ports.end(); ++port) {
      if (*port == kAllPorts && options_.ports.size() > 1) return std::string("--port all stands alone");
      if (std::find(options_.ports.begin(), port, *port) != port) return "--port " + *port + " is given twice";
    }
    if (options_.ports.size() == 1 && !options_.AllPorts()) options_.port = options_.ports[0];
    if (trace_->count() > 0) {
      if (trace_text_.empty()) return std::string("--trace needs a file name");
      options_.trace_path = trace_text_;
    }
    return std::nullopt;
  }

  std::optional<std::string> CheckArgument(const std::string& command) {
    const bool takes_argument = Named(command).argument != nullptr;
    const bool given = std::any_of(argument_options_.begin(), argument_options_.end(),
                                   [](const CLI::Option* option) { return option->count() > 0; });
    std::vector<std::string> words = operands_;
    if (given) words.insert(words.begin(), argument_text_);
    if (words.size() != (takes_argument ? 1u : 0u)) return ArgumentCountText(command);
    if (!takes_argument) return std::nullopt;
    argument_text_ = words[0];
    if (options_.command == Command::kDelete) {
      const auto number = WholeNumber(argument_text_, 1, 255);
      if (!number) return "delete needs a file number from 1 to 255, not \"" + argument_text_ + "\"";
      options_.file_number = static_cast<int>(*number);
      return std::nullopt;
    }
    if (argument_text_.empty()) return command + " needs a file name";
    options_.path = argument_text_;
    return std::nullopt;
  }

  std::optional<std::string> CheckConstants() {
    ConstantsChange& c = options_.constants;
    if (identifier_->count() > 0) {
      if (link::Utf8Length(identifier_text_) > kIdentifierLimit) return std::string("--id holds at most 20 characters");
      c.identifier = identifier_text_;
    }
    for (std::size_t i = 0; i < kNumberFieldCount; ++i) {
      if (numbers_[i]->count() == 0) continue;
      std::int32_t value = 0;
      if (auto error = CheckNumber(kNumberFields[i], number_texts_[i], &value)) return error;
      c.*kNumberFields[i].target = value;
    }
    if (serial_from_->count() > 0) {
      if (c.serial_number) return std::string("--serial-from and --serial exclude each other");
      const NumberField field{"--serial-from", "", Limits32::min(), Limits32::max(), nullptr};
      std::int32_t value = 0;
      if (auto error = CheckNumber(field, serial_from_text_, &value)) return error;
      options_.serial_from = value;
    }
    if (profile_->count() > 0) {
      if (profile_text_.empty()) return std::string("--from needs a file name");
      options_.profile_path = profile_text_;
    }
    if (c.Empty() && !options_.serial_from && !options_.profile_path) {
      return std::string("constants needs at least one of --id, --tz, --summer, --local, --global, --serial");
    }
    return std::nullopt;
  }

  CLI::App app_{"orvane-cli"};
  Options options_;
  CLI::Option* trace_ = nullptr;
  std::string trace_text_;
  std::vector<CLI::Option*> argument_options_;
  std::string argument_text_;
  CLI::Option* identifier_ = nullptr;
  std::string identifier_text_;
  CLI::Option* numbers_[kNumberFieldCount] = {};
  std::string number_texts_[kNumberFieldCount];
  CLI::Option* serial_from_ = nullptr;
  std::string serial_from_text_;
  CLI::Option* profile_ = nullptr;
  std::string profile_text_;
  std::vector<CLI::Option*> constants_options_;
  CLI::Option* verbose_ = nullptr;
  std::vector<std::string> operands_;  // the words after "--"
};

}  // namespace

std::optional<std::string> CheckNumber(const NumberField& field, std::string_view text, std::int32_t* value) {
  const auto number = WholeNumber(text, field.low, field.high);
  if (!number) {
    return std::string(field.option) + " must be a whole number from " + std::to_string(field.low) + " to " +
           std::to_string(field.high) + ", not \"" + std::string(text) + "\"";
  }
  if (value) *value = static_cast<std::int32_t>(*number);
  return std::nullopt;
}

ParseResult ParseOptions(const std::vector<std::string>& arguments) { return Parser().Run(arguments); }

}  // namespace orvane::cli
