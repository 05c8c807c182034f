// orvane-sim: runs a simulated KV80 console on a pseudo-terminal until it is
// interrupted, unplugged (--hangup-after) or left idle (--exit-after-idle-ms).
// SIGUSR1 takes the modem off its cable, SIGUSR2 connects one again.
// The first line on standard output is the port path for the configurator.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#include "l10n/l10n.h"
#include "sim/simulator.h"

namespace {

using orvane::l10n::Format;
using orvane::l10n::Tr;
using orvane::sim::SimOptions;

constexpr const char* kUsage = N_(
    "Usage: orvane-sim [options]\n"
    "A simulated KV80 console on a pseudo-terminal; prints the port path first.\n"
    "  --link PATH               also make a symbolic link to the port at PATH\n"
    "  --capacity BYTES          file memory size (16384)\n"
    "  --reply-window-us US      wait for the PC's answer after a poll (50000)\n"
    "  --reply-window-ms MS      the same in milliseconds\n"
    "  --poll-interval-us US     pause before the next poll, 0 = at once (1000)\n"
    "  --poll-jitter-us US       plus a pause drawn evenly from 0 to US before each poll (0)\n"
    "  --answer MODE             what the console does with the PC's frames (all):\n"
    "                              all    answer every frame as it comes\n"
    "                              first  read only from a poll to its answer; answer the\n"
    "                                     first frame, drop the rest of that read\n"
    "                              queue  answer one frame per poll, keep the rest (4096 bytes)\n"
    "                              flush  empty the receive buffer before each poll, then first\n"
    "  --poll-with-answer        send the next poll with each answer, in the same write\n"
    "  --copies skip|apply       a frame identical to the last one taken up is answered\n"
    "                            again but not applied (skip), or applied again (apply);\n"
    "                            default skip\n"
    "  --latency-us US           the PC's bytes reach the console this much later (0)\n"
    "  --jitter-us US            plus a delay drawn evenly from 0 to US, order kept (0)\n"
    "  --drop P                  chance that an answer is lost (0)\n"
    "  --corrupt P               chance that a sent frame has one bit flipped (0)\n"
    "  --noise P                 chance of random bytes before a sent frame (0)\n"
    "  --rx-drop P               chance that a frame from the PC is lost (0)\n"
    "  --rx-corrupt P            chance that a frame from the PC has one bit flipped (0)\n"
    "  --fail-verify N           the Nth verify chunk answers status 1 (off)\n"
    "  --silent-after N          stop polling after N polls the PC heard (off)\n"
    "  --hangup-after N          close the port after N polls the PC heard, like a pulled cable (off)\n"
    "  --seed N                  seed of the faults and the jitter (1)\n"
    "  --state FILE              load the console's content from FILE, save it on exit\n"
    "  --samples                 start with a few sample plan files (unless --state loads some)\n"
    "  --stats FILE              write the exchange counts and timings to FILE on exit\n"
    "  --start-unplugged         start with the port but no modem behind it\n"
    "  --plug-fresh              SIGUSR2 connects another modem with the content this run\n"
    "                            started with, instead of the one taken off\n"
    "  --exit-after-idle-ms MS   exit when the PC has sent nothing for MS ms (off)\n"
    "  --version                 print the version and exit\n"
    "  --help                    show this text\n"
    "The console polls on while the PC's port is closed; what it sends then is lost.\n"
    "SIGUSR1 takes the modem off its cable: the port stays, nothing polls, what the PC\n"
    "sends is lost. SIGUSR2 connects the modem again. With --state the content saved\n"
    "on exit is that of the modem connected last.\n");

// Longest time accepted, in microseconds: a day.
constexpr unsigned long long kLongestUs = 86'400'000'000ull;

struct Settings {
  SimOptions sim;
  std::string state_path;
  std::string stats_path;
  bool samples = false;  // start with the sample files when no state is loaded
  bool start_unplugged = false;
  bool plug_fresh = false;
};

// One option: its name, what it expects (for the error message) and how its
// value is taken; apply returns false for a value it refuses.
struct Option {
  std::string_view name;
  std::string expected;
  std::function<bool(std::string_view)> apply;
};

template <typename T>
Option Whole(std::string_view name, T& out,
             unsigned long long most = std::numeric_limits<T>::max()) {
  return {name, Format(Tr("a whole number from 0 to %llu"), most), [&out, most](std::string_view text) {
            if (text.empty() || text[0] == '-') return false;
            const std::string copy(text);
            char* end = nullptr;
            errno = 0;
            const unsigned long long value = std::strtoull(copy.c_str(), &end, 10);
            if (errno || *end || value > most) return false;
            out = static_cast<T>(value);
            return true;
          }};
}

Option Probability(std::string_view name, double& out) {
  return {name, Tr("a probability from 0 to 1"), [&out](std::string_view text) {
            const std::string copy(text);
            char* end = nullptr;
            errno = 0;
            const double value = std::strtod(copy.c_str(), &end);
            if (copy.empty() || errno || *end || !(value >= 0 && value <= 1)) return false;
            out = value;
            return true;
          }};
}

template <typename E>
Option Choice(std::string_view name, E& out, std::vector<std::pair<std::string_view, E>> choices) {
  std::string expected;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    expected += (i == 0 ? "" : i + 1 == choices.size() ? Tr(" or ") : ", ");
    expected += choices[i].first;
  }
  return {name, expected, [&out, choices](std::string_view text) {
            for (const auto& [word, value] : choices) {
              if (text != word) continue;
              out = value;
              return true;
            }
            return false;
          }};
}

Option Path(std::string_view name, std::string& out) {
  return {name, Tr("a path"), [&out](std::string_view text) {
            out = text;
            return !text.empty();
          }};
}

// The window in milliseconds goes into the same field as the microseconds.
Option WindowMs(std::string_view name, long& window_us) {
  Option option = Whole(name, window_us, kLongestUs / 1000);
  return {name, option.expected, [&window_us, parse = option.apply](std::string_view text) {
            if (!parse(text)) return false;
            window_us *= 1000;
            return true;
          }};
}

std::vector<Option> Options(Settings& settings) {
  using orvane::sim::AnswerMode;
  using orvane::sim::CopyMode;
  SimOptions& o = settings.sim;
  return {
      Path("--link", o.link_path),
      Whole("--capacity", o.capacity),
      Whole("--reply-window-us", o.reply_window_us, kLongestUs),
      WindowMs("--reply-window-ms", o.reply_window_us),
      Whole("--poll-interval-us", o.poll_interval_us),
      Whole("--poll-jitter-us", o.poll_jitter_us, kLongestUs),
      Choice("--answer", o.answer,
             {{"all", AnswerMode::kAll}, {"first", AnswerMode::kFirst},
              {"queue", AnswerMode::kQueue}, {"flush", AnswerMode::kFlush}}),
      Choice("--copies", o.copies, {{"skip", CopyMode::kSkip}, {"apply", CopyMode::kApply}}),
      Whole("--latency-us", o.latency_us, kLongestUs),
      Whole("--jitter-us", o.jitter_us, kLongestUs),
      Probability("--drop", o.drop),
      Probability("--corrupt", o.corrupt),
      Probability("--noise", o.noise),
      Probability("--rx-drop", o.rx_drop),
      Probability("--rx-corrupt", o.rx_corrupt),
      Whole("--fail-verify", o.fail_verify),
      Whole("--silent-after", o.silent_after),
      Whole("--hangup-after", o.hangup_after),
      Whole("--seed", o.seed),
      Whole("--exit-after-idle-ms", o.exit_after_idle_ms),
      Path("--state", settings.state_path),
      Path("--stats", settings.stats_path),
  };
}

void Refuse(const std::string& message) { std::fprintf(stderr, "orvane-sim: %s\n", message.c_str()); }

// CLI11 names the option first: "--answer: 1 required TEXT missing",
// "samples was given a disallowed flag override". A flag was given a value;
// any other option lacks its own.
std::string MismatchText(const CLI::App& app, const std::string& what) {
  std::string name = what.substr(0, what.find_first_of(": "));
  if (!name.starts_with("-")) name = (name.size() == 1 ? "-" : "--") + name;
  const CLI::Option* option = app.get_option_no_throw(name);
  const bool flag = option && option->get_expected_max() == 0;
  return Format(flag ? Tr("%s takes no value") : Tr("%s needs a value"), name.c_str());
}

// CLI11 takes every value as text, as "--name value" or "--name=value"; the
// value is checked here so that a refusal names the option and the value the
// way the user wrote them.
bool ParseArguments(int argc, char** argv, Settings& settings, bool& help, bool& version) {
  const std::vector<Option> options = Options(settings);
  std::vector<std::string> texts(options.size());
  std::vector<CLI::Option*> given(options.size());
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  for (std::size_t i = 0; i < options.size(); ++i) given[i] = app.add_option(std::string(options[i].name), texts[i]);
  const std::pair<const char*, bool*> flags[] = {{"-h,--help", &help},
                                                 {"--version", &version},
                                                 {"--samples", &settings.samples},
                                                 {"--start-unplugged", &settings.start_unplugged},
                                                 {"--plug-fresh", &settings.plug_fresh},
                                                 {"--poll-with-answer", &settings.sim.poll_with_answer}};
  for (const auto& [names, target] : flags) app.add_flag(names, *target)->disable_flag_override();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& mismatch) {
    Refuse(MismatchText(app, mismatch.what()));
    return false;
  } catch (const CLI::ParseError& failure) {
    Refuse(Format(Tr("the command line cannot be read: %s"), failure.what()));
    return false;
  }
  if (help || version) return true;
  if (!app.remaining().empty()) {
    Refuse(Format(Tr("unknown option %s (see --help)"), app.remaining().front().c_str()));
    return false;
  }
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (given[i]->count() == 0 || options[i].apply(texts[i])) continue;
    Refuse(Format(Tr("bad value for %1$s: %2$s (expected %3$s)"), std::string(options[i].name).c_str(),
                  texts[i].c_str(), options[i].expected.c_str()));
    return false;
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0;
}

// The signals are blocked in every thread and taken here, so the state is
// saved and the modem changed by ordinary code rather than in a handler.
// fresh: the content of each modem SIGUSR2 connects; none for the same one.
void WaitForEnd(orvane::sim::Simulator& simulator, const sigset_t& signals,
                const std::optional<orvane::sim::DeviceState>& fresh) {
  const timespec tick{0, 50'000'000};
  while (simulator.Running()) {
    const int taken = ::sigtimedwait(&signals, nullptr, &tick);
    if (taken == SIGUSR1) {
      simulator.Unplug();
    } else if (taken == SIGUSR2) {
      fresh ? simulator.Plug(*fresh) : simulator.Plug();
    } else if (taken > 0) {
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  orvane::l10n::SetUp(argv[0]);
  Settings settings;
  bool help = false;
  bool version = false;
  if (!ParseArguments(argc, argv, settings, help, version)) return 2;
  if (help) {
    std::fputs(Tr(kUsage), stdout);
    return 0;
  }
  if (version) {
    std::printf("orvane %s\n", ORVANE_VERSION);
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
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  std::optional<orvane::sim::DeviceState> fresh;
  if (settings.plug_fresh) fresh = initial;
  orvane::sim::Simulator simulator(settings.sim, std::move(initial));
  if (settings.start_unplugged) simulator.Unplug();
  try {
    const std::string port = simulator.Start();
    std::printf("%s\n", port.c_str());
    std::fflush(stdout);
  } catch (const std::system_error& failure) {
    std::fprintf(stderr, "orvane-sim: %s\n", failure.what());
    return 1;
  }

  WaitForEnd(simulator, signals, fresh);
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
