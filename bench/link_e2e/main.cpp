// Link benchmarks: poll-to-answer turnaround of the tool's engine against the
// simulator polling at once after each answer, the same figure for a bare
// responder on the same kind of pseudo-terminal, the projected reflash time on
// a real 1 000 000 baud line, the CPU time of an idle orvane-cli, and (on
// request) the memory of orvane-cli facing a device that never reads, and
// the CPU time and system calls of orvane-cli per exchange of a 64 KiB
// reflash against a bare device.
//
//   orvane_bench_link_e2e [--rounds N] [--cli PATH] [--stuck-seconds S]
//   orvane_bench_link_e2e --cpu-runs N [--cli PATH] [--strace FILE]
//
// --cpu-runs runs only the CPU figure, N reflashes; --strace runs each of
// them under strace -f -c, its summary written to FILE.N.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "cli/port_run.h"
#include "serial/link_port.h"
#include "serial/serial_comm.h"
#include "link/frame.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBitsPerByte = 11;  // start, 8 data, odd parity, stop
constexpr double kBaud = 1'000'000;
constexpr double kQuietReaderUs = 1000;
constexpr std::size_t kImageSize = 65535;
constexpr std::size_t kExchangesOfAReflash = 4102;  // refresh, 2 048 writes, 2 048 verifies, refresh

struct Summary {
  double median = 0, p99 = 0, mean = 0;
  std::size_t samples = 0;
};

Summary Summarize(std::vector<double> values) {
  Summary s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  s.samples = values.size();
  s.median = values[values.size() / 2];
  s.p99 = values[static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(values.size()))) - 1];
  s.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
  return s;
}

struct OursResult {
  Summary turnaround;
  double seconds = 0;
  long exchanges = 0;
  std::size_t bytes = 0;
  int status = -1;
};

// The tool's engine (session, serial component, link port) in this process
// against the simulator's device thread, for one 64 KiB reflash.
OursResult RunOurs(const std::string& image_path, std::FILE* sink) {
  orvane::sim::SimOptions options;
  options.poll_interval_us = 0;
  orvane::sim::Simulator simulator(options);
  const std::string port = simulator.Start();

  orvane::cli::Options cli;
  cli.port = port;
  cli.command = orvane::cli::Command::kFlash;
  cli.path = image_path;
  cli.yes = true;
  cli.quiet = true;
  orvane::cli::Console console;
  console.out = sink;
  console.err = sink;
  OursResult result;
  const auto started = Clock::now();
  {
    orvane::cli::OnePortRun run(cli, console);
    result.status = orvane::cli::ExitStatusOf(run.Run(orvane::cli::SpecOf(cli.command).steps(cli)));
    result.bytes = run.bytes_moved();
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const orvane::sim::ExchangeStats stats = simulator.Stats();
  simulator.Stop();
  result.turnaround = Summarize(stats.turnaround_us);
  result.exchanges = static_cast<long>(stats.turnaround_us.size());
  return result;
}

void MakeRaw(int fd) {
  termios attributes{};
  ::tcgetattr(fd, &attributes);
  ::cfmakeraw(&attributes);
  ::tcsetattr(fd, TCSANOW, &attributes);
}

bool ReadExactly(int fd, std::uint8_t* into, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    pollfd watched{fd, POLLIN, 0};
    if (::poll(&watched, 1, 1000) <= 0) return false;
    const ssize_t n = ::read(fd, into + got, count - got);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

struct PtyPair {
  int master = -1, port = -1;
  std::string port_path;
  PtyPair() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    MakeRaw(master);
    port_path = ::ptsname(master);
    port = ::open(port_path.c_str(), O_RDWR | O_NOCTTY);
    MakeRaw(port);
  }
};

const std::vector<std::uint8_t>& FixedAnswer() {
  static const std::vector<std::uint8_t> answer = orvane::link::BuildFrame(1, std::vector<std::uint8_t>(35, 0));
  return answer;  // 42 bytes: a firmware chunk frame (offset, count, 32 bytes)
}

// One exchange of the device side: writes a poll, waits for the 42-byte
// answer; microseconds from the poll written to the answer's last byte, or
// a negative figure when the other side failed.
double TimedExchange(int master) {
  static const std::vector<std::uint8_t> poll_frame = orvane::link::BuildFrame(0, {});
  std::uint8_t answer[64];
  if (::write(master, poll_frame.data(), poll_frame.size()) != static_cast<ssize_t>(poll_frame.size())) return -1;
  const auto written = Clock::now();
  if (!ReadExactly(master, answer, FixedAnswer().size())) return -1;
  return std::chrono::duration<double, std::micro>(Clock::now() - written).count();
}

// The device side of the fixed-answer measurements.
std::vector<double> PollLoop(int master, std::size_t exchanges) {
  std::vector<double> samples;
  samples.reserve(exchanges);
  for (std::size_t i = 0; i < exchanges; ++i) {
    const double sample = TimedExchange(master);
    if (sample < 0) break;
    samples.push_back(sample);
  }
  return samples;
}

// The machine's own limit: a minimal responder on the port side answers each
// poll with a fixed 42-byte frame from one plain read-write loop.
class BareResponder {
 public:
  BareResponder()
      : thread_([this] {
          std::uint8_t poll[7];
          while (ReadExactly(pty_.port, poll, sizeof poll)) {
            const auto& answer = FixedAnswer();
            if (::write(pty_.port, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) break;
          }
        }) {}
  ~BareResponder() {
    ::close(pty_.master);
    thread_.join();
    ::close(pty_.port);
  }
  int master() const { return pty_.master; }

 private:
  PtyPair pty_;
  std::thread thread_;
};

Summary RunBareResponder(std::size_t exchanges) {
  BareResponder bare;
  return Summarize(PollLoop(bare.master(), exchanges));
}

// The serial component alone: the same fixed answer written from its receive
// event, so through its reader thread, the event loop and the write.
Summary RunSerialComponentResponder(std::size_t exchanges) {
  PtyPair pty;
  ::close(pty.port);
  orvane::serial::TSerialComm comm;
  orvane::serial::ConfigureLinkComm(comm);
  comm.SetCommPort(pty.port_path);
  comm.Open();
  std::size_t pending = 0;
  comm.OnReceiveData = [&](const std::uint8_t*, std::uint16_t count) {
    for (pending += count; pending >= 7; pending -= 7) {
      comm.WriteData(FixedAnswer().data(), static_cast<std::uint16_t>(FixedAnswer().size()));
    }
  };
  std::vector<double> samples;
  std::atomic<bool> done{false};
  std::thread device([&] {
    samples = PollLoop(pty.master, exchanges);
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  device.join();
  comm.Close();
  ::close(pty.master);
  return Summarize(samples);
}

struct IdleResult {
  double wall = 0, cpu = 0;
  int status = -1;
};

// Starts a program as a child with its standard streams on /dev/null and,
// when a folder is given, its settings there. The argument list is built
// before the fork: the child of a threaded bench only execs.
pid_t SpawnSilent(std::vector<std::string> arguments, const std::string& config = {}) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (!config.empty()) ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// orvane-cli --port PORT status as a child with no terminal, its settings in
// the given folder.
pid_t SpawnStatus(const std::string& cli_program, const std::string& port, const std::string& config) {
  return SpawnSilent({cli_program, "--port", port, "status"}, config);
}

// User and system time of a waited-for child, all its threads, in seconds.
double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// orvane-cli with its port open on a console that polled once and fell
// silent: it waits for the 10-second watchdog. Its own CPU time from wait4.
IdleResult RunIdle(const std::string& cli_program, const std::string& config) {
  orvane::sim::SimOptions options;
  options.silent_after = 1;
  orvane::sim::Simulator simulator(options);
  const std::string port = simulator.Start();
  IdleResult result;
  const auto started = Clock::now();
  const pid_t pid = SpawnStatus(cli_program, port, config);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  result.wall = std::chrono::duration<double>(Clock::now() - started).count();
  result.cpu = CpuSeconds(usage);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  simulator.Stop();
  return result;
}

void PrintSide(int round, const char* side, const Summary& summary, const std::string& rate = "-",
               const std::string& status = "-") {
  std::printf("%-6d %-8s %9zu %7.1fus %7.1fus %7.1fus %11s %8s\n", round, side, summary.samples, summary.median,
              summary.p99, summary.mean, rate.c_str(), status.c_str());
}

// One round: each variant right after a bare run, so both meet about the
// same load. Prints the figures and returns the round's row of the table.
std::string RunRound(int round, const std::string& image_path, std::FILE* sink) {
  const Summary bare = RunBareResponder(kExchangesOfAReflash);
  const OursResult ours = RunOurs(image_path, sink);
  const Summary bare_again = RunBareResponder(static_cast<std::size_t>(ours.exchanges));
  const Summary component = RunSerialComponentResponder(static_cast<std::size_t>(ours.exchanges));
  const double exchanges_per_second = static_cast<double>(ours.exchanges) / ours.seconds;
  PrintSide(round, "bare", bare);
  PrintSide(round, "ours", ours.turnaround, std::to_string(std::lround(exchanges_per_second)),
            std::to_string(ours.status));
  PrintSide(round, "bare", bare_again);
  PrintSide(round, "serial", component);

  const double wire = static_cast<double>(ours.bytes) * kBitsPerByte / kBaud;
  const double own_share_us = std::max(0.0, ours.turnaround.mean - bare.mean);
  const double projected = wire + static_cast<double>(ours.exchanges) * own_share_us / 1e6;
  const double quiet_reader = wire + static_cast<double>(ours.exchanges) * kQuietReaderUs / 1e6;
  const double ours_ratio = ours.turnaround.median / bare.median;
  const double serial_ratio = component.median / bare_again.median;
  std::printf("       median ratio ours/bare %.2f, serial/bare %.2f; %zu bytes both ways: wire %.3f s, "
              "projected %.3f s (x%.3f), 1 ms quiet-line reader %.3f s (x%.2f)\n",
              ours_ratio, serial_ratio, ours.bytes, wire, projected, projected / wire, quiet_reader,
              quiet_reader / wire);
  char row[512];
  std::snprintf(row, sizeof row, "| %d | %.1f µs | %.1f µs | %.1f µs | %.2f | %.3f | %.1f µs | %.1f µs | %.2f | %.0f |",
                round, bare.median, ours.turnaround.median, ours.turnaround.p99, ours_ratio, projected / wire,
                bare_again.median, component.median, serial_ratio, exchanges_per_second);
  return row;
}

// A console that polls as fast as the port takes its polls and never reads
// what the PC sends, like an adapter stuck on its receive side; orvane-cli
// status runs against it and its resident memory is sampled every 5 s.
void RunStuckDevice(const std::string& cli_program, const std::string& config, int seconds) {
  PtyPair pty;
  ::close(pty.port);
  std::atomic<bool> stop{false};
  std::thread device([&] {
    const std::vector<std::uint8_t> poll_frame = orvane::link::BuildFrame(0, {});
    while (!stop) {
      pollfd writable{pty.master, POLLOUT, 0};
      if (::poll(&writable, 1, 100) == 1) (void)!::write(pty.master, poll_frame.data(), poll_frame.size());
    }
  });
  const auto started = Clock::now();
  const pid_t pid = SpawnStatus(cli_program, pty.port_path, config);
  std::printf("device that never reads, orvane-cli status, resident memory (VmRSS):\n");
  int status = 0;
  bool ended = false;
  for (int second = 0; second <= seconds && !ended; ++second) {
    if (second % 5 == 0) {
      std::ifstream file("/proc/" + std::to_string(pid) + "/status");
      for (std::string line; std::getline(file, line);) {
        if (line.rfind("VmRSS:", 0) == 0) std::printf("  %3d s %s\n", second, line.c_str() + 6);
      }
    }
    for (int tick = 0; tick < 10 && !ended; ++tick) {
      ended = ::waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - started).count();
  if (ended) {
    std::printf("  ended by itself after %.1f s, exit %d\n", wall, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  } else {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
    std::printf("  still running after %.1f s; stopped\n", wall);
  }
  stop = true;
  device.join();
  ::close(pty.master);
}

// The device at its barest, for the tool's own cost: one plain loop on the
// pseudo-terminal's master polls, reads the PC's frame and answers it with
// the least the tool accepts (the echoed first data byte, status "equal", no
// files, the free space, a constants block), and polls again at once; with
// no frame within 2 ms it polls again. Counts the frames it answered.
class BareDevice {
 public:
  // The port side is let go at once: the tool refuses a port another
  // program holds open.
  BareDevice() {
    ::close(pty_.port);
    ::fcntl(pty_.master, F_SETFL, ::fcntl(pty_.master, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  ~BareDevice() {
    stop_ = true;
    thread_.join();
    ::close(pty_.master);
  }
  const std::string& port() const { return pty_.port_path; }
  long answered() const { return answered_; }

 private:
  static std::vector<std::uint8_t> Answer(std::uint8_t code, const std::vector<std::uint8_t>& data) {
    const std::uint8_t first = data.empty() ? 0 : data[0];
    const std::uint8_t second = data.size() < 2 ? 0 : data[1];
    switch (code) {
      case 1: case 3: return {first};
      case 2: case 4: return {first, second, 0};
      case 5: {
        std::vector<std::uint8_t> block(34, 0);
        block[0] = 2;
        block[2] = 31;
        return block;
      }
      case 16: return {0};
      case 17: return {first, 0, 0, 0, 0, 0, 0};
      case 18: return {0x00, 0x40};
      default: return {};
    }
  }
  // Takes the next whole frame out of what was read: its code and data.
  bool NextFrame(std::uint8_t& code, std::vector<std::uint8_t>& data) {
    for (;;) {
      const auto sync = std::search(held_.begin(), held_.end(), orvane::link::kSync.begin(), orvane::link::kSync.end());
      held_.erase(held_.begin(), sync);
      if (held_.size() < 6 || held_.size() < std::size_t{held_[4]} + 6u) return false;
      const std::size_t length = held_[4];
      const bool whole = length >= 1;
      code = whole ? held_[5] : 0;
      data.assign(held_.begin() + 6, held_.begin() + 5 + static_cast<long>(length));
      held_.erase(held_.begin(), held_.begin() + 6 + static_cast<long>(length));
      if (whole) return true;
    }
  }
  void Run() {
    static const std::vector<std::uint8_t> poll_frame = orvane::link::BuildFrame(0, {});
    std::uint8_t buffer[4096];
    while (!stop_) {
      [[maybe_unused]] const auto polled = ::write(pty_.master, poll_frame.data(), poll_frame.size());
      const auto deadline = Clock::now() + std::chrono::milliseconds(2);
      std::uint8_t code = 0;
      std::vector<std::uint8_t> data;
      bool got = NextFrame(code, data);  // one read may have brought several
      while (!got && Clock::now() < deadline && !stop_) {
        pollfd watched{pty_.master, POLLIN, 0};
        if (::poll(&watched, 1, 2) <= 0) continue;
        const ssize_t n = ::read(pty_.master, buffer, sizeof buffer);
        if (n > 0) held_.insert(held_.end(), buffer, buffer + n);
        got = NextFrame(code, data);
      }
      if (!got) continue;
      const std::vector<std::uint8_t> answer = orvane::link::BuildFrame(code, Answer(code, data));
      if (::write(pty_.master, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size())) ++answered_;
    }
  }

  PtyPair pty_;
  std::vector<std::uint8_t> held_;
  std::atomic<bool> stop_{false};
  std::atomic<long> answered_{0};
  std::thread thread_;
};

struct CpuResult {
  long exchanges = 0;
  double cpu = 0, wall = 0;
  int status = -1;
};

// One reflash by orvane-cli against the bare device; the tool's own CPU time
// (user and system, all its threads) from wait4. With a strace output file,
// the tool runs under strace -f -c, which then counts its system calls.
CpuResult RunCpu(const std::string& cli_program, const std::string& image_path, const std::string& strace_file) {
  BareDevice device;
  CpuResult result;
  const auto started = Clock::now();
  // A trace of the tool's run when ORVANE_BENCH_CLI_TRACE is set; with a
  // strace output file, the tool runs under strace instead.
  std::vector<std::string> arguments{cli_program, "--port", device.port()};
  const char* trace = ::getenv("ORVANE_BENCH_CLI_TRACE");
  if (strace_file.empty() && trace) arguments.insert(arguments.end(), {"--trace", trace});
  arguments.insert(arguments.end(), {"--quiet", "--yes", "flash", image_path});
  if (!strace_file.empty()) arguments.insert(arguments.begin(), {"strace", "-f", "-c", "-o", strace_file});
  const pid_t pid = SpawnSilent(std::move(arguments));
  int status = 0;
  rusage usage{};
  // A run still going after a minute is stopped and counts as failed.
  while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
    if (Clock::now() - started > std::chrono::seconds(60)) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.wall = std::chrono::duration<double>(Clock::now() - started).count();
  result.cpu = CpuSeconds(usage);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.exchanges = device.answered();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  int stuck_seconds = 0;
  int cpu_runs = 0;
  std::string cli_program = ORVANE_CLI_PROGRAM;
  std::string strace_file;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--cli") == 0) cli_program = argv[i + 1];
    if (std::strcmp(argv[i], "--stuck-seconds") == 0) stuck_seconds = std::max(0, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--cpu-runs") == 0) cpu_runs = std::max(0, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--strace") == 0) strace_file = argv[i + 1];
  }
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("orvane-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder / "config");
  ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  const std::string image_path = (folder / "image.mts").string();
  {
    std::vector<char> image(kImageSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 + 7);
    std::ofstream(image_path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
  }
  ::signal(SIGPIPE, SIG_IGN);
  if (cpu_runs > 0) {
    std::printf("orvane-cli %s, 64 KiB reflash against a bare device\n", cli_program.c_str());
    for (int run = 1; run <= cpu_runs; ++run) {
      const std::string trace = strace_file.empty() ? "" : strace_file + "." + std::to_string(run);
      const CpuResult r = RunCpu(cli_program, image_path, trace);
      std::printf("run %d: exit %d, %ld exchanges, %.3f s wall, %.3f s CPU, %.1f us CPU per exchange\n", run, r.status,
                  r.exchanges, r.wall, r.cpu, r.exchanges ? 1e6 * r.cpu / static_cast<double>(r.exchanges) : 0.0);
    }
    std::filesystem::remove_all(folder);
    return 0;
  }
  QCoreApplication application(argc, argv);
  std::FILE* sink = std::fopen("/dev/null", "w");

  std::printf("64 KiB reflash (%zu-byte image), simulator polling at once after each answer\n", kImageSize);
  std::printf("%-6s %-8s %9s %9s %9s %9s %11s %8s\n", "round", "side", "exchanges", "median", "p99", "mean",
              "exch/s", "status");
  std::vector<std::string> table;
  for (int round = 1; round <= rounds; ++round) table.push_back(RunRound(round, image_path, sink));
  std::printf("\n| round | bare median | ours median | ours p99 | ours/bare | projected/wire | bare median "
              "(again) | serial median | serial/bare | exchanges/s |\n|---|---|---|---|---|---|---|---|---|---|\n");
  for (const auto& row : table) std::printf("%s\n", row.c_str());
  std::printf("\n");

  const IdleResult idle = RunIdle(cli_program, (folder / "config").string());
  std::printf("idle orvane-cli, port open, no traffic: %.2f s wall, %.3f s CPU (%.3f%% of one core), exit %d\n",
              idle.wall, idle.cpu, 100.0 * idle.cpu / idle.wall, idle.status);
  if (stuck_seconds > 0) RunStuckDevice(cli_program, (folder / "config").string(), stuck_seconds);
  std::fclose(sink);
  std::filesystem::remove_all(folder);
  return 0;
}
