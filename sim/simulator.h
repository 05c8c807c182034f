// orvane-sim: a KV80 console on a pseudo-terminal. The device side of the
// link: it polls, answers each command the PC sends after a poll, and keeps a
// file system, a constants block and a firmware image. Faults (lost answers,
// flipped bytes, line noise, a failing verification, a device that falls
// silent or is unplugged) can be switched on and are reproducible by seed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane::sim {

struct SimFile {
  std::uint16_t type = 0;
  std::vector<std::uint8_t> name;  // code page 1251 bytes as stored
  std::vector<std::uint8_t> data;
};

struct DeviceState {
  std::vector<SimFile> files;
  std::array<std::uint8_t, 34> constants{2, 0, 31};  // block number 2, length 31
  std::vector<std::uint8_t> firmware;
};

struct SimOptions {
  std::size_t capacity = 16384;
  int reply_window_ms = 50;
  int poll_interval_us = 1000;
  double drop = 0, corrupt = 0, noise = 0;
  int fail_verify = 0;      // 0 = off
  long silent_after = 0;    // 0 = off
  long hangup_after = 0;    // 0 = off
  std::uint64_t seed = 1;
  std::string link_path;    // optional symlink to the port side
  int exit_after_idle_ms = 0;  // 0 = off: stop once the PC has been quiet this long
};

// turnaround_us: one sample per poll the PC answered, from the poll's last
// byte written to the answer's last byte read. polls: polls written while the
// PC had the port open. answers: answer frames the device wrote (lost ones,
// by --drop, not counted).
struct ExchangeStats {
  std::vector<double> turnaround_us;
  long polls = 0;
  long answers = 0;
};

class Simulator {
 public:
  explicit Simulator(SimOptions options, DeviceState initial = {});
  ~Simulator();  // stops the device thread, closes the pty
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the pty pair (raw mode), starts the device thread, returns the
  // port-side path (e.g. /dev/pts/5). Throws std::system_error when no pty
  // can be had. A second call returns the same path.
  std::string Start();
  void Stop();
  DeviceState State() const;  // thread-safe snapshot
  ExchangeStats Stats() const;
  // True from Start until Stop, a hang-up (--hangup-after) or the idle exit.
  bool Running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

bool LoadState(const std::string& path, DeviceState& state, std::string* error);
bool SaveState(const std::string& path, const DeviceState& state, std::string* error);
// {"polls":N,"answers":N,"turnaround_us":[...]}
bool SaveStats(const std::string& path, const ExchangeStats& stats, std::string* error);

// A few plan files for the window's demo mode: a yearly plan (.yp1), a ring
// plan (.R0) and a lighting timer plan (.L7Q), made up here.
std::vector<SimFile> SampleFiles();

}  // namespace orvane::sim
