// A serial port on a Linux file descriptor: what CreateFile, the comm-state
// calls, EscapeCommFunction and the overlapped operations of the reader and
// writer became on termios, ioctl and poll. Line events are not reported.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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

  Io Read(std::uint8_t* buffer, std::size_t size, std::size_t& count) override;
  Io Write(const std::uint8_t* bytes, std::size_t size, std::size_t& written) override;
  void Purge(bool receive_side) override;
  Wake Wait(const CloseEvent& close, const WaitFor& what) override;

 private:
  FdPort(int fd, bool pseudo_terminal);
  bool HungUp() const;

  const int fd_;
  const bool pseudo_terminal_;
  bool low_latency_set_ = false;
  int saved_serial_flags_ = 0;
  // The line settings the port had before it was opened; they come back on
  // close, so a terminal program that uses it next finds it as it left it.
  std::unique_ptr<termios2> settings_before_;
  // The reader thread's own: whether its last read emptied the driver's input.
  bool input_drained_ = false;
};

}  // namespace orvane::serial
