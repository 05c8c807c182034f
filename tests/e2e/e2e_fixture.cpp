#include "tests/e2e/e2e_fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvane::e2e {

Bytes Cp1251Bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

void EndToEnd::SetUp() {
  // The tool's own messages follow the locale; the tests read them in English
  // unless they ask for Russian.
  ::setenv("LANG", "C.UTF-8", 1);
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) ::unsetenv(name);
  char pattern[] = "/tmp/orvane-e2e-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  folder_ = pattern;
  state_path_ = Path("device.json");
  std::filesystem::create_directories(Path("config"));
}

void EndToEnd::TearDown() {
  consoles_.clear();
  device_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string EndToEnd::WriteFile(const std::string& name, const Bytes& bytes) const {
  const std::string path = Path(name);
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string EndToEnd::PlanPathWithParity(const std::string& extension, bool odd) const {
  std::string path = Path("plan" + extension);
  if ((path.size() % 2 == 1) != odd) path = Path("plan1" + extension);
  return path;
}

void EndToEnd::StartSimulator(std::unique_ptr<Simulator>& slot, const std::string& state_path,
                              std::vector<std::string> options, const sim::DeviceState* initial) {
  if (initial) {
    std::string error;
    ASSERT_TRUE(sim::SaveState(state_path, *initial, &error)) << error;
  }
  bool interval_given = false;
  for (const auto& option : options) interval_given |= option == "--poll-interval-us";
  if (!interval_given) options.insert(options.end(), {"--poll-interval-us", "200"});
  options.insert(options.end(), {"--state", state_path});
  slot = std::make_unique<Simulator>(ORVANE_SIM_PROGRAM, options);
}

sim::DeviceState EndToEnd::StopSimulator(Simulator* simulator, const std::string& state_path) {
  sim::DeviceState state;
  if (!simulator) {
    ADD_FAILURE() << "no device running";
    return state;
  }
  EXPECT_EQ(simulator->Stop(), 0) << "orvane-sim did not end cleanly";
  std::string error;
  EXPECT_TRUE(sim::LoadState(state_path, state, &error)) << error;
  return state;
}

void EndToEnd::StartDevice(std::vector<std::string> options, const sim::DeviceState* initial) {
  StartSimulator(device_, state_path_, std::move(options), initial);
}

sim::DeviceState EndToEnd::StopDevice() { return StopSimulator(device_.get(), state_path_); }

void EndToEnd::StartConsole(std::size_t i, std::vector<std::string> options, const sim::DeviceState* initial) {
  if (consoles_.size() <= i) consoles_.resize(i + 1);
  StartSimulator(consoles_[i], StateOf(i), std::move(options), initial);
}

sim::DeviceState EndToEnd::StopConsole(std::size_t i) {
  return StopSimulator(i < consoles_.size() ? consoles_[i].get() : nullptr, StateOf(i));
}

RunResult EndToEnd::Cli(std::vector<std::string> arguments, std::chrono::seconds limit, Environment extra) {
  std::vector<std::string> argv{ORVANE_CLI_PROGRAM, "--port", device_ ? device_->port() : "/nonexistent"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  extra["XDG_CONFIG_HOME"] = Path("config");
  return RunProgram(argv, extra, limit);
}

RunResult EndToEnd::CliWithoutPort(std::vector<std::string> arguments, Environment extra) {
  std::vector<std::string> argv{ORVANE_CLI_PROGRAM};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  extra["XDG_CONFIG_HOME"] = Path("config");
  return RunProgram(argv, extra, std::chrono::seconds(60));
}

QJsonObject EndToEnd::Json(const RunResult& run) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << run.out;
  return document.object();
}

std::vector<std::string> EndToEnd::Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

bool EndToEnd::InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  std::size_t next = 0;
  for (const auto& line : lines) {
    if (next < expected.size() && line == expected[next]) ++next;
  }
  return next == expected.size();
}

}  // namespace orvane::e2e
