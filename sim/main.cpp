// orvane-sim: runs a simulated KV80 console on a pseudo-terminal until it is
// interrupted, unplugged (--hangup-after) or left idle (--exit-after-idle-ms).
// The first line on standard output is the port path for the configurator.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include "sim/simulator.h"

namespace {

using orvane::sim::SimOptions;

constexpr const char* kUsage =
    "Usage: orvane-sim [options]\n"
    "A simulated KV80 console on a pseudo-terminal; prints the port path first.\n"
    "  --link PATH               also make a symbolic link to the port at PATH\n"
    "  --capacity BYTES          file memory size (16384)\n"
    "  --reply-window-ms MS      wait for the PC's answer after a poll (50)\n"
    "  --poll-interval-us US     pause before the next poll, 0 = at once (1000)\n"
    "  --drop P                  chance that an answer is lost (0)\n"
    "  --corrupt P               chance that a sent frame has one bit flipped (0)\n"
    "  --noise P                 chance of random bytes before a sent frame (0)\n"
    "  --fail-verify N           the Nth verify chunk answers status 1 (off)\n"
    "  --silent-after N          stop polling after N polls (off)\n"
    "  --hangup-after N          close the port after N polls, like a pulled cable (off)\n"
    "  --seed N                  seed of the faults (1)\n"
    "  --state FILE              load the console's content from FILE, save it on exit\n"
    "  --samples                 start with a few sample plan files (unless --state loads some)\n"
    "  --stats FILE              write the exchange timings to FILE on exit\n"
    "  --exit-after-idle-ms MS   exit when the PC has sent nothing for MS ms (off)\n"
    "  --help                    show this text\n";

struct Settings {
  SimOptions sim;
  std::string state_path;
  std::string stats_path;
  bool samples = false;  // start with the sample files when no state is loaded
};

template <typename T>
bool ParseNumber(std::string_view text, T& out) {
  if (text.empty()) return false;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  if constexpr (std::is_floating_point_v<T>) {
    const double value = std::strtod(copy.c_str(), &end);
    if (errno || *end || !(value >= 0 && value <= 1)) return false;
    out = value;
  } else {
    if (copy[0] == '-') return false;
    const unsigned long long value = std::strtoull(copy.c_str(), &end, 10);
    if (errno || *end || value > static_cast<unsigned long long>(std::numeric_limits<T>::max())) return false;
    out = static_cast<T>(value);
  }
  return true;
}

// Every option takes a value, as "--name value" or "--name=value".
bool ParseArguments(int argc, char** argv, Settings& settings, bool& help) {
  SimOptions& o = settings.sim;
  const std::vector<std::pair<std::string_view, std::function<bool(std::string_view)>>> options{
      {"--link", [&](std::string_view v) { o.link_path = v; return !v.empty(); }},
      {"--capacity", [&](std::string_view v) { return ParseNumber(v, o.capacity); }},
      {"--reply-window-ms", [&](std::string_view v) { return ParseNumber(v, o.reply_window_ms); }},
      {"--poll-interval-us", [&](std::string_view v) { return ParseNumber(v, o.poll_interval_us); }},
      {"--drop", [&](std::string_view v) { return ParseNumber(v, o.drop); }},
      {"--corrupt", [&](std::string_view v) { return ParseNumber(v, o.corrupt); }},
      {"--noise", [&](std::string_view v) { return ParseNumber(v, o.noise); }},
      {"--fail-verify", [&](std::string_view v) { return ParseNumber(v, o.fail_verify); }},
      {"--silent-after", [&](std::string_view v) { return ParseNumber(v, o.silent_after); }},
      {"--hangup-after", [&](std::string_view v) { return ParseNumber(v, o.hangup_after); }},
      {"--seed", [&](std::string_view v) { return ParseNumber(v, o.seed); }},
      {"--exit-after-idle-ms", [&](std::string_view v) { return ParseNumber(v, o.exit_after_idle_ms); }},
      {"--state", [&](std::string_view v) { settings.state_path = v; return !v.empty(); }},
      {"--stats", [&](std::string_view v) { settings.stats_path = v; return !v.empty(); }},
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      help = true;
      return true;
    }
    if (argument == "--samples") {
      settings.samples = true;
      continue;
    }
    std::string_view value;
    const bool inline_value = argument.find('=') != std::string_view::npos;
    if (inline_value) {
      value = argument.substr(argument.find('=') + 1);
      argument = argument.substr(0, argument.find('='));
    }
    bool known = false;
    for (const auto& [name, apply] : options) {
      if (argument != name) continue;
      known = true;
      if (!inline_value) {
        if (i + 1 >= argc) {
          std::fprintf(stderr, "orvane-sim: %s needs a value\n", argv[i]);
          return false;
        }
        value = argv[++i];
      }
      if (!apply(value)) {
        std::fprintf(stderr, "orvane-sim: bad value for %.*s: %.*s\n", static_cast<int>(name.size()),
                     name.data(), static_cast<int>(value.size()), value.data());
        return false;
      }
    }
    if (!known) {
      std::fprintf(stderr, "orvane-sim: unknown option %s (see --help)\n", argv[i]);
      return false;
    }
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0;
}

// SIGINT and SIGTERM are blocked in every thread and taken here, so the state
// is saved by ordinary code rather than inside a signal handler.
void WaitForEnd(const orvane::sim::Simulator& simulator, const sigset_t& signals) {
  const timespec tick{0, 50'000'000};
  while (simulator.Running()) {
    if (::sigtimedwait(&signals, nullptr, &tick) > 0) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  bool help = false;
  if (!ParseArguments(argc, argv, settings, help)) return 2;
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  orvane::sim::DeviceState initial;
  std::string error;
  const bool stored = !settings.state_path.empty() && FileExists(settings.state_path);
  if (stored && !orvane::sim::LoadState(settings.state_path, initial, &error)) {
    std::fprintf(stderr, "orvane-sim: %s\n", error.c_str());
    return 1;
  }
  if (!stored && settings.samples) initial.files = orvane::sim::SampleFiles();

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  orvane::sim::Simulator simulator(settings.sim, std::move(initial));
  try {
    const std::string port = simulator.Start();
    std::printf("%s\n", port.c_str());
    std::fflush(stdout);
  } catch (const std::system_error& failure) {
    std::fprintf(stderr, "orvane-sim: %s\n", failure.what());
    return 1;
  }

  WaitForEnd(simulator, signals);
  simulator.Stop();

  int status = 0;
  if (!settings.state_path.empty() &&
      !orvane::sim::SaveState(settings.state_path, simulator.State(), &error)) {
    std::fprintf(stderr, "orvane-sim: %s\n", error.c_str());
    status = 1;
  }
  if (!settings.stats_path.empty() &&
      !orvane::sim::SaveStats(settings.stats_path, simulator.Stats(), &error)) {
    std::fprintf(stderr, "orvane-sim: %s\n", error.c_str());
    status = 1;
  }
  return status;
}
