#include "app/arguments.h"

#include <CLI/CLI.hpp>

#include "l10n/l10n.h"

namespace orvane::app {
namespace {

using l10n::Format;
using l10n::Tr;

struct Parser {
  CLI::App app{Tr("orvane: the configurator of KV80 modems; with --station the production station"), "orvane"};
  Arguments arguments;
  StationArguments station;
  bool version = false;

  Parser() {
    app.set_version_flag("", "");
    app.add_flag("--version", version, Tr("print the version and end"));
    app.add_flag("--demo", arguments.demo, Tr("run against a simulated console"));
    app.add_option("--screenshot", arguments.screenshot, Tr("with --demo: save the window's picture after the first refresh"))
        ->option_text("FILE.png");
    app.add_option("--screenshots", arguments.screenshots, Tr("with --demo: save the pictures of the documentation into FOLDER"))
        ->option_text("FOLDER");
    app.add_option("--station", station.job, Tr("open the station window, with the job file JOB if given"))
        ->expected(0, 1)
        ->option_text("[JOB]");
    app.add_flag("--start", station.start, Tr("with --station: begin the session at once"));
    app.add_option("--db", station.db, Tr("with --station: the record store (an SQLite file or a postgresql:// address)"))
        ->option_text("STORE");
    app.add_flag("--new-records", station.new_records, Tr("with --station: create the record store when it is missing"));
    app.add_option("--bench", station.bench, Tr("with --station: the bench file naming the positions"))
        ->option_text("FILE");
  }

  std::optional<std::string> Check() const {
    const bool is_station = app.count("--station") > 0;
    for (const char* name : {"--start", "--db", "--new-records", "--bench"}) {
      if (app.count(name) > 0 && !is_station) return Format(Tr("%s needs --station"), name);
    }
    const bool pictures = app.count("--screenshot") > 0 || app.count("--screenshots") > 0;
    if (pictures && !arguments.demo) return std::string(Tr("--screenshot and --screenshots need --demo"));
    if (app.count("--screenshot") > 0 && (app.count("--screenshots") > 0 || is_station)) {
      return std::string(Tr("--screenshot takes the main window's picture only"));
    }
    if (station.start && station.job.empty()) return std::string(Tr("--start needs a job file after --station"));
    return std::nullopt;
  }
};

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& words) {
  Parser parser;
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    parser.app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return {std::nullopt, parser.app.help(), 0};
  } catch (const CLI::ParseError& failure) {
    return {std::nullopt, Format(Tr("orvane: the command line cannot be read: %s"), failure.what()) + "\n" +
                              Tr("orvane --help lists the options") + "\n", 2};
  }
  if (parser.version) return {std::nullopt, std::string("orvane ") + ORVANE_VERSION + "\n", 0};
  if (const auto error = parser.Check()) {
    return {std::nullopt, "orvane: " + *error + "\n" + Tr("orvane --help lists the options") + "\n", 2};
  }
  Arguments arguments = parser.arguments;
  if (parser.app.count("--station") > 0) arguments.station = parser.station;
  return {arguments, "", 0};
}

}  // namespace orvane::app
