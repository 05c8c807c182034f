// Receive-path throughput (frames mixed with noise, through the scanner, the
// link control and the handlers) and the cost of queuing a full reflash.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "device/session.h"

namespace {

class QuietHost : public orvane::device::Host {
 public:
  void AppendLog(const std::string&) override {}
  void OpenLinkPort() override {}
  void CloseLinkPort() override {}
  bool WriteData(const std::uint8_t*, std::uint16_t count) override {
    written += count;
    return true;
  }
  void StopWatchdog() override {}
  void StartWatchdog() override {}
  void SetProgressMaximum(int) override {}
  void SetProgressPosition(int) override {}
  void SetQueueCounter(const std::string&) override {}
  bool ConfirmWarning(const std::string&) override { return true; }
  std::optional<std::string> ChooseFile(const orvane::device::FileChoice&) override {
    return path;
  }
  void ModelChanged(orvane::device::ModelPart) override {}
  void OperationEnded(const orvane::link::OperationEnd&) override {}

  std::size_t written = 0;
  std::string path;
};

// About 1 MiB: polls, chunk answers and directory answers, with random
// bytes (a fifth of the stream) between them.
std::vector<std::uint8_t> MixedStream() {
  std::mt19937 random(7);
  std::vector<std::uint8_t> stream;
  const auto poll = orvane::link::BuildFrame(0, {});
  const auto chunk = orvane::link::BuildFrame(22, {});
  const std::vector<std::uint8_t> block(35, 0x20);
  const auto write = orvane::link::BuildFrame(1, block);
  while (stream.size() < (1u << 20)) {
    for (int i = 0; i < 8; ++i) stream.push_back(static_cast<std::uint8_t>(random()));
    const auto& frame = (random() % 3 == 0) ? poll : (random() % 2 ? chunk : write);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

void BM_ParseAndDispatch(benchmark::State& state) {
  const auto stream = MixedStream();
  QuietHost host;
  orvane::device::Session session(host);
  const std::size_t piece = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      session.link().ReceiveData(stream.data() + at, std::min(piece, stream.size() - at));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ParseAndDispatch)->Arg(64)->Arg(4096)->Arg(32768);

void BM_QueueFirmwareEntries(benchmark::State& state) {
  QuietHost host;
  orvane::device::Session session(host);
  std::vector<std::uint8_t> chunk(35, 0xA5);
  for (auto _ : state) {
    for (int i = 0; i < 4096; ++i) session.link().Enqueue(1, chunk, 36);
    session.link().QueueRefresh();
    benchmark::DoNotOptimize(session.link().queue().size());
    state.PauseTiming();
    session.link().ClearQueue();
    state.ResumeTiming();
  }
  state.SetLabel("4097 entries");
}
BENCHMARK(BM_QueueFirmwareEntries)->Unit(benchmark::kMicrosecond);

void BM_ReflashActionFromFile(benchmark::State& state) {
  QuietHost host;
  host.path = (std::filesystem::temp_directory_path() / "orvane-bench.mts").string();
  std::ofstream(host.path, std::ios::binary) << std::string(65535, '\x5A');
  orvane::device::Session session(host);
  for (auto _ : state) {
    session.Reflash();
    state.PauseTiming();
    session.link().ClearQueue();
    state.ResumeTiming();
  }
  std::remove(host.path.c_str());
}
BENCHMARK(BM_ReflashActionFromFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
