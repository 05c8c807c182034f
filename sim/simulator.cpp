#include "sim/simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>
#include <thread>

#include "link/commands.h"
#include "link/frame.h"
#include "sim/kv80_device.h"
#include "sim/pty_port.h"

namespace orvane::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// How often a console with nobody on the port looks again.
constexpr auto kPeerCheck = std::chrono::milliseconds(2);
// How long one wait lasts while the console is silent.
constexpr auto kSilentWait = std::chrono::milliseconds(10);
constexpr std::size_t kMaxNoiseBytes = 8;
// Enough for hours of exchanges; past it only the counters go on.
constexpr std::size_t kMaxSamples = std::size_t{1} << 20;

// All fault decisions come from one seeded generator, drawn in the order the
// console meets them, so the same seed and the same PC give the same faults.
class FaultDice {
 public:
  explicit FaultDice(std::uint64_t seed) : engine_(seed) {}

  bool Roll(double probability) {
    if (probability <= 0) return false;
    return static_cast<double>(engine_() >> 11) * 0x1.0p-53 < probability;
  }
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(engine_() % bound); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(engine_()); }

 private:
  std::mt19937_64 engine_;
};

double MicrosecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

timespec ToTimespec(Clock::duration duration) {
  if (duration < Clock::duration::zero()) duration = Clock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

struct Simulator::Impl {
  Impl(SimOptions opts, DeviceState initial)
      : options(std::move(opts)),
        device(std::move(initial), options.capacity, options.fail_verify),
        dice(options.seed) {}

  void Run();
  bool Serve(Clock::time_point deadline, bool until_answered);
  void OnFrame(const link::FrameView& frame);
  bool SendFrame(Bytes frame);
  void SendPoll();
  void Count(long ExchangeStats::*counter, long delta);
  void Sleep(Clock::duration duration) const;
  bool StopRequested() const { return stop_requested.load(std::memory_order_acquire); }
  Clock::time_point IdleDeadline() const;
  bool IdleExpired() const;
  void MakeLink();
  void RemoveLink();

  SimOptions options;
  std::string path;

  mutable std::mutex device_mutex;
  Kv80Device device;
  mutable std::mutex stats_mutex;
  ExchangeStats stats;

  // Owned by the device thread while it runs.
  PtyPort port;
  FaultDice dice;
  link::ReceiveBuffer receive;
  bool awaiting_answer = false;
  long polls_sent = 0;
  Clock::time_point poll_written;
  Clock::time_point bytes_read;
  std::optional<Clock::time_point> last_frame;

  std::thread thread;
  int wake_fd = -1;  // written by Stop to end every wait of the device thread
  std::atomic<bool> stop_requested{false};
  std::atomic<bool> running{false};
};

// One cycle: poll, wait up to the reply window for the PC's frame (answering
// every frame as it arrives), then wait the poll interval, still answering.
// While nobody holds the port the console neither polls nor counts: what it
// wrote and was not read is thrown away, so a PC that opens the port later
// finds no pile of old polls.
void Simulator::Impl::Run() {
  bool connected = false;
  while (!StopRequested() && !IdleExpired()) {
    if (!port.PeerOpen()) {
      if (connected) {
        port.Discard();
        receive = link::ReceiveBuffer{};
        connected = false;
      }
      Sleep(kPeerCheck);
      continue;
    }
    connected = true;
    if (options.hangup_after > 0 && polls_sent >= options.hangup_after) {
      port.Close();
      break;
    }
    if (options.silent_after > 0 && polls_sent >= options.silent_after) {
      Serve(Clock::now() + kSilentWait, false);
      continue;
    }
    SendPoll();
    if (awaiting_answer && !Serve(poll_written + std::chrono::milliseconds(options.reply_window_ms), true)) {
      continue;
    }
    awaiting_answer = false;
    Serve(Clock::now() + std::chrono::microseconds(options.poll_interval_us), false);
  }
  running.store(false, std::memory_order_release);
}

// Reads and answers until the deadline, or until the poll is answered when
// until_answered is set. False when the wait was cut short because the PC let
// go of the port or a stop was asked for.
bool Simulator::Impl::Serve(Clock::time_point deadline, bool until_answered) {
  std::array<std::uint8_t, link::kReceiveBufferSize> chunk;
  while (!StopRequested() && !IdleExpired()) {
    if (until_answered && !awaiting_answer) return true;
    const auto now = Clock::now();
    if (now >= deadline) return true;
    std::array<pollfd, 2> watched{pollfd{port.fd(), POLLIN, 0}, pollfd{wake_fd, POLLIN, 0}};
    const timespec timeout = ToTimespec(std::min(deadline, IdleDeadline()) - now);
    if (::ppoll(watched.data(), watched.size(), &timeout, nullptr) < 0 && errno != EINTR) return false;
    if (watched[1].revents) return false;
    if (watched[0].revents & POLLIN) {
      std::size_t count = 0;
      const auto result = port.Read(chunk, count);
      if (result == PtyPort::ReadResult::kPeerGone) return false;
      if (result == PtyPort::ReadResult::kData) {
        bytes_read = Clock::now();
        receive.Deliver(chunk.data(), count, [this](const link::FrameView& frame) { OnFrame(frame); });
      }
    } else if (watched[0].revents & (POLLHUP | POLLERR)) {
      return false;
    }
  }
  return false;
}

void Simulator::Impl::OnFrame(const link::FrameView& frame) {
  last_frame = bytes_read;
  if (awaiting_answer) {
    awaiting_answer = false;
    std::lock_guard lock(stats_mutex);
    if (stats.turnaround_us.size() < kMaxSamples) {
      stats.turnaround_us.push_back(MicrosecondsBetween(poll_written, bytes_read));
    }
  }
  std::optional<Bytes> answer;
  {
    std::lock_guard lock(device_mutex);
    answer = device.Answer(frame);
  }
  if (!answer || dice.Roll(options.drop)) return;
  Count(&ExchangeStats::answers, 1);
  if (!SendFrame(std::move(*answer))) Count(&ExchangeStats::answers, -1);
}

// Counted before the write, so that whatever the PC has read is already in
// the figures when it looks at them.
void Simulator::Impl::Count(long ExchangeStats::*counter, long delta) {
  std::lock_guard lock(stats_mutex);
  stats.*counter += delta;
}

// Noise goes before the frame, so it lies between two frames on the line; a
// corrupted frame has one bit of one byte flipped, which its checksum shows.
bool Simulator::Impl::SendFrame(Bytes frame) {
  if (dice.Roll(options.corrupt)) {
    frame[dice.Below(frame.size())] ^= static_cast<std::uint8_t>(1u << dice.Below(8));
  }
  if (dice.Roll(options.noise)) {
    Bytes noise(1 + dice.Below(kMaxNoiseBytes));
    for (auto& byte : noise) byte = dice.Byte();
    frame.insert(frame.begin(), noise.begin(), noise.end());
  }
  return port.Write(frame);
}

void Simulator::Impl::SendPoll() {
  awaiting_answer = false;
  Count(&ExchangeStats::polls, 1);
  if (!SendFrame(link::BuildFrame(link::kPoll, {}))) {
    Count(&ExchangeStats::polls, -1);
    return;
  }
  poll_written = Clock::now();
  awaiting_answer = true;
  ++polls_sent;
}

void Simulator::Impl::Sleep(Clock::duration duration) const {
  pollfd wake{wake_fd, POLLIN, 0};
  const timespec timeout = ToTimespec(duration);
  ::ppoll(&wake, 1, &timeout, nullptr);
}

Clock::time_point Simulator::Impl::IdleDeadline() const {
  if (options.exit_after_idle_ms <= 0 || !last_frame) return Clock::time_point::max();
  return *last_frame + std::chrono::milliseconds(options.exit_after_idle_ms);
}

bool Simulator::Impl::IdleExpired() const { return Clock::now() >= IdleDeadline(); }

// A link left from an earlier run is replaced; anything else at that path is
// not touched and the start fails.
void Simulator::Impl::MakeLink() {
  if (options.link_path.empty()) return;
  struct stat existing{};
  if (::lstat(options.link_path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
    ::unlink(options.link_path.c_str());
  }
  if (::symlink(path.c_str(), options.link_path.c_str()) != 0) {
    throw std::system_error(errno, std::generic_category(), "symlink " + options.link_path);
  }
}

void Simulator::Impl::RemoveLink() {
  if (options.link_path.empty() || path.empty()) return;
  std::array<char, 256> target{};
  const ssize_t length = ::readlink(options.link_path.c_str(), target.data(), target.size() - 1);
  if (length > 0 && path == std::string(target.data(), static_cast<std::size_t>(length))) {
    ::unlink(options.link_path.c_str());
  }
}

Simulator::Simulator(SimOptions options, DeviceState initial)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(initial))) {}

Simulator::~Simulator() { Stop(); }

std::string Simulator::Start() {
  Impl& s = *impl_;
  if (s.thread.joinable()) return s.path;
  s.path = s.port.Open();
  try {
    s.MakeLink();
    s.wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.wake_fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  } catch (...) {
    s.port.Close();
    throw;
  }
  s.stop_requested = false;
  s.running = true;
  s.thread = std::thread([&s] { s.Run(); });
  return s.path;
}

void Simulator::Stop() {
  Impl& s = *impl_;
  if (s.thread.joinable()) {
    s.stop_requested = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(s.wake_fd, &one, sizeof one);
    s.thread.join();
  }
  s.running = false;
  s.port.Close();
  s.RemoveLink();
  if (s.wake_fd >= 0) {
    ::close(s.wake_fd);
    s.wake_fd = -1;
  }
}

DeviceState Simulator::State() const {
  std::lock_guard lock(impl_->device_mutex);
  return impl_->device.state();
}

ExchangeStats Simulator::Stats() const {
  std::lock_guard lock(impl_->stats_mutex);
  return impl_->stats;
}

bool Simulator::Running() const { return impl_->running.load(std::memory_order_acquire); }

}  // namespace orvane::sim
