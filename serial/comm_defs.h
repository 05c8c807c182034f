// Values shared by the serial port component and its reader and writer
// threads: the messages the threads post and the line settings record.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane::serial {

// Notifications of the threads to the component, and the writer's request.
inline constexpr std::uint32_t MSG_COMM_DATA = 1025;
inline constexpr std::uint32_t MSG_REQUEST_HANGUP = 1026;
inline constexpr std::uint32_t MSG_THREAD_STARTED = 1027;
inline constexpr std::uint32_t MSG_WRITE_REQUEST = 1025;

// One notification. A data notification carries its own copy of the bytes
// (plus a terminating zero after them), so nothing the user-interface thread
// reads can be overwritten by the reader in the meantime.
struct Notification {
  std::uint32_t code = 0;
  std::uint32_t wparam = 0;
  std::uint32_t lparam = 0;
  std::vector<std::uint8_t> data;
};

// Where the threads post their notifications; the component's target queues
// them for the user-interface thread in posting order.
class NotifySink {
 public:
  virtual ~NotifySink() = default;
  virtual bool Post(Notification notification) = 0;
};

// The device-control block: the line settings as one record. On Linux it is
// turned into termios settings when applied to a port.
struct Dcb {
  std::uint32_t BaudRate = 9600;
  std::uint32_t Flags = 1;  // fBinary only
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};

// Bits of the flags word.
inline constexpr std::uint32_t kFlagBinary = 0x0001;
inline constexpr std::uint32_t kFlagOutX = 0x0100;
inline constexpr std::uint32_t kFlagInX = 0x0200;
inline constexpr std::uint32_t kRtsControlMask = 0x3000;
inline constexpr int kRtsControlShift = 12;
inline constexpr std::uint32_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint32_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint32_t RTS_CONTROL_TOGGLE = 3;

inline constexpr std::uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3,
                              SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

}  // namespace orvane::serial
