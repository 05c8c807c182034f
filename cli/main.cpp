// orvane-cli: the KV80 configurator for scripts and terminals.
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/port_child.h"
#include "cli/port_run.h"
#include "cli/scan.h"
#include "cli/several_ports.h"
#include "l10n/l10n.h"

namespace {

using namespace orvane::cli;

// A child of a run on several ports hands its result to its parent; a run of
// its own prints it.
void HandOver(const PortResult& result, const Options& options, const Console& console) {
  if (!options.result_fd) {
    std::fputs(FormatResult(result, options.json).c_str(), console.out);
    std::fflush(console.out);
    return;
  }
  WriteLine(*options.result_fd, ResultLine(result));
  ::close(*options.result_fd);
}

}  // namespace

int main(int argc, char** argv) {
  orvane::l10n::SetUp(argv[0]);
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("orvane-cli");

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  Console console;
  console.out_is_terminal = ::isatty(STDOUT_FILENO) == 1;
  console.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
  console.in_is_terminal = ::isatty(STDIN_FILENO) == 1;
  const ParseResult parsed = ParseOptions(arguments);
  if (!parsed.options) {
    const auto end = std::find(arguments.begin(), arguments.end(), "--");
    const bool json = std::find(arguments.begin(), end, "--json") != end;
    const int status = Refuse(console, json, parsed.error, RunEnding::Refused());
    std::fprintf(stderr, "%s\n", orvane::l10n::Tr("(see orvane-cli --help)"));
    return status;
  }
  Options options = *parsed.options;
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kExitDone;
  }
  if (options.version) {
    std::printf("orvane %s\n", ORVANE_VERSION);
    return kExitDone;
  }

  const CommandSpec& command = SpecOf(options.command);
  if (command.run) return command.run(options, console);
  if (const auto refusal = command.prepare ? command.prepare(options) : std::nullopt) {
    return Refuse(console, options.json, *refusal, RunEnding::Refused());
  }
  if (options.SeveralPorts()) {
    return RunOnSeveralPorts(options, QCoreApplication::applicationFilePath().toStdString(), console);
  }
  OnePortRun run(options, console);
  if (options.result_fd) ReportProgressTo(*options.result_fd, run);
  const PortResult result = run.Run(command.steps(options));
  HandOver(result, options, console);
  return ExitStatusOf(result);
}
