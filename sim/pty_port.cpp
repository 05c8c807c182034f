#include "sim/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace orvane::sim {
namespace {

// How long a write waits for the PC to make room before the frame is dropped.
constexpr int kWriteRoomWaitMs = 20;

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

short MasterEvents(int fd, short wanted, int timeout_ms) {
  pollfd entry{fd, wanted, 0};
  return ::poll(&entry, 1, timeout_ms) > 0 ? entry.revents : 0;
}

}  // namespace

PtyPort::~PtyPort() { Close(); }

// The master is put into raw mode, which on Linux sets the line discipline
// the port side reads through: no echo, no line editing, no character
// translation, even before the PC sets its own line parameters.
//
// A master whose port side was never opened shows no hang-up, so the port
// side is opened and closed once here: from then on POLLHUP on the master
// means that nobody holds the port.
std::string PtyPort::Open() {
  if (master_ >= 0) Close();
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) ThrowErrno("posix_openpt");
  std::array<char, 128> name{};
  termios raw{};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name.data(), name.size()) != 0 || ::tcgetattr(master_, &raw) != 0) {
    const int saved = errno;
    Close();
    errno = saved;
    ThrowErrno("pseudo-terminal set-up");
  }
  ::cfmakeraw(&raw);
  ::tcsetattr(master_, TCSANOW, &raw);
  port_path_ = name.data();
  const int port_side = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (port_side >= 0) ::close(port_side);
  WatchCloses();
  return port_path_;
}

// A closed port side keeps the console's unread bytes for whoever opens it
// next. A hang-up on the master shows a close only while nobody has opened
// the port again, so every close is also watched for, and none goes unseen.
void PtyPort::WatchCloses() {
  close_watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (close_watch_ >= 0 && ::inotify_add_watch(close_watch_, port_path_.c_str(), IN_CLOSE) < 0) {
    ::close(close_watch_);
    close_watch_ = -1;
  }
}

bool PtyPort::ClosedSinceLastLook() {
  if (close_watch_ < 0) return false;
  long closes = 0;
  alignas(inotify_event) std::array<char, 4096> events;
  ssize_t got;
  while ((got = ::read(close_watch_, events.data(), events.size())) > 0) {
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      const auto* event = reinterpret_cast<const inotify_event*>(events.data() + at);
      if (event->mask & (IN_CLOSE | IN_Q_OVERFLOW)) ++closes;
      at += sizeof(inotify_event) + event->len;
    }
  }
  const long own = std::min(closes, own_closes_);
  own_closes_ -= own;
  return closes > own;
}

void PtyPort::Close() {
  if (close_watch_ >= 0) ::close(close_watch_);
  close_watch_ = -1;
  own_closes_ = 0;
  if (master_ < 0) return;
  ::close(master_);
  master_ = -1;
}

bool PtyPort::PeerOpen() const {
  return master_ >= 0 && (MasterEvents(master_, POLLOUT, 0) & POLLHUP) == 0;
}

bool PtyPort::Write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(master_, bytes.data(), bytes.size());
    if (written > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN && (MasterEvents(master_, POLLOUT, kWriteRoomWaitMs) & POLLOUT)) {
      continue;
    }
    Discard();
    return false;
  }
  return true;
}

PtyPort::ReadResult PtyPort::Read(std::span<std::uint8_t> buffer, std::size_t& count) {
  count = 0;
  for (;;) {
    const ssize_t got = ::read(master_, buffer.data(), buffer.size());
    if (got > 0) {
      count = static_cast<std::size_t>(got);
      return ReadResult::kData;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return ReadResult::kNothing;
    return ReadResult::kPeerGone;  // EIO: the last holder of the port closed it
  }
}

// What the console wrote sits in the port side's input queue once it has
// left the master, and only a flush through the port side empties it. The
// PC's bytes on their way to the master are left alone.
void PtyPort::Discard() {
  if (master_ < 0) return;
  const int port_side = ::open(port_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (port_side < 0) return;
  ::tcflush(port_side, TCIFLUSH);
  ::close(port_side);
  if (close_watch_ >= 0) ++own_closes_;
}

}  // namespace orvane::sim
