// The seam between the reader and writer threads and the platform: the close
// event and the few port operations the threads use. FdPort implements the
// operations on a file descriptor; tests script them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvane::serial {

// An eventfd used as a wake-up: Signal makes it readable for poll until
// Drain takes the signals back.
class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool Signal() const;
  void Drain() const;

 private:
  int fd_;
};

// The manual-reset close event is a wake-up that is never drained: once set
// it stays readable, so one signal ends every wait on it. The flag beside it
// answers IsSet without a system call.
class CloseEvent {
 public:
  static std::unique_ptr<CloseEvent> Create();  // null when no eventfd is available
  CloseEvent(const CloseEvent&) = delete;
  CloseEvent& operator=(const CloseEvent&) = delete;

  void Set() const;
  bool IsSet() const { return set_.load(std::memory_order_acquire); }
  int fd() const { return wake_.fd(); }

 private:
  CloseEvent() = default;
  WakeFd wake_;
  mutable std::atomic<bool> set_{false};
};

class PortIo {
 public:
  // How an operation went: done now, pending (to be finished when the wait
  // reports its source ready), refused because the port is not valid (the
  // quiet failure), or failed otherwise.
  enum class Io { kDone, kPending, kInvalidHandle, kFailed };
  // What ended a wait; the lowest ready source in this order wins.
  enum class Wake { kClose, kReadable, kWritable, kMessage, kFailed };
  struct WaitFor {
    bool readable = false;
    bool writable = false;
    int message_fd = -1;  // the writer's request queue, when it waits for one
  };

  virtual ~PortIo() = default;

  // Non-blocking read; kDone with count 0 means the line was hung up.
  virtual Io Read(std::uint8_t* buffer, std::size_t size, std::size_t& count) = 0;
  // Non-blocking write; kDone may have taken only part of the bytes.
  virtual Io Write(const std::uint8_t* bytes, std::size_t size, std::size_t& written) = 0;
  // Discards the driver's buffered input (receive_side) or output.
  virtual void Purge(bool receive_side) = 0;
  // Waits without time-out for the close event or one of the given sources.
  virtual Wake Wait(const CloseEvent& close, const WaitFor& what) = 0;
};

}  // namespace orvane::serial
