// What the tool says when a run does not simply succeed: a signal in the
// middle of a reflash, a failure with --json, a port another program holds,
// a text the console cannot store, an image that would erase the main
// program.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "link/operation_end.h"
#include "tests/e2e/e2e_fixture.h"

namespace orvane::e2e {
namespace {

class HonestResults : public EndToEnd {};

// Each signal stops the reflash in order: nothing more is sent, the log says
// the main program is now incomplete, the result is printed, the exit status
// is 128 + the signal, and the port opens again at once.
TEST_F(HonestResults, ASignalEndsAReflashSayingWhatItLeaves) {
  StartDevice({});
  const std::string image = WriteFile("full.mts", Pattern(65535, 60));
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const RunResult run = RunProgram(
        {ORVANE_CLI_PROGRAM, "--port", device_->port(), "--yes", "--json", "flash", image},
        {{"XDG_CONFIG_HOME", Path("config")}}, std::chrono::seconds(30),
        SignalLater{signal, "Идет прошивка основной программы...", std::chrono::milliseconds(300)});
    EXPECT_EQ(run.signal, 0) << "the tool ends by itself";
    EXPECT_EQ(run.exit_status, 128 + signal) << run.err;
    EXPECT_TRUE(InOrder(Lines(run.err), {link::kLogCancelled, "Порт связи закрыт", link::kLogQueueCleared,
                                         link::kLogProgramIncomplete}))
        << run.err;
    EXPECT_EQ(Json(run)["exit"].toInt(), 128 + signal) << run.out;
    EXPECT_NE(Json(run)["error"].toString().toStdString().find("stopped by SIG"), std::string::npos) << run.out;
    EXPECT_EQ(Cli({"--quiet", "status"}).exit_status, 0) << "the port is free again";
  }
}

TEST_F(HonestResults, JsonSaysHowARunEndedAlsoWhenItFails) {
  const RunResult missing = CliWithoutPort({"--json", "--port", Path("no-such-port"), "status"});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(Json(missing)["exit"].toInt(), 1);
  EXPECT_EQ(Json(missing)["port"].toString().toStdString(), Path("no-such-port"));
  EXPECT_NE(Json(missing)["error"].toString().toStdString().find("does not exist"), std::string::npos);

  const RunResult refused = CliWithoutPort({"--json", "--port", "COM3", "flash", WriteFile("empty.mts", {})});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_EQ(Json(refused)["exit"].toInt(), 2);
  EXPECT_NE(Json(refused)["error"].toString().toStdString().find("is empty"), std::string::npos) << refused.out;
}

// A terminal program that holds the port without locking it would take the
// console's bytes: the port is not opened, and the tool names who holds it.
TEST_F(HonestResults, APortAnotherProgramHoldsIsNotOpenedAndTheHolderIsNamed) {
  StartDevice({});
  const int held = ::open(device_->port().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const RunResult run = Cli({"status"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(InOrder(Lines(run.err), {kPortFailed})) << run.err;
  EXPECT_NE(run.err.find("(pid " + std::to_string(::getpid()) + ")"), std::string::npos) << run.err;
  ::close(held);
  EXPECT_EQ(Cli({"--quiet", "status"}).exit_status, 0);
}

// Nothing is stored other than as given: what the console cannot hold is
// refused before anything is sent, naming the character; an image that
// would leave no main program is flashed only when forced.
TEST_F(HonestResults, InputTheConsoleCannotHoldAsGivenIsRefused) {
  StartDevice({});
  const std::string profile = WriteFile("profile.json", Cp1251Bytes(R"({"constants":{"id":"日本"}})"));
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"constants", "--id", "Пульт 日本"}, "\"日\""},
      {{"constants", "--from", profile}, "\"日\""},
      {{"--yes", "flash", WriteFile("empty.mts", {})}, "is empty"},
      {{"--yes", "flash", WriteFile("plan.yp1", Pattern(64, 61))}, "*.mts"},
      {{"verify", WriteFile("image.bin", Pattern(64, 62))}, "*.mts"},
      {{"put", WriteFile("план日.yp1", Pattern(64, 63))}, "\"日\" has no code page 1251 form"},
  };
  for (const auto& [arguments, message] : refused) {
    const RunResult run = Cli(arguments);
    EXPECT_EQ(run.exit_status, 2) << arguments.back();
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Открытие"), std::string::npos) << "refused before the port is opened";
  }
  EXPECT_EQ(Cli({"--yes", "--force", "flash", Path("plan.yp1")}).exit_status, 0) << "forced";
  const sim::DeviceState state = StopDevice();
  EXPECT_EQ(state.constants, sim::DeviceState{}.constants);
  EXPECT_TRUE(state.files.empty());
}

}  // namespace
}  // namespace orvane::e2e
