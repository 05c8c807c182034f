// orvane-cli: the KV80 configurator for scripts and terminals.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/configurator.h"
#include "cli/options.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("orvane-cli");

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const orvane::cli::ParseResult parsed = orvane::cli::ParseOptions(arguments);
  if (!parsed.options) {
    std::fprintf(stderr, "orvane-cli: %s\n(see orvane-cli --help)\n", parsed.error.c_str());
    return orvane::cli::kExitRefused;
  }
  if (parsed.options->help) {
    std::fputs(orvane::cli::kUsage, stdout);
    return orvane::cli::kExitDone;
  }

  orvane::cli::Console console;
  console.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
  console.in_is_terminal = ::isatty(STDIN_FILENO) == 1;
  orvane::cli::Configurator configurator(*parsed.options, console);
  return configurator.Run();
}
