// orvane-sim: a KV80 console on a pseudo-terminal. The device side of the
// link: it polls, answers the commands the PC sends by one of several
// firmware behaviours, and keeps a file system, a constants block and a
// firmware image. Adapter latency and faults (lost or flipped frames either
// way, line noise, a failing verification, a device that falls silent or is
// unplugged) can be switched on and are reproducible by seed. The modem can
// be taken off its cable and put back, or another one connected, while the
// port (the PC's USB adapter) stays.
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

// What the console does with the PC's frames (--answer).
//   kAll:   reads all the time and answers every complete frame as it comes.
//   kFirst: reads only from a poll until its answer or the end of the reply
//           window; answers the first complete frame and drops whatever else
//           had reached it by then. Bytes that come in between wait, so a
//           stale frame is answered after the next poll as if it were new.
//   kQueue: reads all the time into a bounded store and answers one frame
//           per poll; the rest wait, in order, for the following polls.
//   kFlush: empties its store just before each poll, then as kFirst.
enum class AnswerMode { kAll, kFirst, kQueue, kFlush };

// What the console does with a frame identical in every byte to the last one
// it took up (--copies): kSkip answers it again without applying it a second
// time; kApply applies every frame as it comes.
enum class CopyMode { kSkip, kApply };

struct SimOptions {
  std::size_t capacity = 16384;
  long reply_window_us = 50'000;
  int poll_interval_us = 1000;
  // Before each poll a further pause drawn evenly from [0, poll_jitter_us],
  // from a seeded generator of its own (the fault dice stay as they were).
  long poll_jitter_us = 0;
  AnswerMode answer = AnswerMode::kAll;
  CopyMode copies = CopyMode::kSkip;
  // The PC's bytes reach the console after latency + a jitter in [0, jitter].
  long latency_us = 0, jitter_us = 0;
  double drop = 0, corrupt = 0, noise = 0;  // on the console's own frames
  double rx_drop = 0, rx_corrupt = 0;       // on the PC's frames
  int fail_verify = 0;      // 0 = off
  long silent_after = 0;    // 0 = off
  long hangup_after = 0;    // 0 = off
  std::uint64_t seed = 1;
  std::string link_path;    // optional symlink to the port side
  int exit_after_idle_ms = 0;  // 0 = off: stop once the PC has been quiet this long
  // Each answer is followed, in the same write, by the next poll, whose
  // reply window starts then: a console that polls again at once.
  bool poll_with_answer = false;
};

// turnaround_us: one sample per poll the PC answered, from the poll's last
// byte written to the last byte of the PC's first frame after it read off the
// port (before any simulated latency, whatever the console then does with
// it). polls: polls written while the PC had the port open. answers: answer
// frames the device wrote to an open port (lost ones, by --drop, not
// counted). The console goes on polling and answering while the port is
// closed; those frames are lost and counted as unheard.
struct ExchangeStats {
  std::vector<double> turnaround_us;
  long polls = 0;
  long answers = 0;
  long polls_unheard = 0;
  long answers_unheard = 0;
  long frames_received = 0;    // good frames from the PC, before --rx-drop/--rx-corrupt
  long rx_dropped = 0;
  long rx_corrupted = 0;
  long bytes_discarded = 0;    // dropped unread by --answer first/flush
  long bytes_overflowed = 0;   // lost because the receive store was full
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

  // The modem leaves the cable: it polls no more and takes nothing from the
  // line, while the port stays open under the same path (and --link). What
  // the PC writes meanwhile is lost, and so is a frame it had half sent.
  // Called before Start, the port comes up with no modem behind it.
  void Unplug();
  // The same modem comes back with its content and polls again.
  void Plug();
  // Another modem, with this content, is connected in place of the last one
  // (even if that one was still plugged); State() is then its content.
  void Plug(DeviceState modem);
  bool Plugged() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

bool LoadState(const std::string& path, DeviceState& state, std::string* error);
bool SaveState(const std::string& path, const DeviceState& state, std::string* error);
// {"polls":N,"answers":N,...,"turnaround_us":[...]}
bool SaveStats(const std::string& path, const ExchangeStats& stats, std::string* error);

// A few plan files for the window's demo mode: a yearly plan (.yp1), a ring
// plan (.R0) and a lighting timer plan (.L7Q), made up here.
std::vector<SimFile> SampleFiles();

}  // namespace orvane::sim
