// A serial port on a Linux file descriptor: what CreateFile, the comm-state
// calls, EscapeCommFunction and the overlapped operations of the reader and
// writer became on termios, ioctl, poll and eventfd.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct termios2;

#include "serial/comm_defs.h"
#include "serial/port_io.h"

namespace orvane::serial {

class FdPort final : public PortIo {
 public:
  enum class OpenResult { kOpened, kCannotOpen, kNotCommPort };

  // Opens the device exclusively, non-blocking, and makes sure a UART or an
  // adapter answers behind it.
  static OpenResult Open(const std::string& device, std::unique_ptr<FdPort>& port);
  ~FdPort() override;
  FdPort(const FdPort&) = delete;
  FdPort& operator=(const FdPort&) = delete;

  // GetCommState: the port's current settings as a device-control block.
  bool GetCommState(Dcb& dcb) const;
  // SetCommState: applies the block in raw mode and reads it back; false
  // when the driver refused or changed any of it.
  bool SetCommState(const Dcb& dcb);
  // SetupComm: Linux drivers keep queues of their own fixed size, so the
  // request is only accepted.
  bool SetupComm(std::uint32_t rx_queue, std::uint32_t tx_queue);
  bool EscapeCommFunction(int function);
  int fd() const { return fd_; }

  bool SetCommMask(std::uint32_t mask) override;
  std::uint32_t GetModemStatus() override;
  Io WaitCommEvent(std::uint32_t& events) override;
  Io CommEventResult(std::uint32_t& events) override;
  bool ClearCommError(std::uint32_t& errors) override;
  Io Read(std::uint8_t* buffer, std::size_t size, std::size_t& count) override;
  Io Write(const std::uint8_t* bytes, std::size_t size, std::size_t& written) override;
  void Purge(bool receive_side) override;
  Wake Wait(const CloseEvent& close, const WaitFor& what) override;

 private:
  struct LineCounts {
    int cts = 0, dsr = 0, rng = 0, dcd = 0, brk = 0, frame = 0, overrun = 0, parity = 0,
        buf_overrun = 0;
  };
  FdPort(int fd, bool pseudo_terminal);
  // Who found a line event: the modem-line watch thread, or the reader in
  // the bytes it read (the event character, a bad character's error count).
  enum class Finder { kWatch, kReader };
  bool ReadLineCounts(LineCounts& counts) const;
  bool HungUp() const;
  void NoteLineCountChanges(Finder finder);
  void AddLineEvents(std::uint32_t events, std::uint32_t errors, Finder finder);
  std::uint32_t TakeFoundEvents();
  void WatchModemLines();
  void StopModemLineWatch();

  const int fd_;
  WakeFd line_events_;  // readable while line events wait to be taken
  const bool pseudo_terminal_;
  bool has_line_counts_ = false;
  bool low_latency_set_ = false;
  int saved_serial_flags_ = 0;
  // The line settings the port had before it was opened; they come back on
  // close, so a terminal program that uses it next finds it as it left it.
  std::unique_ptr<termios2> settings_before_;
  std::atomic<std::uint32_t> mask_{0};
  std::atomic<int> event_char_{0};
  std::atomic<std::uint32_t> pending_events_{0};  // from the watch thread
  std::atomic<std::uint32_t> pending_errors_{0};
  // The reader thread's own: events found in what it read, and whether its
  // last read emptied the driver's input.
  std::uint32_t read_events_ = 0;
  bool input_drained_ = false;
  std::mutex counts_mutex_;
  LineCounts counts_;
  std::thread modem_line_watch_;
  std::atomic<bool> stop_watch_{false};
  std::atomic<bool> watch_ended_{false};
};

}  // namespace orvane::serial
