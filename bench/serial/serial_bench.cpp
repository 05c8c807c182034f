// Round trips through a pseudo-terminal: bytes written on the far side up to
// the data event on the user-interface thread, and WriteData up to the bytes
// read on the far side, beside the same trips done by a bare loop on the
// descriptors. Prints the median and the 99th percentile of each.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "serial/link_port.h"
#include "serial/serial_comm.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvane::serial::TSerialComm;

constexpr int kTrips = 2000;
constexpr std::size_t kFrameSize = 16;  // a poll answer of the link is this order of size

struct Pty {
  int master = -1;
  std::string port;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) std::exit(1);
    port = ptsname(master);
  }
  ~Pty() { close(master); }
};

// Waits for and reads exactly count bytes from a descriptor.
bool ReadAll(int fd, std::size_t count) {
  std::uint8_t buffer[256];
  std::size_t got = 0;
  while (got < count) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 2000) != 1) return false;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got += static_cast<std::size_t>(n);
    if (n < 0 && errno != EAGAIN) return false;
  }
  return true;
}

std::vector<double> Measure(const std::function<void()>& trip) {
  std::vector<double> micros;
  micros.reserve(kTrips);
  for (int i = 0; i < kTrips; ++i) {
    const auto start = Clock::now();
    trip();
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return micros;
}

void Print(const char* name, std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  const double median = micros[micros.size() / 2];
  const double p99 = micros[micros.size() * 99 / 100];
  std::printf("%-44s %10.1f %10.1f\n", name, median, p99);
}

void RawMode(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::vector<std::uint8_t> frame(kFrameSize, 0x55);

  Pty link_pty;
  TSerialComm comm;
  orvane::serial::ConfigureLinkComm(comm);
  comm.SetCommPort(link_pty.port);
  std::size_t received = 0;
  comm.OnReceiveData = [&](const std::uint8_t*, std::uint16_t length) { received += length; };
  if (!comm.Open()) return 1;

  Pty bare_pty;
  const int port = open(bare_pty.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  RawMode(port);

  std::printf("%d trips of %zu bytes; microseconds\n", kTrips, kFrameSize);
  std::printf("%-44s %10s %10s\n", "path", "median", "p99");
  Print("far side -> OnReceiveData (component)", Measure([&] {
          received = 0;
          (void)!write(link_pty.master, frame.data(), frame.size());
          while (received < frame.size()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }));
  Print("far side -> read on the port (bare loop)", Measure([&] {
          (void)!write(bare_pty.master, frame.data(), frame.size());
          ReadAll(port, frame.size());
        }));
  Print("WriteData -> read on the far side (component)", Measure([&] {
          comm.WriteData(frame.data(), static_cast<std::uint16_t>(frame.size()));
          ReadAll(link_pty.master, frame.size());
        }));
  Print("write on the port -> far side (bare loop)", Measure([&] {
          (void)!write(port, frame.data(), frame.size());
          ReadAll(bare_pty.master, frame.size());
        }));
  comm.Close();
  close(port);
  return 0;
}
