#include "sim/simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>
#include <thread>

#include "link/commands.h"
#include "link/frame.h"
#include "sim/adapter_delay.h"
#include "sim/console_input.h"
#include "sim/fault_dice.h"
#include "sim/kv80_device.h"
#include "sim/pc_frame_faults.h"
#include "sim/pty_port.h"

namespace orvane::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::microseconds;

// How often a console with nobody on the port looks again.
constexpr auto kPeerCheck = std::chrono::milliseconds(2);
constexpr std::size_t kMaxNoiseBytes = 8;
// Enough for hours of exchanges; past it only the counters go on.
constexpr std::size_t kMaxSamples = std::size_t{1} << 20;
// Longer times are taken as this; keeps every deadline far from the clock's end.
constexpr microseconds kLongestTime = std::chrono::hours(24);

microseconds Micros(long value) {
  return std::clamp(microseconds(value), microseconds::zero(), kLongestTime);
}

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
  // kPause: between the end of a reply window and the next poll.
  // kWindow: a poll is out and not answered yet. kSilent: polls no more.
  // kUnplugged: off its cable.
  enum class Phase { kPause, kWindow, kSilent, kUnplugged };

  // No modem (plugged false), the same one back, or another one.
  struct PlugChange {
    bool plugged = false;
    std::optional<DeviceState> modem;
  };

  Impl(SimOptions opts, DeviceState initial)
      : options(std::move(opts)),
        device(std::move(initial), options.capacity, options.fail_verify, options.copies),
        dice(options.seed),
        line(options.rx_drop, options.rx_corrupt, dice),
        adapter(Micros(options.latency_us), Micros(options.jitter_us), options.seed),
        input(options.answer),
        poll_jitter(options.seed ^ 0x9E3779B97F4A7C15ull) {}

  void Run();
  bool RunDueEvents();
  std::optional<Clock::time_point> PhaseDeadline() const;
  bool EndPhase();
  void Poll();
  void PollWritten(bool heard);
  bool PollsUsedUp() const;
  void Wait(Clock::time_point deadline);
  bool ReadFromPc();
  void TakeUp(std::span<const Bytes> pieces, Clock::time_point sent);
  void OnPeerGone();
  bool PeerListening();
  void ReachDevice(Clock::time_point due);
  void TakeFrames();
  bool OnFrame(const ConsoleInput::Taken& taken);
  bool SendFrame(Bytes frame, bool answer);
  void SendAnswerAndPoll(Bytes answer);
  std::optional<Bytes> Faulted(Bytes frame, bool answer);
  bool WriteCounted(const Bytes& bytes, long answers, long polls);
  void Count(long ExchangeStats::*counter, long delta);
  void UpdateInputCounts();
  microseconds PollPause();
  bool StopRequested() const { return stop_requested.load(std::memory_order_acquire); }
  Clock::time_point IdleDeadline() const;
  bool IdleExpired() const;
  void MakeLink();
  void RemoveLink();
  void RequestPlugChange(PlugChange change);
  void ApplyPlugChanges();
  void ApplyPlugChange(PlugChange& change);
  void LeaveLine();
  void Wake();

  SimOptions options;
  std::string path;

  mutable std::mutex device_mutex;
  Kv80Device device;
  mutable std::mutex stats_mutex;
  ExchangeStats stats;

  // Owned by the device thread while it runs.
  PtyPort port;
  FaultDice dice;
  PcFrameFaults line;
  AdapterDelay adapter;
  ConsoleInput input;
  std::mt19937_64 poll_jitter;
  bool peer_open = false;
  Phase phase = Phase::kPause;
  Clock::time_point next_poll;
  Clock::time_point window_end;
  Clock::time_point poll_written;
  bool turnaround_pending = false;
  long polls_heard = 0;
  long frames_seen = 0;
  std::optional<Clock::time_point> last_frame;

  std::thread thread;
  int wake_fd = -1;  // written by Stop to end every wait of the device thread
  std::atomic<bool> stop_requested{false};
  std::atomic<bool> running{false};

  // Plug changes are made by the device thread while it runs, so they never
  // fall in the middle of an exchange; the caller waits for its own.
  std::mutex plug_mutex;
  std::condition_variable plug_done;
  std::deque<PlugChange> plug_changes;
  long plug_requested = 0;
  long plug_applied = 0;
  bool thread_alive = false;
  std::atomic<bool> plugged{true};
};

// The console's own cycle goes on whether or not anybody holds the port:
// poll, reply window, pause, poll. In between it reads the PC's bytes as they
// come and hands them down the line, through the adapter, to its input.
void Simulator::Impl::Run() {
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);  // wake-ups to the microsecond
  next_poll = Clock::now();
  while (!StopRequested() && !IdleExpired()) {
    ApplyPlugChanges();
    if (!RunDueEvents()) break;
    std::optional<Clock::time_point> deadline = PhaseDeadline();
    if (const auto due = adapter.NextDue(); due && (!deadline || *due < *deadline)) deadline = due;
    Wait(std::min(deadline.value_or(Clock::time_point::max()), IdleDeadline()));
  }
  running.store(false, std::memory_order_release);
  {
    std::lock_guard lock(plug_mutex);
    thread_alive = false;
  }
  plug_done.notify_all();
}

// Without a device thread there is nobody to race with, and nobody to wait
// for: the change is made at once.
void Simulator::Impl::RequestPlugChange(PlugChange change) {
  std::unique_lock lock(plug_mutex);
  if (!thread_alive) {
    ApplyPlugChange(change);
    return;
  }
  const long ticket = ++plug_requested;
  plug_changes.push_back(std::move(change));
  Wake();
  plug_done.wait(lock, [&] { return plug_applied >= ticket || !thread_alive; });
  for (; plug_applied < ticket; ++plug_applied) {  // the thread ended first
    ApplyPlugChange(plug_changes.front());
    plug_changes.pop_front();
  }
}

void Simulator::Impl::ApplyPlugChanges() {
  {
    std::lock_guard lock(plug_mutex);
    if (plug_changes.empty()) return;
    for (; !plug_changes.empty(); plug_changes.pop_front(), ++plug_applied) ApplyPlugChange(plug_changes.front());
  }
  plug_done.notify_all();
}

void Simulator::Impl::ApplyPlugChange(PlugChange& change) {
  if (!change.plugged || change.modem) LeaveLine();
  if (change.modem) {
    std::lock_guard lock(device_mutex);
    device = Kv80Device(std::move(*change.modem), options.capacity, options.fail_verify, options.copies);
    polls_heard = 0;
  }
  if (change.plugged && phase == Phase::kUnplugged) {
    phase = Phase::kPause;
    next_poll = Clock::now() + PollPause();
  }
  plugged.store(change.plugged, std::memory_order_release);
}

// What was on its way to the console is lost with it.
void Simulator::Impl::LeaveLine() {
  line.Clear();
  adapter.Clear();
  input.Clear();
  UpdateInputCounts();
  turnaround_pending = false;
  phase = Phase::kUnplugged;
}

void Simulator::Impl::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto ignored = ::write(wake_fd, &one, sizeof one);
}

// Runs what is due, oldest first: bytes reaching the console and the ends of
// its phases. At most one poll per call, so the PC is read between any two
// polls however short the cycle. False once the console has hung up.
bool Simulator::Impl::RunDueEvents() {
  for (;;) {
    const auto now = Clock::now();
    const auto due = adapter.NextDue();
    const auto phase_end = PhaseDeadline();
    if (due && *due <= now && (!phase_end || *due <= *phase_end)) {
      ReachDevice(*due);
    } else if (phase_end && *phase_end <= now) {
      const bool polled = phase == Phase::kPause;
      if (!EndPhase()) return false;
      if (polled) return true;
    } else {
      return true;
    }
  }
}

std::optional<Clock::time_point> Simulator::Impl::PhaseDeadline() const {
  switch (phase) {
    case Phase::kPause: return next_poll;
    case Phase::kWindow: return window_end;
    case Phase::kSilent:
    case Phase::kUnplugged: return std::nullopt;
  }
  return std::nullopt;
}

// The reply window ran out unanswered, or the pause is over: poll, fall
// silent or hang up as the options say. False once it has hung up.
bool Simulator::Impl::EndPhase() {
  if (phase == Phase::kWindow) {
    phase = Phase::kPause;
    next_poll = window_end + PollPause();
    return true;
  }
  if (options.hangup_after > 0 && polls_heard >= options.hangup_after) {
    port.Close();
    return false;
  }
  if (options.silent_after > 0 && polls_heard >= options.silent_after) {
    phase = Phase::kSilent;
    return true;
  }
  Poll();
  return true;
}

// Past --hangup-after or --silent-after: the next poll is not made.
bool Simulator::Impl::PollsUsedUp() const {
  const auto reached = [this](long limit) { return limit > 0 && polls_heard >= limit; };
  return reached(options.hangup_after) || reached(options.silent_after);
}

// The pause before the next poll: the interval and, with --poll-jitter-us,
// a part drawn evenly from [0, jitter], so polls come at irregular times.
microseconds Simulator::Impl::PollPause() {
  const microseconds interval(options.poll_interval_us);
  const long jitter = Micros(options.poll_jitter_us).count();
  if (jitter == 0) return interval;
  return interval + microseconds(std::uniform_int_distribution<long>(0, jitter)(poll_jitter));
}

void Simulator::Impl::Poll() {
  input.BeforePoll();
  UpdateInputCounts();
  PollWritten(SendFrame(link::BuildFrame(link::kPoll, {}), false));
  TakeFrames();
}

// The reply window of a poll starts when the poll has been written.
void Simulator::Impl::PollWritten(bool heard) {
  poll_written = Clock::now();
  polls_heard += heard;
  turnaround_pending = heard;
  phase = Phase::kWindow;
  window_end = poll_written + Micros(options.reply_window_us);
}

// Sleeps until the deadline, a stop, bytes from the PC or a close of the
// port. While nobody holds the port the port shows a hang-up all the time,
// so it is only looked at every few milliseconds then.
void Simulator::Impl::Wait(Clock::time_point deadline) {
  std::array<pollfd, 3> watched{pollfd{wake_fd, POLLIN, 0}, pollfd{port.close_watch(), POLLIN, 0},
                                pollfd{port.fd(), POLLIN, 0}};
  if (!peer_open) deadline = std::min(deadline, Clock::now() + kPeerCheck);
  const timespec timeout = ToTimespec(deadline - Clock::now());
  const nfds_t count = peer_open ? 3 : 2;
  if (::ppoll(watched.data(), count, &timeout, nullptr) < 0 && errno != EINTR) return;
  if (watched[0].revents) {  // a stop or a plug change; what the PC sent before is read first
    std::uint64_t count = 0;
    [[maybe_unused]] const auto ignored = ::read(wake_fd, &count, sizeof count);
  }
  if (!peer_open || watched[1].revents) {
    PeerListening();
    return;
  }
  if ((watched[2].revents & POLLIN) && !ReadFromPc()) return;
  if (watched[2].revents & (POLLHUP | POLLERR)) OnPeerGone();
}

// Takes everything the PC has sent so far. False when the PC has let go of
// the port (what it sent before is taken all the same).
bool Simulator::Impl::ReadFromPc() {
  std::array<std::uint8_t, link::kReceiveBufferSize> chunk;
  for (;;) {
    std::size_t count = 0;
    const auto result = port.Read(chunk, count);
    if (result == PtyPort::ReadResult::kNothing) return true;
    if (result == PtyPort::ReadResult::kPeerGone) {
      OnPeerGone();
      return false;
    }
    if (phase == Phase::kUnplugged) continue;  // nothing behind the adapter
    const auto sent = Clock::now();
    TakeUp(line.Pass({chunk.data(), count}), sent);
  }
}

// The turnaround of a poll ends with the first frame the PC sends after it,
// whatever the line and the console then do with that frame.
void Simulator::Impl::TakeUp(std::span<const Bytes> pieces, Clock::time_point sent) {
  const PcFrameFaults::Counts& counts = line.counts();
  const bool new_frame = counts.frames > frames_seen;
  frames_seen = counts.frames;
  {
    std::lock_guard lock(stats_mutex);
    stats.frames_received = counts.frames;
    stats.rx_dropped = counts.dropped;
    stats.rx_corrupted = counts.corrupted;
    if (new_frame && turnaround_pending && stats.turnaround_us.size() < kMaxSamples) {
      stats.turnaround_us.push_back(MicrosecondsBetween(poll_written, sent));
    }
  }
  if (new_frame) {
    turnaround_pending = false;
    last_frame = sent;
  }
  for (const Bytes& piece : pieces) adapter.Push(piece, sent);
}

// A port nobody holds keeps what was written into it for the next one to
// open it, so what the console wrote and the PC did not read goes now, and
// nothing is written until the PC is back. The PC's own last bytes were sent
// before it let go and still go down the line. A PC that opened the port
// again before this runs and has read since then has met those bytes: the
// pty gives no way to stop that.
void Simulator::Impl::OnPeerGone() {
  peer_open = false;
  std::array<std::uint8_t, link::kReceiveBufferSize> chunk;
  std::size_t count = 0;
  while (port.Read(chunk, count) == PtyPort::ReadResult::kData) {
    if (phase != Phase::kUnplugged) TakeUp(line.Pass({chunk.data(), count}), Clock::now());
  }
  port.Discard();
}

// Looked at before every write, so nothing is written into a port nobody
// holds, and nothing written before a close is left for the next open.
bool Simulator::Impl::PeerListening() {
  const bool closed_meanwhile = port.ClosedSinceLastLook();
  const bool open = port.PeerOpen();
  if (closed_meanwhile || (peer_open && !open)) OnPeerGone();
  peer_open = open;
  return open;
}

// One read of the console: every piece that reaches it at this moment.
void Simulator::Impl::ReachDevice(Clock::time_point due) {
  for (const auto& piece : adapter.TakeDue(due)) input.Reach(piece.bytes, piece.sent);
  TakeFrames();
}

// A poll sent with an answer opens a new window, in which the frames still
// held may be taken up at once.
void Simulator::Impl::TakeFrames() {
  for (bool polled = true; polled;) {
    polled = false;
    for (const auto& taken : input.Take(phase == Phase::kWindow)) {
      const bool answers_poll = phase == Phase::kWindow;
      if (OnFrame(taken)) {
        polled = true;
      } else if (answers_poll) {
        phase = Phase::kPause;
        next_poll = Clock::now() + PollPause();
      }
    }
  }
  UpdateInputCounts();
}

void Simulator::Impl::UpdateInputCounts() {
  std::lock_guard lock(stats_mutex);
  stats.bytes_discarded = input.discarded();
  stats.bytes_overflowed = input.overflowed();
}

// True when the next poll went with the answer (--poll-with-answer).
bool Simulator::Impl::OnFrame(const ConsoleInput::Taken& taken) {
  std::optional<Bytes> answer;
  {
    std::lock_guard lock(device_mutex);
    answer = device.Answer(link::FrameView(taken.frame));
  }
  if (!answer) return false;
  if (!options.poll_with_answer || PollsUsedUp()) {
    SendFrame(std::move(*answer), true);
    return false;
  }
  SendAnswerAndPoll(std::move(*answer));
  return true;
}

// Counted before the write, so that whatever the PC has read is already in
// the figures when it looks at them.
void Simulator::Impl::Count(long ExchangeStats::*counter, long delta) {
  std::lock_guard lock(stats_mutex);
  stats.*counter += delta;
}

// A lost answer (--drop) is not written at all. Noise goes before the frame,
// so it lies between two frames on the line; a corrupted frame has one bit of
// one byte flipped, which its checksum shows. The dice are rolled only for
// frames that go to an open port, so the faults the PC meets do not depend on
// how long the console polled before the PC opened the port. True when the
// frame went to an open port.
bool Simulator::Impl::SendFrame(Bytes frame, bool answer) {
  if (!PeerListening()) {
    Count(answer ? &ExchangeStats::answers_unheard : &ExchangeStats::polls_unheard, 1);
    return false;
  }
  const std::optional<Bytes> sent = Faulted(std::move(frame), answer);
  return sent && WriteCounted(*sent, answer, !answer);
}

// The answer and then the next poll in one write, each with its own faults;
// the poll's reply window starts with it. A lost answer leaves the poll.
void Simulator::Impl::SendAnswerAndPoll(Bytes answer) {
  input.BeforePoll();
  UpdateInputCounts();
  if (!PeerListening()) {
    Count(&ExchangeStats::answers_unheard, 1);
    Count(&ExchangeStats::polls_unheard, 1);
    PollWritten(false);
    return;
  }
  Bytes bytes = Faulted(std::move(answer), true).value_or(Bytes{});
  const bool answered = !bytes.empty();
  const Bytes poll = *Faulted(link::BuildFrame(link::kPoll, {}), false);
  bytes.insert(bytes.end(), poll.begin(), poll.end());
  PollWritten(WriteCounted(bytes, answered, 1));
}

// Nothing for an answer lost on the line; otherwise the frame as it goes
// out, maybe with a bit flipped or noise before it.
std::optional<Bytes> Simulator::Impl::Faulted(Bytes frame, bool answer) {
  if (answer && dice.Roll(options.drop)) return std::nullopt;
  if (dice.Roll(options.corrupt)) dice.FlipOneBit(frame);
  if (dice.Roll(options.noise)) {
    Bytes noise(1 + dice.Below(kMaxNoiseBytes));
    for (auto& byte : noise) byte = dice.Byte();
    frame.insert(frame.begin(), noise.begin(), noise.end());
  }
  return frame;
}

bool Simulator::Impl::WriteCounted(const Bytes& bytes, long answers, long polls) {
  Count(&ExchangeStats::answers, answers);
  Count(&ExchangeStats::polls, polls);
  if (port.Write(bytes)) return true;
  Count(&ExchangeStats::answers, -answers);
  Count(&ExchangeStats::polls, -polls);
  return false;
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
  {
    std::lock_guard lock(s.plug_mutex);
    s.thread_alive = true;
  }
  s.thread = std::thread([&s] { s.Run(); });
  return s.path;
}

void Simulator::Stop() {
  Impl& s = *impl_;
  if (s.thread.joinable()) {
    s.stop_requested = true;
    s.Wake();
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

void Simulator::Unplug() { impl_->RequestPlugChange({false, std::nullopt}); }

void Simulator::Plug() { impl_->RequestPlugChange({true, std::nullopt}); }

void Simulator::Plug(DeviceState modem) { impl_->RequestPlugChange({true, std::move(modem)}); }

bool Simulator::Plugged() const { return impl_->plugged.load(std::memory_order_acquire); }

}  // namespace orvane::sim
