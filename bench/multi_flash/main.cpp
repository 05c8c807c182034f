// Several modems at once: a 64 KiB reflash of four simulated consoles by one
// orvane-cli run (four --port options) against the same reflash of one
// console alone, in the same round, on this machine.
//
//   orvane_bench_multi_flash [--rounds N] [--modems N] [--poll-interval-us US] [--cli PATH]
//
// The consoles are the simulator's device threads in this process, each on
// its own pseudo-terminal; the tool runs as a child, as a user would start
// it. The poll interval is the console's pause before its next poll (the
// simulator's default, 1000 us, stands for a device polling on its own
// clock; 0 polls again at once after each answer).
#include <fcntl.h>
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
constexpr std::size_t kImageSize = 65535;

struct Run {
  double wall = 0;          // seconds
  double cpu = 0;           // seconds of the tool and its children
  double console_cpu = 0;   // seconds of this process: the consoles' threads
  int status = -1;
  bool firmware_ok = false;
};

double Seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6; }

// orvane-cli --port P1 ... --port Pn --yes --quiet flash IMAGE, to its end.
Run Flash(const std::string& cli, const std::vector<std::string>& ports, const std::string& image) {
  std::vector<std::string> arguments{cli};
  for (const std::string& port : ports) arguments.insert(arguments.end(), {"--port", port});
  arguments.insert(arguments.end(), {"--yes", "--quiet", "flash", image});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  Run run;
  const auto started = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  run.wall = std::chrono::duration<double>(Clock::now() - started).count();
  run.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// n consoles, a reflash of all of them by one run, and a check that each
// holds the image afterwards.
Run FlashConsoles(std::size_t n, int poll_interval_us, const std::string& cli, const std::string& image_path,
                  const std::vector<std::uint8_t>& image) {
  std::vector<std::unique_ptr<orvane::sim::Simulator>> consoles;
  std::vector<std::string> ports;
  for (std::size_t i = 0; i < n; ++i) {
    orvane::sim::SimOptions options;
    options.poll_interval_us = poll_interval_us;
    consoles.push_back(std::make_unique<orvane::sim::Simulator>(options));
    ports.push_back(consoles.back()->Start());
  }
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  Run run = Flash(cli, ports, image_path);
  ::getrusage(RUSAGE_SELF, &after);
  run.console_cpu = Seconds(after.ru_utime) + Seconds(after.ru_stime) - Seconds(before.ru_utime) -
                    Seconds(before.ru_stime);
  run.firmware_ok = true;
  for (const auto& console : consoles) {
    const auto firmware = console->State().firmware;
    run.firmware_ok &= firmware.size() >= image.size() && std::equal(image.begin(), image.end(), firmware.begin());
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3, modems = 4, poll_interval_us = orvane::sim::SimOptions{}.poll_interval_us;
  std::string cli = ORVANE_CLI_PROGRAM;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--modems") == 0) modems = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--poll-interval-us") == 0) poll_interval_us = std::max(0, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--cli") == 0) cli = argv[i + 1];
  }
  const auto folder = std::filesystem::temp_directory_path() / ("orvane-bench-multi-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder / "config");
  ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  const std::string image_path = (folder / "image.mts").string();
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + 7);
  std::ofstream(image_path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

  std::printf("64 KiB reflash (%zu-byte image, 4097 exchanges a console), poll interval %d us, %ld cores\n",
              kImageSize, poll_interval_us, ::sysconf(_SC_NPROCESSORS_ONLN));
  const std::string at_once = std::to_string(modems) + " at once";
  std::printf("%-6s %10s %10s %10s %8s %10s %10s %10s %8s\n", "round", "1 alone", "tool cpu", "consoles", "",
              at_once.c_str(), "tool cpu", "consoles", "ratio");
  for (int round = 1; round <= rounds; ++round) {
    const Run one = FlashConsoles(1, poll_interval_us, cli, image_path, image);
    const Run many = FlashConsoles(static_cast<std::size_t>(modems), poll_interval_us, cli, image_path, image);
    std::printf("%-6d %9.2fs %9.2fs %9.2fs %8s %9.2fs %9.2fs %9.2fs %8.2f%s\n", round, one.wall, one.cpu,
                one.console_cpu, one.status == 0 && one.firmware_ok ? "ok" : "FAILED", many.wall, many.cpu,
                many.console_cpu, many.wall / one.wall, many.status == 0 && many.firmware_ok ? "" : "  FAILED");
  }
  std::filesystem::remove_all(folder);
  return 0;
}
