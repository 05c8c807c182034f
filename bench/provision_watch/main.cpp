// The production station: eight simulated modems provisioned by one
// `orvane-cli provision --watch` against one modem alone, in the same round.
//
//   orvane_bench_provision_watch [--rounds N] [--modems N] [--poll-interval-us US] [--cli PATH]
//
// The job: a 64 KiB image (65 535 bytes, written and verified), erase, two
// plans (1 000 and 3 000 bytes), constants and a serial number. The tool
// watches a folder (ORVANE_PORT_DIR); the consoles are the simulator's
// device threads in this process, each making its link in that folder when
// it starts, all at once. Wall time runs from the consoles' start to the last
// "done" line of the tool (so it holds the tool's wait of 0.3 s after a port
// appears); then a Ctrl-C (SIGINT) ends the session. CPU time is that of the
// tool with its children (from wait4) and that of this process (the
// consoles).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
constexpr std::size_t kImageSize = 65535;

struct Run {
  double wall = 0, tool_cpu = 0, console_cpu = 0;
  std::size_t done = 0;
  bool ok = false;
};

double Seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6; }
double Cpu(const rusage& usage) { return Seconds(usage.ru_utime) + Seconds(usage.ru_stime); }

std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + seed * 17 + 7);
  return bytes;
}

void Write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::size_t Count(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; at += word.size()) ++count;
  return count;
}

// Reads the tool's stdout until `word` has come `count` times or 120 s pass.
bool ReadUntil(int fd, std::string& out, const std::string& word, std::size_t count) {
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (Count(out, word) + Count(out, ": failed") < count && Clock::now() < deadline) {
    pollfd watched{fd, POLLIN, 0};
    if (::poll(&watched, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return false;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return Count(out, word) >= count;
}

Run Provision(std::size_t modems, int poll_interval_us, const std::string& cli, const fs::path& folder, int round) {
  const fs::path ports = folder / ("ports-" + std::to_string(round) + "-" + std::to_string(modems));
  fs::create_directories(ports);
  const std::string db = (folder / "station.sqlite").string();
  int out[2];
  if (::pipe(out) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("ORVANE_PORT_DIR", ports.c_str(), 1);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(null, 2);
    ::execl(cli.c_str(), cli.c_str(), "--port", "all", "--db", db.c_str(), "--yes", "--quiet", "provision", "--watch",
            "--new-records",
            (folder / "job.toml").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(out[1]);
  std::string text;
  ReadUntil(out[0], text, "Ctrl-C stops", 1);

  Run run;
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto started = Clock::now();
  std::vector<std::unique_ptr<orvane::sim::Simulator>> consoles;
  for (std::size_t i = 0; i < modems; ++i) {
    orvane::sim::SimOptions options;
    options.poll_interval_us = poll_interval_us;
    options.link_path = (ports / ("COM" + std::to_string(i + 1))).string();
    consoles.push_back(std::make_unique<orvane::sim::Simulator>(options));
    consoles.back()->Start();
  }
  ReadUntil(out[0], text, ": done, serial", modems);
  run.wall = std::chrono::duration<double>(Clock::now() - started).count();
  ::getrusage(RUSAGE_SELF, &after);
  run.console_cpu = Cpu(after) - Cpu(before);
  run.done = Count(text, ": done, serial");
  ::kill(pid, SIGINT);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  ::close(out[0]);
  run.tool_cpu = Cpu(usage);
  const auto image = Bytes(kImageSize, 1);
  run.ok = run.done == modems && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  for (const auto& console : consoles) {
    const auto state = console->State();
    run.ok &= state.firmware.size() >= image.size() && std::equal(image.begin(), image.end(), state.firmware.begin()) &&
              state.files.size() == 2;
    console->Stop();
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3, modems = 8, poll_interval_us = orvane::sim::SimOptions{}.poll_interval_us;
  std::string cli = ORVANE_CLI_PROGRAM;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--modems") == 0) modems = std::clamp(std::atoi(argv[i + 1]), 1, 16);
    if (std::strcmp(argv[i], "--poll-interval-us") == 0) poll_interval_us = std::max(0, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--cli") == 0) cli = argv[i + 1];
  }
  const fs::path folder = fs::temp_directory_path() / ("orvane-bench-provision-" + std::to_string(::getpid()));
  fs::create_directories(folder / "config");
  ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  Write(folder / "main.mts", Bytes(kImageSize, 1));
  Write(folder / "a.yp1", Bytes(1000, 2));
  Write(folder / "b.l7q", Bytes(3000, 3));
  std::ofstream(folder / "job.toml") << "image = \"main.mts\"\nerase = true\nplans = [\"a.yp1\", \"b.l7q\"]\n"
                                        "[constants]\nid = \"Bench\"\ntz = 180\n[serial]\nfirst = 1\nlast = 1000000\n";

  std::printf("provision --watch: 64 KiB image, erase, two plans, constants; poll interval %d us, %ld cores\n",
              poll_interval_us, ::sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("%-6s %9s %9s %9s %4s | %9s %9s %9s %9s %9s %4s\n", "round", "1 wall", "tool cpu", "consoles", "",
              (std::to_string(modems) + " wall").c_str(), "per modem", "tool cpu", "per modem", "consoles", "");
  for (int round = 1; round <= rounds; ++round) {
    const Run one = Provision(1, poll_interval_us, cli, folder, round);
    const Run many = Provision(static_cast<std::size_t>(modems), poll_interval_us, cli, folder, round);
    std::printf("%-6d %8.2fs %8.2fs %8.2fs %4s | %8.2fs %8.2fs %8.2fs %8.2fs %8.2fs %4s\n", round, one.wall,
                one.tool_cpu, one.console_cpu, one.ok ? "ok" : "FAIL", many.wall, many.wall / modems, many.tool_cpu,
                many.tool_cpu / modems, many.console_cpu, many.ok ? "ok" : "FAIL");
  }
  fs::remove_all(folder);
  return 0;
}
