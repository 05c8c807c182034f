// Values shared by the serial port component and its reader and writer
// threads: line-event and modem-status bits, error flags, the messages the
// threads post, and the line settings record.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane::serial {

// Line-event bits, as a line event reports them.
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_PERR = 0x0200;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;
// Every event the reader watches; received bytes come through reads only.
inline constexpr std::uint32_t kCommMask = 0x07FE;

// Modem-status bits.
inline constexpr std::uint32_t MS_CTS_ON = 0x10;
inline constexpr std::uint32_t MS_DSR_ON = 0x20;
inline constexpr std::uint32_t MS_RING_ON = 0x40;
inline constexpr std::uint32_t MS_RLSD_ON = 0x80;

// Receive error flags reported with EV_ERR.
inline constexpr std::uint32_t CE_RXOVER = 0x01;
inline constexpr std::uint32_t CE_OVERRUN = 0x02;
inline constexpr std::uint32_t CE_RXPARITY = 0x04;
inline constexpr std::uint32_t CE_FRAME = 0x08;
inline constexpr std::uint32_t CE_BREAK = 0x10;

// Notifications of the threads to the component, and the writer's request.
inline constexpr std::uint32_t MSG_COMM_DATA = 1025;
inline constexpr std::uint32_t MSG_REQUEST_HANGUP = 1026;
inline constexpr std::uint32_t MSG_THREAD_STARTED = 1027;
inline constexpr std::uint32_t MSG_COMM_EVENT = 1028;
inline constexpr std::uint32_t MSG_WRITE_REQUEST = 1025;

// One notification. A data notification carries its own copy of the bytes
// (plus a terminating zero after them), and an event notification the error
// flags of that very event, so nothing the user-interface thread reads can be
// overwritten by the reader in the meantime.
//
// A line event found in the bytes of a data notification (the event
// character) rides along in `event` (the LParam its own MSG_COMM_EVENT would
// carry, 0 for none; its error flags in `errors`) and is handled right after
// the bytes, so one wake-up of the user-interface thread serves both.
struct Notification {
  std::uint32_t code = 0;
  std::uint32_t wparam = 0;
  std::uint32_t lparam = 0;
  std::uint32_t errors = 0;
  std::vector<std::uint8_t> data;
  std::uint32_t event = 0;
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
