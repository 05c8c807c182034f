#include "serial/fd_port.h"

// termios2 and its ioctls come from the kernel's own headers; glibc's
// <termios.h> clashes with them and is not used here.
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace orvane::serial {
namespace {

constexpr std::array<std::pair<std::uint32_t, unsigned>, 31> kStandardRates{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}, {0, B0},
}};

constexpr unsigned kPtySlaveMajorFirst = 136;  // UNIX98 pseudo-terminal slaves
constexpr unsigned kPtySlaveMajorLast = 143;

// The cflag bits a driver must keep as asked; a pseudo-terminal keeps these
// but not the data bits and the parity enable.
constexpr tcflag_t kCheckedBits = CSTOPB | PARODD | CMSPAR | CRTSCTS;
constexpr tcflag_t kCheckedBitsOfUart = kCheckedBits | CSIZE | PARENB;

std::uint32_t RateOf(const termios2& t) {
  const unsigned code = t.c_cflag & CBAUD;
  if (code == BOTHER) return t.c_ospeed;
  for (const auto& [rate, bits] : kStandardRates)
    if (bits == code) return rate;
  return 0;
}

void SetRate(termios2& t, std::uint32_t rate) {
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));  // input speed follows output
  for (const auto& [standard, bits] : kStandardRates) {
    if (standard == rate) {
      t.c_cflag |= bits;
      t.c_ispeed = t.c_ospeed = rate;
      return;
    }
  }
  t.c_cflag |= BOTHER;
  t.c_ispeed = t.c_ospeed = rate;
}

void MakeRaw(termios2& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                 IXANY | INPCK | IGNPAR);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  // The 1 ms read-interval time-out becomes VMIN = VTIME = 0 on a
  // non-blocking descriptor: every read returns what has arrived at once.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

// Builds the termios settings of a block; false for what Linux cannot do.
bool TermiosFromDcb(const Dcb& dcb, termios2& t) {
  static constexpr std::array<tcflag_t, 4> kSizes{CS5, CS6, CS7, CS8};
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return false;
  // One and a half stop bits exist only with 5 data bits, two only with more.
  if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) return false;
  if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) return false;
  MakeRaw(t);
  SetRate(t, dcb.BaudRate);
  t.c_cflag |= kSizes[dcb.ByteSize - 5];
  if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  // Parity is generated; checking it (fParity) stays off, as INPCK does.
  if (dcb.Parity != NOPARITY) t.c_cflag |= PARENB;
  if (dcb.Parity == ODDPARITY || dcb.Parity == MARKPARITY) t.c_cflag |= PARODD;
  if (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY) t.c_cflag |= CMSPAR;
  if (dcb.Flags & kFlagOutX) t.c_iflag |= IXON;
  if (dcb.Flags & kFlagInX) t.c_iflag |= IXOFF;
  if (dcb.XonChar != 0) t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  if (dcb.XoffChar != 0) t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  // RTS handshaking is the driver's CRTSCTS, which also holds the
  // transmitter for CTS. RTS toggling has no termios form: RTS is left as
  // EscapeCommFunction set it.
  const std::uint32_t rts = (dcb.Flags & kRtsControlMask) >> kRtsControlShift;
  if (rts == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  return true;
}

PortIo::Io IoOfErrno() {
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return PortIo::Io::kPending;
  if (errno == EBADF) return PortIo::Io::kInvalidHandle;
  return PortIo::Io::kFailed;
}

}  // namespace

FdPort::OpenResult FdPort::Open(const std::string& device, std::unique_ptr<FdPort>& port) {
  if (device.empty()) return OpenResult::kCannotOpen;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenResult::kCannotOpen;
  auto fail = [fd](OpenResult result) {
    ::close(fd);
    return result;
  };
  // GetFileType: only a character device that is a terminal is a port.
  struct stat info {};
  termios2 settings{};
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return fail(OpenResult::kNotCommPort);
  if (ioctl(fd, TCGETS2, &settings) != 0)
    return fail(errno == ENOTTY ? OpenResult::kNotCommPort : OpenResult::kCannotOpen);
  // No sharing: the lock keeps out other components and processes, TIOCEXCL
  // every later open except root's.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0)
    return fail(OpenResult::kCannotOpen);
  serial_struct serial{};
  const bool has_serial_info = ioctl(fd, TIOCGSERIAL, &serial) == 0;
  if (has_serial_info && serial.type == PORT_UNKNOWN) return fail(OpenResult::kCannotOpen);
  const unsigned major_number = major(info.st_rdev);
  port.reset(new FdPort(fd, major_number >= kPtySlaveMajorFirst && major_number <= kPtySlaveMajorLast));
  port->settings_before_ = std::make_unique<termios2>(settings);
  // An adapter that batches received bytes (FTDI: 16 ms) is asked to pass
  // them on at once; the old flags come back on close.
  if (has_serial_info && !(serial.flags & ASYNC_LOW_LATENCY)) {
    port->saved_serial_flags_ = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    port->low_latency_set_ = ioctl(fd, TIOCSSERIAL, &serial) == 0;
  }
  return OpenResult::kOpened;
}

FdPort::FdPort(int fd, bool pseudo_terminal) : fd_(fd), pseudo_terminal_(pseudo_terminal) {}

FdPort::~FdPort() {
  if (low_latency_set_) {
    serial_struct serial{};
    if (ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      serial.flags = saved_serial_flags_;
      ioctl(fd_, TIOCSSERIAL, &serial);
    }
  }
  if (settings_before_) ioctl(fd_, TCSETS2, settings_before_.get());
  ioctl(fd_, TIOCNXCL);
  flock(fd_, LOCK_UN);
  ::close(fd_);
}

bool FdPort::GetCommState(Dcb& dcb) const {
  termios2 t{};
  if (ioctl(fd_, TCGETS2, &t) != 0) return false;
  dcb.BaudRate = RateOf(t);
  dcb.ByteSize = static_cast<std::uint8_t>(5 + ((t.c_cflag & CSIZE) >> 4));
  dcb.StopBits = (t.c_cflag & CSTOPB) ? (dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
  dcb.Parity = NOPARITY;
  if (t.c_cflag & PARENB) {
    const bool odd = t.c_cflag & PARODD;
    dcb.Parity = (t.c_cflag & CMSPAR) ? (odd ? MARKPARITY : SPACEPARITY) : (odd ? ODDPARITY : EVENPARITY);
  }
  // Linux has no XON/XOFF limits and no error character to take over.
  dcb.XonLim = dcb.XoffLim = 0;
  dcb.ErrorChar = 0;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  dcb.EofChar = static_cast<char>(t.c_cc[VEOF]);
  return true;
}

// TCSETS2 succeeds even when the driver rounds the rate or ignores a bit, so
// the settings are read back and compared.
bool FdPort::SetCommState(const Dcb& dcb) {
  termios2 wanted{};
  if (ioctl(fd_, TCGETS2, &wanted) != 0 || !TermiosFromDcb(dcb, wanted)) return false;
  termios2 got{};
  if (ioctl(fd_, TCSETS2, &wanted) != 0 || ioctl(fd_, TCGETS2, &got) != 0) return false;
  const tcflag_t checked = pseudo_terminal_ ? kCheckedBits : kCheckedBitsOfUart;
  if (RateOf(got) != dcb.BaudRate || (got.c_cflag & checked) != (wanted.c_cflag & checked))
    return false;
  return true;
}

bool FdPort::SetupComm(std::uint32_t, std::uint32_t) { return true; }

bool FdPort::EscapeCommFunction(int function) {
  const int rts = TIOCM_RTS;
  const int dtr = TIOCM_DTR;
  switch (function) {
    case 1: return ioctl(fd_, TCXONC, TCOOFF) == 0;    // SETXOFF: hold output as if XOFF came
    case 2: return ioctl(fd_, TCXONC, TCOON) == 0;     // SETXON
    case 3: return ioctl(fd_, TIOCMBIS, &rts) == 0;    // SETRTS
    case 4: return ioctl(fd_, TIOCMBIC, &rts) == 0;    // CLRRTS
    case 5: return ioctl(fd_, TIOCMBIS, &dtr) == 0;    // SETDTR
    case 6: return ioctl(fd_, TIOCMBIC, &dtr) == 0;    // CLRDTR
    case 8: return ioctl(fd_, TIOCSBRK) == 0;          // SETBREAK
    case 9: return ioctl(fd_, TIOCCBRK) == 0;          // CLRBREAK
    default: return false;                             // RESETDEV has no Linux form
  }
}

// ---- Reads, writes, purge and the wait ----

// A read that returned less than asked has emptied the driver's input, so the
// read the reader starts right after it would find nothing: it is pending at
// once, without asking the driver, and the next poll reports new bytes.
PortIo::Io FdPort::Read(std::uint8_t* buffer, std::size_t size, std::size_t& count) {
  if (std::exchange(input_drained_, false)) return Io::kPending;
  const ssize_t got = ::read(fd_, buffer, size);
  if (got < 0) return IoOfErrno();
  count = static_cast<std::size_t>(got);
  // With VMIN = VTIME = 0 a read with nothing to give returns 0 rather than
  // EAGAIN; only a line that poll reports hung up has truly ended.
  if (got == 0) return HungUp() ? Io::kDone : Io::kPending;
  input_drained_ = count < size;
  return Io::kDone;
}

bool FdPort::HungUp() const {
  pollfd entry{fd_, POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLERR));
}

PortIo::Io FdPort::Write(const std::uint8_t* bytes, std::size_t size, std::size_t& written) {
  const ssize_t put = ::write(fd_, bytes, size);
  if (put < 0) return IoOfErrno();
  written = static_cast<std::size_t>(put);
  return Io::kDone;
}

// PurgeComm is tcflush. It cannot end a write blocked in the kernel, which is
// why every read and write here is non-blocking.
void FdPort::Purge(bool receive_side) { ioctl(fd_, TCFLSH, receive_side ? TCIFLUSH : TCOFLUSH); }

PortIo::Wake FdPort::Wait(const CloseEvent& close, const WaitFor& what) {
  std::array<pollfd, 4> entries{};
  std::array<Wake, 4> wakes{};
  std::size_t used = 0;
  auto add = [&](int fd, short events, Wake wake) {
    entries[used] = {fd, events, 0};
    wakes[used++] = wake;
  };
  add(close.fd(), POLLIN, Wake::kClose);
  if (what.readable) add(fd_, POLLIN, Wake::kReadable);
  if (what.writable) add(fd_, POLLOUT, Wake::kWritable);
  if (what.message_fd >= 0) add(what.message_fd, POLLIN, Wake::kMessage);
  for (;;) {
    const int ready = poll(entries.data(), used, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return Wake::kFailed;
    // A hang-up or error counts as ready: the read or write that follows
    // reports it.
    for (std::size_t i = 0; i < used; ++i) {
      if (entries[i].revents & POLLNVAL) return Wake::kFailed;
      if (entries[i].revents != 0) return wakes[i];
    }
  }
}

}  // namespace orvane::serial
