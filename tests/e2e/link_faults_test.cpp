// orvane-cli over a poor or failing line: lost, corrupted and noisy frames,
// a late answer, a failed verification, a silent and an unplugged console.
#include <algorithm>
#include <fstream>

#include "link/link_control.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/link_matrix.h"

namespace orvane::e2e {
namespace {

class LinkFaults : public EndToEnd {
 protected:
  void Transfer(std::vector<std::string> device_options) {
    StartDevice(std::move(device_options));
    const Bytes plan = Pattern(9000, 21), image = Pattern(65535, 22);
    const std::string plan_path = WriteFile("big.yp1", plan), image_path = WriteFile("full.mts", image);
    const RunResult put = Cli({"put", plan_path});
    ASSERT_EQ(put.exit_status, 0) << put.err;
    const RunResult flash = Cli({"--yes", "flash", image_path});
    ASSERT_EQ(flash.exit_status, 0) << flash.err;
    const sim::DeviceState state = StopDevice();
    ASSERT_EQ(state.files.size(), 1u);
    EXPECT_EQ(state.files[0].data, plan);
    ASSERT_EQ(state.firmware.size(), 65536u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), state.firmware.begin()));
  }
};

TEST_F(LinkFaults, LostCorruptedAndNoisyFramesStillDeliverEveryByte) {
  Transfer({"--drop", "0.05", "--corrupt", "0.01", "--noise", "0.05", "--seed", "7"});
}

// A reply window shorter than the turnaround makes the console poll again
// before the answer arrives, so it receives the same head twice.
TEST_F(LinkFaults, AConsolePollingBeforeTheAnswerArrivesStillGetsEveryByte) {
  Transfer({"--reply-window-ms", "0", "--poll-interval-us", "50"});
}

TEST_F(LinkFaults, AFailedVerificationExitsOneWithTheErrorLine) {
  StartDevice({"--fail-verify", "3"});
  const RunResult run = Cli({"--yes", "flash", WriteFile("image.mts", Pattern(200, 23))});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(InOrder(Lines(run.err), {kDone, "Идет прошивка основной программы...", kVerifyError})) << run.err;
  EXPECT_EQ(run.out, "");

  const RunResult quiet = Cli({"--quiet", "--yes", "flash", WriteFile("image.mts", Pattern(200, 23))});
  EXPECT_EQ(quiet.exit_status, 0) << "only the third verify chunk of the run fails";
}

TEST_F(LinkFaults, ASilentConsoleExitsOneWithModemNotConnected) {
  StartDevice({"--silent-after", "1"});
  const RunResult run = Cli({"status"}, std::chrono::seconds(30));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_FALSE(run.timed_out);
  EXPECT_TRUE(InOrder(Lines(run.err), {"Установлена связь с модемом.", kNotConnected})) << run.err;
  EXPECT_EQ(run.out, "");
}

// The pulled cable ends the run at once, not after the watchdog's 10 s, and
// the log says that the main program is now incomplete.
TEST_F(LinkFaults, AnUnpluggedConsoleMidTransferEndsAtOnceSayingWhatItLeft) {
  StartDevice({"--hangup-after", "600"});
  const std::string trace = Path("unplugged.trace");
  const RunResult run = Cli({"--yes", "--trace", trace, "flash", WriteFile("full.mts", Pattern(65535, 24))},
                            std::chrono::seconds(30));
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(InOrder(Lines(run.err), {link::kLogPortLost, "Порт связи закрыт", link::kLogQueueCleared,
                                       link::kLogProgramIncomplete}))
      << run.err;
  EXPECT_EQ(run.err.find(kNotConnected), std::string::npos) << run.err;
  const auto lines = Lines(run.err);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kDone), 1) << "only the first refresh completed";

  // From the console's last frame to the end of the run: well within 1 s.
  long long last_in = -1, lost = -1;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    if (line.find(" in  ") != std::string::npos) last_in = std::stoll(line);
    if (line.find(std::string("log ") + link::kLogPortLost) != std::string::npos) lost = std::stoll(line);
  }
  ASSERT_GE(last_in, 0);
  ASSERT_GE(lost, last_in);
  EXPECT_LT(lost - last_in, 1'000'000) << "microseconds from the last frame to the lost port";
}

// A head that the device never receives, or whose answers are all lost,
// while the device keeps polling, ends the run after 10 s with exit 1
// instead of a wait without end.
TEST_F(LinkFaults, AHeadThatIsNeverAnsweredEndsTheRunWithExitOne) {
  for (const char* fault : {"--rx-drop", "--drop"}) {
    StartDevice({fault, "1"});
    const RunResult run = Cli({"status"}, std::chrono::seconds(40));
    EXPECT_FALSE(run.timed_out) << fault;
    EXPECT_EQ(run.exit_status, 1) << fault;
    EXPECT_TRUE(InOrder(Lines(run.err), {"Установлена связь с модемом.", link::kLogNoAnswer})) << run.err;
    EXPECT_EQ(run.out, "") << fault;
    EXPECT_LT(run.seconds, 15.0) << fault << ": ended by the stall rule, not by the watchdog";
    device_.reset();
  }
}

// Every device behaviour under every line condition, an upload and a
// reflash each: every run ends with exit 0 and the device holding exactly
// what was sent. One test per behaviour, so that ctest can run them side by
// side.
class LinkMatrixTest : public ::testing::TestWithParam<std::string> {};

TEST_P(LinkMatrixTest, EveryRunCompletesWithExactContent) {
  const MatrixPrograms programs{ORVANE_CLI_PROGRAM, ORVANE_SIM_PROGRAM};
  for (const MatrixCell& cell : LinkMatrix()) {
    if (cell.behaviour != GetParam()) continue;
    const CellRun run = RunCell(programs, cell, 1);
    EXPECT_TRUE(run.Success()) << cell.Name() << ": exit " << run.exit_status << ", " << run.mismatch << "\n"
                               << run.log;
    std::printf("%-24s exit %d  %.2f s  %ld polls  %ld answers\n", cell.Name().c_str(), run.exit_status,
                run.seconds, run.polls, run.answers);
  }
}

INSTANTIATE_TEST_SUITE_P(Behaviours, LinkMatrixTest, ::testing::Values("all", "first", "queue", "flush"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace orvane::e2e
