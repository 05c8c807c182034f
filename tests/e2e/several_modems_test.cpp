// orvane-cli on several simulated consoles at once: one child per port, each
// result carrying its port, the worst status as the exit status.
#include <QJsonArray>
#include <filesystem>
#include <map>

#include <signal.h>

#include "link/operation_end.h"
#include "tests/e2e/e2e_fixture.h"

namespace orvane::e2e {
namespace {

class SeveralModems : public EndToEnd {
 protected:
  // Starts consoles 0..count-1, each with its extra options.
  void StartConsoles(std::size_t count, const std::map<std::size_t, std::vector<std::string>>& extra = {},
                     const sim::DeviceState* initial = nullptr) {
    for (std::size_t i = 0; i < count; ++i) {
      StartConsole(i, extra.contains(i) ? extra.at(i) : std::vector<std::string>{}, initial);
    }
  }

  std::vector<std::string> PortOptions() const {
    std::vector<std::string> options;
    for (const auto& console : consoles_) options.insert(options.end(), {"--port", console->port()});
    return options;
  }

  RunResult Several(std::vector<std::string> arguments, Environment extra = {}) {
    std::vector<std::string> all = PortOptions();
    all.insert(all.end(), arguments.begin(), arguments.end());
    return CliWithoutPort(all, std::move(extra));
  }

  // The JSON lines of a run by their "port".
  static std::map<std::string, QJsonObject> ByPort(const RunResult& run) {
    std::map<std::string, QJsonObject> results;
    for (const std::string& line : Lines(run.out)) {
      const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
      results[object["port"].toString().toStdString()] = object;
    }
    return results;
  }

};

TEST_F(SeveralModems, FourFlashedAtOnceWithOneFailingItsVerify) {
  StartConsoles(4, {{2, {"--fail-verify", "100"}}});
  const Bytes image = Pattern(8010, 50);
  std::vector<std::string> arguments{"--yes", "--json", "flash", WriteFile("image.mts", image)};
  const RunResult run = Several(arguments);
  EXPECT_EQ(run.exit_status, 1) << "the worst of 0, 0, 1, 0";

  const auto results = ByPort(run);
  ASSERT_EQ(results.size(), 4u) << run.out;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::string port = consoles_[i]->port();
    ASSERT_TRUE(results.contains(port)) << port << "\n" << run.out;
    const QJsonObject& result = results.at(port);
    if (i == 2) {
      EXPECT_EQ(result["exit"].toInt(), 1);
      EXPECT_EQ(result["error"].toString().toStdString(), kVerifyError);
    } else {
      EXPECT_EQ(result["exit"].toInt(), 0) << port;
      EXPECT_TRUE(result["files"].isArray()) << "the port's own result is part of its line";
    }
  }
  for (const std::string& line : Lines(run.err)) {
    const bool prefixed = std::any_of(consoles_.begin(), consoles_.end(),
                                      [&](const auto& console) { return line.starts_with(console->port() + ": "); });
    EXPECT_TRUE(prefixed) << line;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    const sim::DeviceState state = StopConsole(i);
    ASSERT_EQ(state.firmware.size(), (image.size() + 31) / 32 * 32) << i;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), state.firmware.begin())) << i;
  }
}

TEST_F(SeveralModems, AMissingPortFailsAloneAndAllGivesTheScannedPortsInOrder) {
  StartConsoles(2);
  const std::string ports = Path("ports");
  std::filesystem::create_directories(ports);
  std::filesystem::create_symlink(consoles_[0]->port(), ports + "/COM3");
  std::filesystem::create_symlink(consoles_[1]->port(), ports + "/COM5");
  const Environment environment{{"ORVANE_PORT_DIR", ports}};

  const RunResult mixed = CliWithoutPort({"--port", "COM3", "--port", "COM4", "status"}, environment);
  EXPECT_EQ(mixed.exit_status, 1);
  EXPECT_TRUE(InOrder(Lines(mixed.out), {"== COM4: exit 1, " + ports + "/COM4 does not exist; ports that exist: COM3 (" +
                                             ports + "/COM3), COM5 (" + ports + "/COM5) =="}))
      << mixed.out;
  EXPECT_TRUE(InOrder(Lines(mixed.out), {"== COM3 ==", "Идентификатор модема:     "})) << mixed.out;

  const RunResult all = CliWithoutPort({"--port", "all", "--quiet", "--json", "constants", "--serial-from", "100"},
                                       environment);
  ASSERT_EQ(all.exit_status, 0) << all.err << all.out;
  const auto results = ByPort(all);
  ASSERT_EQ(results.size(), 2u) << all.out;
  EXPECT_EQ(results.at("COM3")["constants"].toObject()["serial"].toInt(), 100);
  EXPECT_EQ(results.at("COM5")["constants"].toObject()["serial"].toInt(), 101);
  EXPECT_EQ(all.err, "") << "--quiet leaves out the scan and the log";

  std::filesystem::create_directories(Path("no-ports"));
  const RunResult none = CliWithoutPort({"--port", "all", "status"}, {{"ORVANE_PORT_DIR", Path("no-ports")}});
  EXPECT_EQ(none.exit_status, 1);
  EXPECT_NE(none.err.find("orvane-cli: --port all: the scan of COM1 to COM16 found no port that opens"),
            std::string::npos)
      << none.err;
}

// A signal to the tool reaches every port's run: each stops in order and
// frees its port, and the results follow in the order the ports were given,
// with a line summing them up.
TEST_F(SeveralModems, ASignalStopsEveryPortAndEachResultFollowsInOrder) {
  StartConsoles(3);
  const std::string image = WriteFile("full.mts", Pattern(65535, 63));
  std::vector<std::string> argv{ORVANE_CLI_PROGRAM};
  for (const std::string& option : PortOptions()) argv.push_back(option);
  argv.insert(argv.end(), {"--yes", "flash", image});
  const RunResult run = RunProgram(argv, {{"XDG_CONFIG_HOME", Path("config")}}, std::chrono::seconds(60),
                                   SignalLater{SIGINT, "Идет прошивка основной программы...", std::chrono::milliseconds(300)});
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 130) << run.err;
  std::vector<std::string> headings;
  for (const auto& console : consoles_) headings.push_back("== " + console->port() + ": exit 130, stopped by SIGINT ==");
  headings.push_back("3 ports: 0 done, 3 failed: " + consoles_[0]->port() + " (exit 130, stopped by SIGINT), " +
                     consoles_[1]->port() + " (exit 130, stopped by SIGINT), " + consoles_[2]->port() +
                     " (exit 130, stopped by SIGINT)");
  EXPECT_TRUE(InOrder(Lines(run.out), headings)) << run.out;
  for (const auto& console : consoles_) {
    EXPECT_TRUE(InOrder(Lines(run.err), {console->port() + ": " + link::kLogCancelled,
                                         console->port() + ": " + link::kLogProgramIncomplete}))
        << run.err;
    EXPECT_EQ(CliWithoutPort({"--port", console->port(), "--quiet", "status"}).exit_status, 0)
        << console->port() << " is free again: its run has ended";
  }
}

TEST_F(SeveralModems, AnEraseOfSeveralIsRefusedWithoutYesBeforeAnyStarts) {
  sim::DeviceState initial;
  initial.files = {sim::SimFile{2, Cp1251Bytes("a"), Pattern(10, 51)}};
  StartConsoles(2, {}, &initial);
  const RunResult run = Several({"erase"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("orvane-cli: not confirmed: give --yes"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Открытие"), std::string::npos) << run.err;
  EXPECT_EQ(StopConsole(0).files.size(), 1u);
  EXPECT_EQ(StopConsole(1).files.size(), 1u);
}

}  // namespace
}  // namespace orvane::e2e
