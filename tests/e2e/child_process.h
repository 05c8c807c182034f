// Child processes for the end-to-end tests: the simulator (its first stdout
// line is the port path) and one run of the tool with its output captured.
// Every child is stopped by its own process id.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvane::e2e {

struct RunResult {
  int exit_status = -1;  // -1 when ended by a signal or the time limit
  int signal = 0;
  bool timed_out = false;
  std::string out, err;
  double seconds = 0;
  rusage usage{};
};

using Environment = std::map<std::string, std::string>;

// A signal sent to the program once its stderr shows a text, after a pause.
struct SignalLater {
  int signal = 0;
  std::string after;
  std::chrono::milliseconds pause{0};
};

// Runs a program to its end (killed by its pid after the limit), stdin empty.
RunResult RunProgram(const std::vector<std::string>& argv, const Environment& extra_environment,
                     std::chrono::milliseconds limit, const std::optional<SignalLater>& later = std::nullopt);

// A program running in the background, its stdout and stderr read as they
// come; killed by its pid if it still runs at the end.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const Environment& extra_environment);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // Reads until stdout holds `text` `count` times, or the time is up.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit, std::size_t count = 1);
  // The same for stderr, once.
  bool WaitForLog(const std::string& text, std::chrono::milliseconds limit);
  // Reads what comes for a while.
  void ReadFor(std::chrono::milliseconds pause);
  void Signal(int signal) const;
  // Reads to the end (killed after the limit) and gives the whole run.
  RunResult Wait(std::chrono::milliseconds limit);
  const std::string& out() const { return result_.out; }
  const std::string& err() const { return result_.err; }
  pid_t pid() const { return pid_; }

 private:
  bool Read(int timeout_ms);  // false once both pipes have ended

  std::chrono::steady_clock::time_point started_;
  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
  bool reaped_ = false;
  RunResult result_;
};

class Simulator {
 public:
  // Starts orvane-sim with the given options and reads its port path.
  Simulator(const std::string& program, const std::vector<std::string>& options);
  ~Simulator();  // SIGTERM to its pid if still running
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  const std::string& port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Sends SIGTERM and waits; the simulator then writes its state file.
  // Returns its exit status (-1 on a signal or time-out).
  int Stop();

 private:
  pid_t pid_ = -1;
  std::string port_;
  bool reaped_ = false;
};

}  // namespace orvane::e2e
