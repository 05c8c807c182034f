#include "tests/e2e/link_matrix.h"

#include <stdlib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/simulator.h"
#include "tests/e2e/child_process.h"

namespace orvane::e2e {
namespace {

constexpr std::size_t kPlanSize = 6000;
constexpr std::size_t kImageSize = 8192;

void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The name the device stores for a path: padded with one space to an odd length.
Bytes StoredName(const std::string& path) {
  Bytes name(path.begin(), path.end());
  if (name.size() % 2 == 0) name.push_back(' ');
  return name;
}

std::string CheckPut(const sim::DeviceState& state, const std::string& path, const Bytes& plan) {
  if (state.files.size() != 1) return std::to_string(state.files.size()) + " files on the device";
  const sim::SimFile& file = state.files[0];
  if (file.name != StoredName(path)) return "stored name differs";
  if (file.type != 2) return "type " + std::to_string(file.type);
  if (file.data.size() != plan.size()) return "size " + std::to_string(file.data.size());
  const auto differ = std::mismatch(plan.begin(), plan.end(), file.data.begin());
  if (differ.first != plan.end()) return "byte " + std::to_string(differ.first - plan.begin()) + " differs";
  return "";
}

std::string CheckFlash(const sim::DeviceState& state, const Bytes& image) {
  if (state.firmware.size() != image.size()) return "firmware size " + std::to_string(state.firmware.size());
  const auto differ = std::mismatch(image.begin(), image.end(), state.firmware.begin());
  if (differ.first != image.end()) return "byte " + std::to_string(differ.first - image.begin()) + " differs";
  return "";
}

void ReadStats(const std::string& path, CellRun& run) {
  const QJsonObject stats = QJsonDocument::fromJson(QByteArray::fromStdString(Read(path))).object();
  run.polls = static_cast<long>(stats["polls"].toDouble());
  run.answers = static_cast<long>(stats["answers"].toDouble());
}

}  // namespace

Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return bytes;
}

std::vector<MatrixCell> LinkMatrix() {
  const std::vector<std::pair<std::string, std::vector<std::string>>> conditions = {
      {"clean", {"--poll-interval-us", "200"}},
      {"latency",
       {"--latency-us", "500", "--jitter-us", "3000", "--reply-window-us", "2000", "--poll-interval-us", "200"}},
      {"faults",
       {"--drop", "0.05", "--corrupt", "0.01", "--noise", "0.05", "--rx-corrupt", "0.01", "--reply-window-ms",
        "20", "--poll-interval-us", "200"}},
      {"tight", {"--reply-window-us", "50", "--poll-interval-us", "50"}},
  };
  std::vector<MatrixCell> cells;
  for (const std::string behaviour : {"all", "first", "queue", "flush"}) {
    for (const auto& [condition, options] : conditions) {
      if (behaviour == "flush" && condition == "tight") continue;
      for (const std::string transfer : {"put", "flash"}) {
        MatrixCell cell{behaviour, condition, transfer, {"--answer", behaviour}};
        cell.device_options.insert(cell.device_options.end(), options.begin(), options.end());
        cells.push_back(std::move(cell));
      }
    }
  }
  return cells;
}

CellRun RunCell(const MatrixPrograms& programs, const MatrixCell& cell, unsigned seed, std::chrono::seconds limit) {
  char pattern[] = "/tmp/orvane-matrix-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return {};
  const std::string folder = pattern;
  const std::string state = folder + "/device.json", stats = folder + "/stats.json";
  std::filesystem::create_directories(folder + "/config");

  const bool put = cell.transfer == "put";
  const std::string path = folder + (put ? "/plan.yp1" : "/image.mts");
  const Bytes content = Pattern(put ? kPlanSize : kImageSize, seed);
  Write(path, content);

  std::vector<std::string> options = cell.device_options;
  options.insert(options.end(), {"--seed", std::to_string(seed), "--state", state, "--stats", stats});
  CellRun run;
  {
    Simulator device(programs.sim, options);
    std::vector<std::string> argv{programs.cli, "--port", device.port()};
    if (put) {
      argv.insert(argv.end(), {"put", path});
    } else {
      argv.insert(argv.end(), {"--yes", "flash", path});
    }
    const RunResult result =
        RunProgram(argv, {{"XDG_CONFIG_HOME", folder + "/config"}}, std::chrono::milliseconds(limit));
    run.exit_status = result.exit_status;
    run.timed_out = result.timed_out;
    run.seconds = result.seconds;
    run.log = result.err;
    device.Stop();
  }
  sim::DeviceState stored;
  std::string error;
  if (!sim::LoadState(state, stored, &error)) {
    run.mismatch = "no device state: " + error;
  } else {
    run.mismatch = put ? CheckPut(stored, path, content) : CheckFlash(stored, content);
    run.content_exact = run.mismatch.empty();
  }
  ReadStats(stats, run);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return run;
}

}  // namespace orvane::e2e
