// orvane-cli: the KV80 configurator for scripts and terminals.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/configurator.h"
#include "cli/fleet.h"
#include "cli/options.h"
#include "cli/profile.h"

int main(int argc, char** argv) {
  using namespace orvane::cli;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") != 0) continue;
    std::printf("orvane %s\n", ORVANE_VERSION);
    return kExitDone;
  }
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("orvane-cli");

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParseResult parsed = ParseOptions(arguments);
  if (!parsed.options) {
    std::fprintf(stderr, "orvane-cli: %s\n(see orvane-cli --help)\n", parsed.error.c_str());
    return kExitRefused;
  }
  Options options = *parsed.options;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  if (options.profile_path) {
    if (const auto refusal = ApplyProfile(*options.profile_path, options.constants)) {
      std::fprintf(stderr, "orvane-cli: %s\n", refusal->c_str());
      return kExitRefused;
    }
  }

  Console console;
  console.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
  console.in_is_terminal = ::isatty(STDIN_FILENO) == 1;
  if (options.SeveralPorts() && options.command != Command::kPorts) {
    return RunOnSeveralPorts(options, QCoreApplication::applicationFilePath().toStdString(), console);
  }
  if (options.serial_from) options.constants.serial_number = options.serial_from;
  Configurator configurator(options, console);
  return configurator.Run();
}
