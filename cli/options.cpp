#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <limits>

#include "cli/commands.h"
#include "l10n/l10n.h"
#include "link/cp1251.h"
#include "station/record_store.h"

namespace orvane::cli {

using l10n::Format;
using l10n::Tr;

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
    Flag(app_, "--version", options_.version);
    Flag(app_, "--force", options_.force);
    trace_ = app_.add_option("--trace", trace_text_);
    db_ = app_.add_option("--db", db_text_);
    result_fd_ = app_.add_option("--result-fd", result_fd_text_);
    for (const CommandSpec& spec : Commands()) {
      CLI::App* command = app_.add_subcommand(spec.name);
      command->allow_extras();
      command->fallthrough();
      if (spec.argument) argument_options_.push_back(command->add_option(spec.argument, argument_text_));
    }
    // The options of one command are taken anywhere on the line, as the
    // global ones are, and refused afterwards when another command is given.
    app_.add_flag("-v,--verbose", options_.verbose)->disable_flag_override();
    AddConstantsOptions(app_);
    Flag(app_, "--watch", options_.watch);
    Flag(app_, "--new-records", options_.new_records);
    bench_ = app_.add_option("--bench", bench_text_);
    Flag(app_, "--csv", options_.csv);
    since_ = app_.add_option("--since", since_text_);
    until_ = app_.add_option("--until", until_text_);
    station_ = app_.add_option("--station", station_text_);
    position_ = app_.add_option("--position", position_text_);
    result_ = app_.add_option("--result", result_text_);
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
      return Refused(Format(Tr("the command line cannot be read: %s"), failure.what()));
    }
    if (options_.help || options_.version) return {options_, ""};
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
  }

  static ParseResult Refused(std::string error) { return {std::nullopt, std::move(error)}; }

  // CLI11 names the option first: "--port: 1 required TEXT missing", "json
  // was given a disallowed flag override". A flag was given a value; any
  // other option lacks its own.
  std::string MismatchText(const std::string& what) const {
    std::string name = what.substr(0, what.find_first_of(": "));
    if (!name.starts_with("-")) name = (name.size() == 1 ? "-" : "--") + name;
    const CLI::Option* option = app_.get_option_no_throw(name);
    const bool flag = option && option->get_expected_max() == 0;
    return Format(flag ? Tr("%s takes no value") : Tr("%s needs a value"), name.c_str());
  }

  std::optional<std::string> Check() {
    if (auto error = CheckLeftOver()) return error;
    const std::vector<CLI::App*> chosen = app_.get_subcommands();
    if (chosen.empty()) return std::string(Tr("no command given"));
    options_.command = FindCommandSpec(chosen[0]->get_name())->command;
    if (auto error = CheckOwnOptions()) return error;
    if (auto error = CheckPorts()) return error;
    if (auto error = CheckArgument(chosen[0]->get_name())) return error;
    if (options_.command == Command::kConstants) return CheckConstants();
    if (options_.command == Command::kHistory) return CheckHistory();
    if (options_.watch && !options_.AllPorts()) return std::string(Tr("--watch needs --port all"));
    if (bench_->count() > 0) {
      if (bench_text_.empty()) return std::string(Tr("--bench needs a file name"));
      if (!options_.watch) return std::string(Tr("--bench needs --watch"));
      options_.bench_path = bench_text_;
    }
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
    if (word.size() > 1 && word[0] == '-') return Format(Tr("unknown option %s"), word.substr(0, word.find('=')).c_str());
    if (app_.get_subcommands().empty()) return Format(Tr("unknown command \"%s\""), word.c_str());
    return ArgumentCountText(app_.get_subcommands()[0]->get_name());
  }

  // An option that belongs to other commands than the one given.
  std::optional<std::string> CheckOwnOptions() const {
    const auto& own = SpecOf(options_.command).own_options;
    for (const CommandSpec& spec : Commands()) {
      for (std::string_view name : spec.own_options) {
        if (std::find(own.begin(), own.end(), name) != own.end()) continue;
        if (app_.get_option(std::string(name))->count() > 0) {
          return Format(Tr("%1$s belongs to the %2$s command"), std::string(name).c_str(), spec.name);
        }
      }
    }
    return std::nullopt;
  }

  static std::string ArgumentCountText(const std::string& command) {
    return Format(FindCommandSpec(command)->argument ? Tr("%s takes one argument") : Tr("%s takes no arguments"),
                  command.c_str());
  }

  std::optional<std::string> CheckPorts() {
    for (const std::string& port : options_.ports) {
      if (port.empty()) return std::string(Tr("--port needs a name"));
    }
    for (auto port = options_.ports.begin(); port != options_.ports.end(); ++port) {
      if (*port == kAllPorts && options_.ports.size() > 1) return std::string(Tr("--port all stands alone"));
      if (std::find(options_.ports.begin(), port, *port) != port) {
        return Format(Tr("--port %s is given twice"), port->c_str());
      }
    }
    if (options_.ports.size() == 1 && !options_.AllPorts()) options_.port = options_.ports[0];
    if (trace_->count() > 0) {
      if (trace_text_.empty()) return std::string(Tr("--trace needs a file name"));
      options_.trace_path = trace_text_;
    }
    if (db_->count() > 0) {
      if (db_text_.empty()) return std::string(Tr("--db needs a file name or a postgresql:// URL"));
      options_.db = db_text_;
    }
    if (result_fd_->count() > 0) {
      const auto fd = WholeNumber(result_fd_text_, 3, 1 << 20);
      if (!fd) return Format(Tr("--result-fd needs a file descriptor, not \"%s\""), result_fd_text_.c_str());
      options_.result_fd = static_cast<int>(*fd);
    }
    return std::nullopt;
  }

  std::optional<std::string> CheckArgument(const std::string& command) {
    const bool takes_argument = FindCommandSpec(command)->argument != nullptr;
    const bool given = std::any_of(argument_options_.begin(), argument_options_.end(),
                                   [](const CLI::Option* option) { return option->count() > 0; });
    std::vector<std::string> words = operands_;
    if (given) words.insert(words.begin(), argument_text_);
    if (words.size() != (takes_argument ? 1u : 0u)) return ArgumentCountText(command);
    if (!takes_argument) return std::nullopt;
    argument_text_ = words[0];
    if (options_.command == Command::kDelete) {
      const auto number = WholeNumber(argument_text_, 1, 255);
      if (!number) return Format(Tr("delete needs a file number from 1 to 255, not \"%s\""), argument_text_.c_str());
      options_.file_number = static_cast<int>(*number);
      return std::nullopt;
    }
    if (argument_text_.empty()) return Format(Tr("%s needs a file name"), command.c_str());
    options_.path = argument_text_;
    return std::nullopt;
  }

  std::optional<std::string> CheckConstants() {
    ConstantsChange& c = options_.constants;
    if (identifier_->count() > 0) {
      if (auto error = CheckIdentifier("--id", identifier_text_)) return error;
      c.identifier = identifier_text_;
    }
    for (std::size_t i = 0; i < kNumberFieldCount; ++i) {
      if (numbers_[i]->count() == 0) continue;
      std::int32_t value = 0;
      if (auto error = CheckNumber(kNumberFields[i], number_texts_[i], &value)) return error;
      c.*kNumberFields[i].target = value;
    }
    if (serial_from_->count() > 0) {
      if (c.serial_number) return std::string(Tr("--serial-from and --serial exclude each other"));
      const NumberField field{"--serial-from", "", Limits32::min(), Limits32::max(), nullptr};
      std::int32_t value = 0;
      if (auto error = CheckNumber(field, serial_from_text_, &value)) return error;
      options_.serial_from = value;
    }
    if (profile_->count() > 0) {
      if (profile_text_.empty()) return std::string(Tr("--from needs a file name"));
      options_.profile_path = profile_text_;
    }
    if (c.Empty() && !options_.serial_from && !options_.profile_path) {
      return std::string(Tr("constants needs at least one of --id, --tz, --summer, --local, --global, --serial"));
    }
    return std::nullopt;
  }

  // history --serial is a number to look for, with the range of the
  // constants' --serial.
  std::optional<std::string> CheckHistory() {
    const NumberField& serial = kNumberFields[kNumberFieldCount - 1];
    if (numbers_[kNumberFieldCount - 1]->count() > 0) {
      std::int32_t value = 0;
      if (auto error = CheckNumber(serial, number_texts_[kNumberFieldCount - 1], &value)) return error;
      options_.history_serial = value;
    }
    const struct {
      const CLI::Option* option;
      const std::string& text;
      const char* empty;
      std::optional<std::string>& taken;
    } texts[] = {
        {since_, since_text_, N_("--since needs a date (YYYY-MM-DD) or a time"), options_.since},
        {until_, until_text_, N_("--until needs a date (YYYY-MM-DD) or a time"), options_.until},
        {station_, station_text_, N_("--station needs a name"), options_.station_name},
        {position_, position_text_, N_("--position needs a name"), options_.position_name},
    };
    for (const auto& text : texts) {
      if (text.option->count() == 0) continue;
      if (text.text.empty()) return std::string(Tr(text.empty));
      text.taken = text.text;
    }
    if (result_->count() > 0) {
      if (!station::RunResultFromText(result_text_)) {
        return Format(Tr("--result is one of running, done, failed, interrupted, abandoned, not \"%s\""), result_text_.c_str());
      }
      options_.result_word = result_text_;
    }
    if (options_.csv && options_.json) return std::string(Tr("--csv and --json exclude each other"));
    return std::nullopt;
  }

  CLI::App app_{"orvane-cli"};
  Options options_;
  CLI::Option* trace_ = nullptr;
  std::string trace_text_;
  CLI::Option* db_ = nullptr;
  std::string db_text_;
  CLI::Option* since_ = nullptr;
  std::string since_text_;
  CLI::Option* until_ = nullptr;
  std::string until_text_;
  CLI::Option* bench_ = nullptr;
  std::string bench_text_;
  CLI::Option* station_ = nullptr;
  std::string station_text_;
  CLI::Option* position_ = nullptr;
  std::string position_text_;
  CLI::Option* result_ = nullptr;
  std::string result_text_;
  CLI::Option* result_fd_ = nullptr;
  std::string result_fd_text_;
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
  std::vector<std::string> operands_;  // the words after "--"
};

}  // namespace

std::optional<std::string> CheckIdentifier(const std::string& name, const std::string& text) {
  if (link::Utf8Length(text) > kIdentifierLimit) return Format(Tr("%s holds at most 20 characters"), name.c_str());
  if (const auto gap = link::FirstCharacterWithoutCp1251(text)) {
    if (gap->malformed) return Format(Tr("%s is not valid UTF-8"), name.c_str());
    return Format(Tr("%1$s holds \"%2$s\", which the console cannot store: it takes only characters of code page 1251 "
                     "(Cyrillic and Latin)"),
                  name.c_str(), gap->character.c_str());
  }
  return std::nullopt;
}

std::optional<std::string> CheckNumber(const NumberField& field, std::string_view text, std::int32_t* value) {
  const auto number = WholeNumber(text, field.low, field.high);
  if (!number) {
    return Format(Tr("%1$s must be a whole number from %2$lld to %3$lld, not \"%4$s\""), field.option, field.low,
                  field.high, std::string(text).c_str());
  }
  if (value) *value = static_cast<std::int32_t>(*number);
  return std::nullopt;
}

ParseResult ParseOptions(const std::vector<std::string>& arguments) { return Parser().Run(arguments); }

std::vector<std::string> ArgumentsOf(const Options& options) {
  std::vector<std::string> words;
  for (const std::string& port : options.ports) words.push_back("--port=" + port);
  if (options.yes) words.push_back("--yes");
  if (options.json) words.push_back("--json");
  if (options.quiet) words.push_back("--quiet");
  if (options.trace_path) words.push_back("--trace=" + *options.trace_path);
  if (options.db) words.push_back("--db=" + *options.db);
  if (options.result_fd) words.push_back("--result-fd=" + std::to_string(*options.result_fd));
  const CommandSpec& spec = SpecOf(options.command);
  words.push_back(spec.name);
  spec.arguments(options, words);
  return words;
}

}  // namespace orvane::cli
