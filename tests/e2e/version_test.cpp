// Every installed program answers --version with the project's version, and
// the window does so without a display.
#include <gtest/gtest.h>

#include "tests/e2e/child_process.h"

namespace orvane::e2e {
namespace {

TEST(Version, EveryProgramPrintsTheProjectVersionAndExitsZero) {
  const Environment no_display{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
  const std::string expected = std::string("orvane ") + ORVANE_VERSION + "\n";
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {ORVANE_WINDOW_PROGRAM, "--version"},
           {ORVANE_CLI_PROGRAM, "--version"},
           {ORVANE_CLI_PROGRAM, "--port", "COM5", "--version", "status"},
           {ORVANE_SIM_PROGRAM, "--version"},
       }) {
    const RunResult run = RunProgram(command, no_display, std::chrono::seconds(10));
    EXPECT_EQ(run.exit_status, 0) << command[0] << "\n" << run.err;
    EXPECT_EQ(run.out, expected) << command[0];
    EXPECT_EQ(run.err, "") << command[0];
  }
}

}  // namespace
}  // namespace orvane::e2e
