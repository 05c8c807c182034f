// orvane-cli: the KV80 configurator for scripts and terminals.
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/port_run.h"
#include "cli/scan.h"
#include "cli/several_ports.h"

namespace {

using namespace orvane::cli;

void WriteLine(int fd, const std::string& line) {
  for (std::size_t written = 0; written < line.size();) {
    const ssize_t done = ::write(fd, line.data() + written, line.size() - written);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    written += static_cast<std::size_t>(done);
  }
}

// A child of a run on several ports tells its parent how far it is, now and
// then, on its result pipe.
void ReportProgressTo(int fd, OnePortRun& run) {
  auto last = std::make_shared<std::pair<std::chrono::steady_clock::time_point, std::size_t>>();
  run.SetProgressListener([fd, last](const RunProgress& progress) {
    const auto now = std::chrono::steady_clock::now();
    if (progress.step == last->second && progress.position != 0 && now - last->first < std::chrono::milliseconds(200)) {
      return;
    }
    *last = {now, progress.step};
    WriteLine(fd, ProgressMessage(progress));
  });
}

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
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("orvane-cli");

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  Console console;
  console.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
  console.in_is_terminal = ::isatty(STDIN_FILENO) == 1;
  const ParseResult parsed = ParseOptions(arguments);
  if (!parsed.options) {
    const auto end = std::find(arguments.begin(), arguments.end(), "--");
    const bool json = std::find(arguments.begin(), end, "--json") != end;
    Refuse(console, json, parsed.error, kExitRefused);
    std::fputs("(see orvane-cli --help)\n", stderr);
    return kExitRefused;
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
  if (!command.steps) return RunPortsCommand(options, console);
  if (const auto refusal = command.prepare(options)) return Refuse(console, options.json, *refusal, kExitRefused);
  if (options.SeveralPorts()) {
    return RunOnSeveralPorts(options, QCoreApplication::applicationFilePath().toStdString(), console);
  }
  OnePortRun run(options, console);
  if (options.result_fd) ReportProgressTo(*options.result_fd, run);
  const PortResult result = run.Run(command.steps(options));
  HandOver(result, options, console);
  return ExitStatusOf(result);
}
