// The end-to-end fixture: a temporary folder (files to send, the device's
// state file, the settings store), the simulator as a child and runs of the
// tool against it.
#pragma once

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/link_matrix.h"

namespace orvane::e2e {


inline constexpr const char* kDone = "Операция успешно завершена.";
inline constexpr const char* kNotConnected = "Модем не подключен!";
inline constexpr const char* kVerifyError = "Ошибка верификации записанных данных!";
inline constexpr const char* kPortFailed = "Порт связи не может быть открыт.";

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  std::string WriteFile(const std::string& name, const Bytes& bytes) const;
  // A file in the folder whose full path has the given length parity.
  std::string PlanPathWithParity(const std::string& extension, bool odd) const;

  // Starts the simulator on the state file (seeded with `initial` when given)
  // with a short poll interval unless the options set one.
  void StartDevice(std::vector<std::string> options, const sim::DeviceState* initial = nullptr);
  // Stops it by its pid and reads what it stored.
  sim::DeviceState StopDevice();

  // More simulated consoles beside it, console i on the state file
  // consoleI.json, the same poll interval rule; consoles_[i]->port() is its port.
  std::string StateOf(std::size_t i) const { return Path("console" + std::to_string(i) + ".json"); }
  void StartConsole(std::size_t i, std::vector<std::string> options = {}, const sim::DeviceState* initial = nullptr);
  sim::DeviceState StopConsole(std::size_t i);

  // orvane-cli --port <device> ARGS, with the temporary settings store.
  RunResult Cli(std::vector<std::string> arguments, std::chrono::seconds limit = std::chrono::seconds(60),
                Environment extra = {});
  RunResult CliWithoutPort(std::vector<std::string> arguments, Environment extra = {});

  static QJsonObject Json(const RunResult& run);
  static std::vector<std::string> Lines(const std::string& text);
  // True when `expected` appear in this order (others may lie between).
  static bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected);

  std::string folder_;
  std::string state_path_;
  std::unique_ptr<Simulator> device_;
  std::vector<std::unique_ptr<Simulator>> consoles_;

 private:
  static void StartSimulator(std::unique_ptr<Simulator>& slot, const std::string& state_path,
                             std::vector<std::string> options, const sim::DeviceState* initial);
  static sim::DeviceState StopSimulator(Simulator* simulator, const std::string& state_path);
};

Bytes Cp1251Bytes(const std::string& ascii_or_bytes);

}  // namespace orvane::e2e
