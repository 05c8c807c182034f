// The one-port run moves on the engine's outcomes alone: here the link's end
// reports are handed to it directly, on a port nobody answers, and nothing
// it logs matters. Then two steps on one connection against the simulator.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/port_run.h"
#include "sim/simulator.h"
#include "tests/serial/pty_pair.h"

namespace orvane::cli {
namespace {

namespace fs = std::filesystem;

struct OutcomeCase {
  const char* what;
  Step step;
  std::vector<link::OperationEnd> outcomes;  // handed over one by one
  int exit_status;
  std::string error;  // part of the result's error, "" for none
  bool has_device;
};

link::OperationEnd VerifyFailedAt(std::uint16_t offset) {
  link::OperationEnd outcome = link::OperationEnd::Cleared(link::EndCause::kVerifyFailed, {});
  outcome.verify_command = 2;
  outcome.verify_offset = offset;
  return outcome;
}

class PortRunTest : public ::testing::Test {
 protected:
  PortRunTest() {
    folder_ = fs::temp_directory_path() / ("orvane-run-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    console_.out = std::tmpfile();
    console_.err = std::tmpfile();
  }
  ~PortRunTest() override {
    std::fclose(console_.out);
    std::fclose(console_.err);
    fs::remove_all(folder_);
  }

  std::string WriteFile(const std::string& name, std::size_t size) {
    const std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return path;
  }

  Options OnPort(const std::string& port) {
    Options options;
    options.port = port;
    options.yes = true;
    options.quiet = true;
    return options;
  }

  fs::path folder_;
  Console console_;
};

TEST_F(PortRunTest, TheOutcomesAloneDecideTheResultAndTheExitStatus) {
  const std::string image = WriteFile("a.mts", 100);
  const OutcomeCase cases[] = {
      {"status", Step::Status(), {link::OperationEnd::Done()}, 0, "", true},
      {"erase, then the modem falls silent", Step::Erase(),
       {link::OperationEnd::Done(), link::OperationEnd::Cleared(link::EndCause::kNotConnected, {})}, 1, "Модем не подключен!",
       false},
      {"verify finds a difference", Step::Verify(image), {link::OperationEnd::Done(), VerifyFailedAt(0x40)}, 1,
       "Ошибка верификации", true},
      {"put, and the directory shows nothing new", Step::Put(WriteFile("p.yp1", 10)),
       {link::OperationEnd::Done(), link::OperationEnd::Done()}, 1, "did not store", false},
      {"put of a file larger than the free space", Step::Put(WriteFile("big.yp1", 9990)), {link::OperationEnd::Done()}, 2,
       "Файл слишком большой", false},
      {"a constants read that ends with entries behind it", Step::Status(),
       {link::OperationEnd::Cleared(link::EndCause::kClearedByAnswer, {})}, 1, "Очередь команд очищена!", false},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.what);
    serial::testing::PtyPair pty;
    OnePortRun run(OnPort(pty.port()), console_);
    std::size_t next = 0;
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
      if (next < c.outcomes.size()) run.OperationEnded(c.outcomes[next++]);
    });
    feeder.start(20);
    const PortResult result = run.Run({c.step});
    EXPECT_EQ(next, c.outcomes.size()) << "the run ended before its last outcome";
    EXPECT_EQ(ExitStatusOf(result), c.exit_status) << result.error;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    EXPECT_EQ(result.device.has_value(), c.has_device);
    if (c.step.kind == Step::Kind::kVerify) {
      ASSERT_TRUE(result.verify);
      EXPECT_EQ(result.verify->difference, 0x40);
    }
  }
}

// Steps of one run share the connection: one start, one connecting refresh,
// then each step's operation ending in its own refresh.
TEST_F(PortRunTest, TwoStepsRunOneAfterTheOtherOnOneConnection) {
  sim::SimOptions device;
  device.poll_interval_us = 200;
  sim::Simulator simulator(device);
  const std::string port = simulator.Start();
  Options options = OnPort(port);
  options.quiet = false;
  ConstantsChange change;
  change.identifier = "Пульт-9";
  change.local_address = 12;

  OnePortRun run(options, console_);
  const std::string plan = WriteFile("plan.yp1", 500);
  const PortResult result = run.Run({Step::Put(plan), Step::Constants(change)});
  ASSERT_EQ(ExitStatusOf(result), 0) << result.error;
  ASSERT_TRUE(result.device);
  EXPECT_EQ(result.device->fields.identifier, "Пульт-9");
  EXPECT_EQ(result.device->directory.count(), 1);

  const sim::DeviceState state = simulator.State();
  ASSERT_EQ(state.files.size(), 1u);
  EXPECT_EQ(state.files[0].data, std::vector<std::uint8_t>(500, 'x'));
  EXPECT_EQ(state.constants[3], 12);

  std::rewind(console_.err);
  std::string log;
  for (char buffer[4096]; std::fgets(buffer, sizeof buffer, console_.err);) log += buffer;
  auto count = [&log](const std::string& line) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = log.find(line + "\n", at)) != std::string::npos; at += line.size()) ++n;
    return n;
  };
  EXPECT_EQ(count("Запуск программы"), 1u) << log;
  EXPECT_EQ(count("Установлена связь с модемом."), 1u) << log;
  EXPECT_EQ(count("Операция успешно завершена."), 3u) << "the refresh, the put, the constants\n" << log;
}

}  // namespace
}  // namespace orvane::cli

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  unsetenv("ORVANE_PORT_DIR");
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
