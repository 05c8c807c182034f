// orvane-cli against the simulated modem's bench behaviours.
#include <QJsonArray>

#include "tests/e2e/e2e_fixture.h"

namespace orvane::e2e {
namespace {

// The next poll comes in the same write as each answer, whatever the console
// then does with the PC's frames: the run still ends done and shows the files.
TEST_F(EndToEnd, StatusEndsDoneAgainstAConsoleThatPollsWithItsAnswer) {
  sim::DeviceState initial;
  initial.files = sim::SampleFiles();
  for (const char* answer : {"all", "first", "queue", "flush"}) {
    SCOPED_TRACE(answer);
    StartDevice({"--poll-with-answer", "--answer", answer}, &initial);
    const RunResult run = Cli({"--json", "status"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.err.find(kDone), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kNotConnected), std::string::npos) << run.err;
    EXPECT_EQ(Json(run)["files"].toArray().size(), 3);
    StopDevice();
  }
}

}  // namespace
}  // namespace orvane::e2e
