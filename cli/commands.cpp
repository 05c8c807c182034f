#include "cli/commands.h"

#include <algorithm>

#include "cli/history.h"
#include "cli/input_checks.h"
#include "cli/profile.h"
#include "cli/provision.h"
#include "cli/scan.h"
#include "device/session.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

constexpr const char* kUsageHead = N_(
    "Usage: orvane-cli [--port NAME]... [--json] [--quiet] [--yes] [--trace FILE] [--db PATH] COMMAND [ARGS]\n"
    "The KV80 modem configurator without a window.\n"
    "\n"
    "Commands:\n");

constexpr const char* kUsageTail = N_(
    "\n"
    "Options:\n"
    "  --port NAME           COMn or a device path (default: the stored ComPort); give it\n"
    "                        again for more modems at once, or \"--port all\" for every port\n"
    "                        that `ports` finds\n"
    "  --json                print the result as one JSON object (one a line per port),\n"
    "                        also on failure, with \"exit\" and \"error\"\n"
    "  -q, --quiet           leave out the log lines on stderr\n"
    "  -y, --yes             answer Yes to the erase and reflash questions\n"
    "  --trace FILE          write every frame in and out and the link's decisions to FILE\n"
    "                        (with several ports: FILE.PORT for each)\n"
    "  --db PATH             the station records of provision and history: an SQLite file\n"
    "                        or a postgresql:// URL (default ~/.local/share/orvane/station.sqlite)\n"
    "  -h, --help            show this text\n"
    "  --version             show the version\n"
    "\n"
    "Exit status: 0 done, 1 the link failed, 2 refused input, 128 + N stopped by signal N;\n"
    "with several ports the worst.\n");

std::optional<std::string> CheckFile(Options& options) { return CheckFileToSend(options); }

// A profile fills the fields the command line left open.
std::optional<std::string> PrepareConstants(Options& options) {
  if (!options.profile_path) return std::nullopt;
  return ApplyProfile(*options.profile_path, options.constants);
}

std::vector<Step> StatusSteps(const Options&) { return {Step::Status()}; }
std::vector<Step> PutSteps(const Options& o) { return {Step::Put(o.path)}; }
std::vector<Step> DeleteSteps(const Options& o) { return {Step::Delete(o.file_number)}; }
std::vector<Step> EraseSteps(const Options&) { return {Step::Erase()}; }
std::vector<Step> FlashSteps(const Options& o) { return {Step::Flash(o.path)}; }
std::vector<Step> VerifySteps(const Options& o) { return {Step::Verify(o.path)}; }

// A single run's --serial-from is its --serial.
std::vector<Step> ConstantsSteps(const Options& o) {
  ConstantsChange change = o.constants;
  if (o.serial_from && !change.serial_number) change.serial_number = o.serial_from;
  return {Step::Constants(change)};
}

void NoArguments(const Options&, std::vector<std::string>&) {}

void PathArgument(const Options& options, std::vector<std::string>& words) {
  words.insert(words.end(), {"--", options.path});
}

void ImageArguments(const Options& options, std::vector<std::string>& words) {
  if (options.force) words.push_back("--force");
  PathArgument(options, words);
}

void NumberArgument(const Options& options, std::vector<std::string>& words) {
  words.push_back(std::to_string(options.file_number));
}

void ProvisionArguments(const Options& options, std::vector<std::string>& words) {
  if (options.watch) words.push_back("--watch");
  if (options.new_records) words.push_back("--new-records");
  if (options.force) words.push_back("--force");
  PathArgument(options, words);
}

void HistoryArguments(const Options& options, std::vector<std::string>& words) {
  if (options.history_serial) words.insert(words.end(), {"--serial", std::to_string(*options.history_serial)});
  if (options.since) words.insert(words.end(), {"--since", *options.since});
  if (options.until) words.insert(words.end(), {"--until", *options.until});
  if (options.station_name) words.insert(words.end(), {"--station", *options.station_name});
  if (options.position_name) words.insert(words.end(), {"--position", *options.position_name});
  if (options.result_word) words.insert(words.end(), {"--result", *options.result_word});
  if (options.csv) words.push_back("--csv");
}

void VerboseOption(const Options& options, std::vector<std::string>& words) {
  if (options.verbose) words.push_back("--verbose");
}

void ConstantsOptions(const Options& options, std::vector<std::string>& words) {
  const ConstantsChange& c = options.constants;
  if (c.identifier) words.insert(words.end(), {"--id", *c.identifier});
  for (const NumberField& field : kNumberFields) {
    if (const auto& value = c.*field.target) words.insert(words.end(), {field.option, std::to_string(*value)});
  }
  if (options.serial_from) words.insert(words.end(), {"--serial-from", std::to_string(*options.serial_from)});
}

const std::vector<CommandSpec>& Table() {
  static const std::vector<CommandSpec> table = {
      {.command = Command::kPorts,
       .name = "ports",
       .help = N_("  ports [-v]            scan COM1 to COM16 and the USB adapters; print the ports found,\n"
                  "                        one a line (-v: device, hub socket, adapter)\n"),
       .own_options = {"--verbose"},
       .arguments = VerboseOption,
       .run = RunPortsCommand},
      {.command = Command::kStatus,
       .name = "status",
       .help = N_("  status                connect, refresh, print the files, free space and constants\n"),
       .steps = StatusSteps,
       .arguments = NoArguments},
      {.command = Command::kPut,
       .name = "put",
       .argument = "FILE",
       .help = N_("  put FILE              add a plan file to the console\n"),
       .prepare = CheckFile,
       .steps = PutSteps,
       .arguments = PathArgument},
      {.command = Command::kDelete,
       .name = "delete",
       .argument = "N",
       .help = N_("  delete N              delete the file shown as number N\n"),
       .steps = DeleteSteps,
       .arguments = NumberArgument},
      {.command = Command::kErase,
       .name = "erase",
       .help = N_("  erase                 erase all files (asks on a terminal unless --yes)\n"),
       .warning = device::kEraseWarning,
       .steps = EraseSteps,
       .arguments = NoArguments},
      {.command = Command::kFlash,
       .name = "flash",
       .argument = "IMAGE",
       .help = N_("  flash IMAGE [--force] reflash the main program (asks on a terminal unless --yes);\n"
                  "                        an empty IMAGE or one not named *.mts only with --force\n"),
       .own_options = {"--force"},
       .prepare = CheckFile,
       .warning = device::kReflashWarning,
       .steps = FlashSteps,
       .arguments = ImageArguments},
      {.command = Command::kVerify,
       .name = "verify",
       .argument = "IMAGE",
       .help = N_("  verify IMAGE [--force] compare the console's main program with IMAGE, writing nothing\n"),
       .own_options = {"--force"},
       .prepare = CheckFile,
       .steps = VerifySteps,
       .arguments = ImageArguments},
      {.command = Command::kConstants,
       .name = "constants",
       .help = N_("  constants [--id TEXT] [--tz MINUTES] [--summer 0|1] [--local N] [--global N] [--serial N]\n"
                  "            [--serial-from N] [--from FILE]\n"
                  "                        change the given constants and save them; --from takes them\n"
                  "                        from the \"constants\" of a `status --json` file (options win);\n"
                  "                        --serial-from gives the ports N, N+1, ... in the order given\n"),
       .own_options = {"--id", "--tz", "--summer", "--local", "--global", "--serial", "--serial-from", "--from"},
       .prepare = PrepareConstants,
       .steps = ConstantsSteps,
       .arguments = ConstantsOptions},
      {.command = Command::kProvision,
       .name = "provision",
       .argument = "JOB",
       .help = N_("  provision JOB [--watch] [--bench FILE] [--new-records] [--force]\n"
                  "                        run a station job file on the modem: image, erase, plans, then\n"
                  "                        the constants with a serial number from the station counter;\n"
                  "                        one record per modem in --db; --watch (with --port all) runs it\n"
                  "                        on each position of the bench file (--bench; default: one per\n"
                  "                        adapter) as a unit arrives, until Ctrl-C; --new-records starts\n"
                  "                        the record store when there is none (on a terminal it asks);\n"
                  "                        --force as for flash\n"),
       .own_options = {"--watch", "--bench", "--new-records", "--force"},
       .arguments = ProvisionArguments,
       .run = RunProvision},
      {.command = Command::kHistory,
       .name = "history",
       .help = N_("  history [--serial N] [--since DATE] [--until DATE] [--station NAME] [--position NAME]\n"
                  "          [--result WORD] [--csv]\n"
                  "                        the records of provision runs in --db, oldest first: a table,\n"
                  "                        one JSON object a line with --json, or CSV; --until keeps the\n"
                  "                        runs started up to that day or time, --result those that ended\n"
                  "                        so (running, done, failed, interrupted, abandoned)\n"),
       .own_options = {"--serial", "--since", "--until", "--station", "--position", "--result", "--csv"},
       .arguments = HistoryArguments,
       .run = RunHistory},
  };
  return table;
}

}  // namespace

std::span<const CommandSpec> Commands() { return Table(); }

const CommandSpec& SpecOf(Command command) {
  return *std::find_if(Table().begin(), Table().end(), [command](const CommandSpec& s) { return s.command == command; });
}

const CommandSpec* FindCommandSpec(std::string_view name) {
  const auto found = std::find_if(Table().begin(), Table().end(), [name](const CommandSpec& s) { return s.name == name; });
  return found == Table().end() ? nullptr : &*found;
}

std::string UsageText() {
  std::string text = l10n::Tr(kUsageHead);
  for (const CommandSpec& spec : Table()) text += l10n::Tr(spec.help);
  return text + l10n::Tr(kUsageTail);
}

}  // namespace orvane::cli
