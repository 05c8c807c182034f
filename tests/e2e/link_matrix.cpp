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

// A delete of file 2 of three leaves the first and the third, unchanged.
std::string CheckDelete(const sim::DeviceState& state, const sim::DeviceState& before) {
  if (state.files.size() != 2) return std::to_string(state.files.size()) + " files on the device";
  for (std::size_t i = 0; i < 2; ++i) {
    const sim::SimFile& kept = before.files[i == 0 ? 0 : 2];
    const sim::SimFile& file = state.files[i];
    if (file.name != kept.name || file.type != kept.type || file.data != kept.data) {
      return "file " + std::to_string(i + 1) + " differs";
    }
  }
  return "";
}

// Three files of different sizes for a delete to choose from.
sim::DeviceState ThreeFiles(unsigned seed) {
  sim::DeviceState state;
  for (std::uint16_t i = 0; i < 3; ++i) {
    const std::string name = "plan" + std::to_string(i + 1) + ".yp1";
    state.files.push_back({2, Bytes(name.begin(), name.end()), Pattern(300 + 100 * i, seed + i)});
  }
  return state;
}

double Seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

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
  // 1 to 3 ms through the adapter against a 2 ms reply window: about half
  // the frames come too late and are flushed before the next poll, which
  // comes after 1 to 2 ms.
  const std::vector<std::string> jitter = {"--latency-us", "1000", "--jitter-us", "2000", "--reply-window-us",
                                           "2000", "--poll-jitter-us", "1000"};
  const std::vector<std::string> apply = {"--copies", "apply", "--drop", "0.08", "--rx-drop", "0.03",
                                          "--reply-window-ms", "20", "--poll-interval-us", "200"};
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
    if (behaviour == "flush") {
      MatrixCell cell{behaviour, "jitter", "put", {"--answer", behaviour}, 4000};
      cell.device_options.insert(cell.device_options.end(), jitter.begin(), jitter.end());
      cells.push_back(std::move(cell));
    }
    if (behaviour == "all" || behaviour == "first") {
      for (const std::string transfer : {"put", "delete"}) {
        MatrixCell cell{behaviour, "apply", transfer, {"--answer", behaviour}};
        cell.device_options.insert(cell.device_options.end(), apply.begin(), apply.end());
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

  const bool put = cell.transfer == "put", remove = cell.transfer == "delete";
  const std::string path = folder + (put ? "/plan.yp1" : "/image.mts");
  const Bytes content = Pattern(put ? (cell.size ? cell.size : kPlanSize) : kImageSize, seed);
  if (!remove) Write(path, content);
  const sim::DeviceState before = remove ? ThreeFiles(seed) : sim::DeviceState{};
  std::string error;
  if (remove && !sim::SaveState(state, before, &error)) return {};

  std::vector<std::string> options = cell.device_options;
  options.insert(options.end(), {"--seed", std::to_string(seed), "--state", state, "--stats", stats});
  CellRun run;
  {
    Simulator device(programs.sim, options);
    std::vector<std::string> argv{programs.cli, "--port", device.port()};
    if (put) {
      argv.insert(argv.end(), {"put", path});
    } else if (remove) {
      argv.insert(argv.end(), {"delete", "2"});
    } else {
      argv.insert(argv.end(), {"--yes", "flash", path});
    }
    const RunResult result =
        RunProgram(argv, {{"XDG_CONFIG_HOME", folder + "/config"}}, std::chrono::milliseconds(limit));
    run.exit_status = result.exit_status;
    run.timed_out = result.timed_out;
    run.seconds = result.seconds;
    run.cpu_seconds = Seconds(result.usage.ru_utime) + Seconds(result.usage.ru_stime);
    run.log = result.err;
    device.Stop();
  }
  sim::DeviceState stored;
  if (!sim::LoadState(state, stored, &error)) {
    run.mismatch = "no device state: " + error;
  } else {
    run.mismatch = put      ? CheckPut(stored, path, content)
                   : remove ? CheckDelete(stored, before)
                            : CheckFlash(stored, content);
    run.content_exact = run.mismatch.empty();
  }
  ReadStats(stats, run);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return run;
}

}  // namespace orvane::e2e
