// The PC's end of the simulator's port for tests: opens the port side like a
// serial port, reads frames and answers polls with raw frames.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "link/commands.h"
#include "link/frame.h"

namespace orvane::testing {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Frame {
  std::uint8_t command = 0;
  Bytes data;
  bool operator==(const Frame&) const = default;
};

inline Bytes FrameBytes(std::uint8_t command, const Bytes& data = {}) {
  return link::BuildFrame(command, data);
}

class PcPort {
 public:
  explicit PcPort(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    termios line{};
    ::tcgetattr(fd_, &line);
    ::cfmakeraw(&line);
    ::cfsetspeed(&line, B1000000);
    line.c_cflag |= PARENB | PARODD | CLOCAL | CREAD;
    ::tcsetattr(fd_, TCSANOW, &line);
  }
  ~PcPort() { Close(); }
  PcPort(const PcPort&) = delete;
  PcPort& operator=(const PcPort&) = delete;

  bool is_open() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  void Send(std::uint8_t command, const Bytes& data = {}) { SendRaw(FrameBytes(command, data)); }

  // Bytes in one write, e.g. two frames at once.
  void SendRaw(const Bytes& bytes) {
    [[maybe_unused]] const auto written = ::write(fd_, bytes.data(), bytes.size());
  }

  // Raw bytes as they come, up to count, until the timeout.
  Bytes ReadRaw(std::size_t count, milliseconds timeout) {
    Bytes out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count && WaitReadable(deadline)) {
      std::uint8_t chunk[512];
      const ssize_t got = ::read(fd_, chunk, std::min(sizeof chunk, count - out.size()));
      if (got <= 0) break;
      out.insert(out.end(), chunk, chunk + got);
    }
    return out;
  }

  // What one read returns once something has come (empty at the timeout).
  Bytes ReadOnce(milliseconds timeout) {
    if (!WaitReadable(Clock::now() + timeout)) return {};
    Bytes out(4096);
    const ssize_t got = ::read(fd_, out.data(), out.size());
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
  }

  std::optional<Frame> Next(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (frames_.empty()) {
      if (!WaitReadable(deadline) || !ReadOnce()) return std::nullopt;
    }
    Frame frame = frames_.front();
    frames_.pop_front();
    return frame;
  }

  // Sends a request at a poll whose reply window is open (the last frame
  // already waiting if it is a poll, else the next poll) and returns the
  // answer of that code, or nothing when the next poll comes first.
  std::optional<Frame> Exchange(std::uint8_t command, const Bytes& data = {},
                                milliseconds timeout = milliseconds(3000)) {
    while (ReadOnce()) {
    }
    const bool poll_waiting = !frames_.empty() && frames_.back().command == link::kPoll;
    frames_.clear();
    if (!poll_waiting && !NextPoll(timeout)) return std::nullopt;
    Send(command, data);
    while (auto frame = Next(timeout)) {
      if (frame->command == link::kPoll) {
        frames_.push_front(*frame);
        return std::nullopt;
      }
      if (frame->command == command) return frame;
    }
    return std::nullopt;
  }

  // Sends until answered, as the configurator does with its queue head.
  std::optional<Frame> Insist(std::uint8_t command, const Bytes& data = {}, int tries = 100) {
    for (int i = 0; i < tries; ++i) {
      if (auto answer = Exchange(command, data)) return answer;
    }
    return std::nullopt;
  }

  bool NextPoll(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (auto frame = Next(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()))) {
      if (frame->command == link::kPoll) return true;
    }
    return false;
  }

  // True once the device side has gone: poll shows a hang-up and read gives
  // end of file or EIO.
  bool WaitHangup(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      pollfd entry{fd_, POLLIN, 0};
      ::poll(&entry, 1, 10);
      if (entry.revents & POLLHUP) {
        std::uint8_t byte;
        ssize_t got;
        while ((got = ::read(fd_, &byte, 1)) > 0) {
        }
        return got == 0 || errno == EIO;
      }
    }
    return false;
  }

 private:
  bool WaitReadable(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(std::max<long>(left, 0))) > 0 && (entry.revents & POLLIN);
  }

  bool ReadOnce() {
    std::uint8_t chunk[512];
    const ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got <= 0) return false;
    receive_.Deliver(chunk, static_cast<std::size_t>(got), [this](const link::FrameView& view) {
      const auto data = view.data_bytes();
      frames_.push_back(Frame{view.command(), Bytes(data.begin(), data.end())});
    });
    return true;
  }

  int fd_ = -1;
  link::ReceiveBuffer receive_;
  std::deque<Frame> frames_;
};

}  // namespace orvane::testing
