// The command line of the window program, read before anything needs a
// display, so that --help and --version answer on any terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane::app {

struct StationArguments {
  std::string job;       // may be empty: chosen in the window
  bool start = false;    // begin the session at once
  std::string db;        // the record store; empty for the default
  bool new_records = false;
  std::string bench;     // the bench file naming the positions; may be empty
};

struct Arguments {
  bool demo = false;
  std::string screenshot;   // with --demo: the window's picture after the first refresh
  std::string screenshots;  // with --demo: a folder for the pictures of the tour
  std::optional<StationArguments> station;
};

// What the command line asks for: the window to run, or a text to print
// and an exit status (help, version, a refused line).
struct ParsedArguments {
  std::optional<Arguments> run;
  std::string output;  // --help, --version: to stdout; a refusal: to stderr
  int exit_status = 0;
};

ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

}  // namespace orvane::app
