#include "cli/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace orvane::cli {
namespace {

constexpr std::array<int, 3> kWatched = {SIGINT, SIGTERM, SIGHUP};

// One watch at a time: the handler only writes the signal's number.
int g_pipe[2] = {-1, -1};
struct sigaction g_before[kWatched.size()];

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
  errno = saved;
}

}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> on_signal) : on_signal_(std::move(on_signal)) {
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Deliver(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kWatched.size(); ++i) ::sigaction(kWatched[i], &action, &g_before[i]);
}

SignalWatch::~SignalWatch() {
  if (!notifier_) return;
  for (std::size_t i = 0; i < kWatched.size(); ++i) ::sigaction(kWatched[i], &g_before[i], nullptr);
  notifier_.reset();
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

void SignalWatch::Deliver() {
  unsigned char number = 0;
  while (::read(g_pipe[0], &number, 1) == 1) on_signal_(number);
}

std::string SignalName(int signal) {
  const char* abbreviation = ::sigabbrev_np(signal);
  return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

}  // namespace orvane::cli
