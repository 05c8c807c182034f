// A pseudo-terminal pair for the tests: the component opens the port side
// by its path, the test plays the far side on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace orvane::serial::testing {

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) port_ = ptsname(master_);
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& port() const { return port_; }
  int master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  bool Write(const std::vector<std::uint8_t>& bytes) const {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Reads until count bytes came or the line stayed silent for the limit.
  std::vector<std::uint8_t> Read(std::size_t count, int limit_ms = 3000) const {
    std::vector<std::uint8_t> got;
    std::uint8_t buffer[4096];
    while (got.size() < count) {
      pollfd entry{master_, POLLIN, 0};
      if (poll(&entry, 1, limit_ms) != 1) break;
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string port_;
};

// Runs the Qt event loop until the condition holds or the limit passes.
inline bool WaitUntil(const std::function<bool()>& condition, int limit_ms = 3000) {
  QDeadlineTimer deadline(limit_ms);
  QTimer tick;
  tick.start(10);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Delivers what is already posted.
inline void DrainEvents() { QCoreApplication::processEvents(); }

inline std::size_t CountEntries(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// A joined thread can still be listed for a moment while the kernel reaps
// it, so thread counts are awaited, within a limit.
inline bool TaskCountBecomes(std::size_t count, int limit_ms = 2000) {
  QDeadlineTimer deadline(limit_ms);
  while (CountEntries("/proc/self/task") != count) {
    if (deadline.hasExpired()) return false;
    usleep(1000);
  }
  return true;
}

}  // namespace orvane::serial::testing
