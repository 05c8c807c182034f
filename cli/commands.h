// What each command of orvane-cli is, one row each: its name and argument,
// the options that belong to it alone, its lines of the help, the check of
// its input before any port is opened, the warning it asks about, and the
// steps it runs on a console. A run on one port is a list of steps on one
// connection; `status` to `constants` are runs of one step, `provision` a
// run of the steps of a job file; `ports` and `history` need no console.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"

namespace orvane::cli {

// One step of a run on a console, after the connecting refresh.
struct Step {
  enum class Kind { kStatus, kPut, kDelete, kErase, kFlash, kVerify, kConstants };

  // Takes the serial number a constants step writes, given the number the
  // console reports before it; why none can be had, or nothing.
  using SerialSource = std::function<std::optional<std::string>(std::int32_t reported, std::int32_t& serial)>;

  Kind kind = Kind::kStatus;
  std::string path;            // put, flash, verify
  int file_number = 0;         // delete, as the file table shows it
  ConstantsChange constants;   // constants
  SerialSource serial_source;  // constants: the serial number from a counter

  static Step Status() { return Of(Kind::kStatus); }
  static Step Put(std::string path) { return Of(Kind::kPut, std::move(path)); }
  static Step Delete(int number) {
    Step step = Of(Kind::kDelete);
    step.file_number = number;
    return step;
  }
  static Step Erase() { return Of(Kind::kErase); }
  static Step Flash(std::string path) { return Of(Kind::kFlash, std::move(path)); }
  static Step Verify(std::string path) { return Of(Kind::kVerify, std::move(path)); }
  static Step Constants(ConstantsChange change) {
    Step step = Of(Kind::kConstants);
    step.constants = std::move(change);
    return step;
  }

 private:
  static Step Of(Kind kind, std::string path = {}) {
    Step step;
    step.kind = kind;
    step.path = std::move(path);
    return step;
  }
};

// Where a run is: its step, and the step's queue (maximum: the commands it
// queued, position: those still waiting).
struct RunProgress {
  std::size_t step = 0;
  std::size_t steps = 0;
  Step::Kind kind = Step::Kind::kStatus;
  int maximum = 0;
  int position = 0;
};

struct CommandSpec {
  Command command;
  const char* name;
  const char* argument = nullptr;  // "FILE", "N", "IMAGE", "JOB", or nullptr for none
  const char* help = "";           // its lines of --help
  // Options that only this command takes ("--verbose", "--id", ...).
  std::vector<std::string_view> own_options = {};
  // Checks and completes the input before any port is opened: why it is
  // refused, or nothing; nullptr for a command with nothing to check.
  std::optional<std::string> (*prepare)(Options& options) = nullptr;
  const char* warning = nullptr;  // asked once before anything is sent, or nullptr
  // The steps of its run on one console; nullptr for a command that runs
  // itself.
  std::vector<Step> (*steps)(const Options& options) = nullptr;
  // Writes its argument and options back as words of a command line.
  void (*arguments)(const Options& options, std::vector<std::string>& words) = nullptr;
  // A command that runs itself (ports, provision, history): its whole run
  // and exit status; nullptr for the runs of steps.
  int (*run)(const Options& options, const Console& console) = nullptr;
};

std::span<const CommandSpec> Commands();
const CommandSpec& SpecOf(Command command);
const CommandSpec* FindCommandSpec(std::string_view name);

// The whole text of --help.
std::string UsageText();

}  // namespace orvane::cli
