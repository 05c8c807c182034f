// One port's run in a child process of this same program, as runs on several
// ports and provision --watch start them. The child gets its own --port and
// a pipe of its own for its progress and its result (one JSON line each);
// its log lines on stderr are handed on whole. It ends when this process
// does, however that ends.
#pragma once

#include <QProcess>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/port_result.h"
#include "cli/port_run.h"

namespace orvane::cli {

class PortChild {
 public:
  struct Events {
    std::function<void(const std::string& line)> log_line;  // a whole line of its stderr, without its end
    std::function<void(const ChildProgress&)> progress;
    // Once, at its end: the result (a child that ended without one failed)
    // and the result line as it came, empty when none came.
    std::function<void(const PortResult&, const std::string& line)> ended;
  };

  PortChild(std::string port, Events events);
  ~PortChild();
  PortChild(const PortChild&) = delete;
  PortChild& operator=(const PortChild&) = delete;

  // Starts `program` with the options' command line and a result descriptor
  // of its own. own_group: the child gets a process group of its own, so
  // that a Ctrl-C on the terminal reaches only this process. `ended` may
  // come before Start returns, when the child cannot be started at all.
  void Start(const std::string& program, Options options, bool own_group);
  // Passes a signal on while the child runs.
  void Signal(int signal);

  const std::string& port() const { return port_; }
  bool ended() const { return result_.has_value(); }
  const std::optional<ChildProgress>& progress() const { return progress_; }
  const std::optional<PortResult>& result() const { return result_; }

 private:
  void ReadPipe();
  void ClosePipe();
  void Relay(const std::string& bytes);
  void End(const PortResult& result);
  PortResult Failed(const std::string& error) const;

  std::string port_;
  Events events_;
  std::unique_ptr<QProcess> process_;
  std::string partial_line_;  // of stderr, not yet complete
  int result_fd_ = -1;        // this process's end of the pipe
  std::unique_ptr<QSocketNotifier> notifier_;
  std::string pipe_text_;  // not yet a whole line
  std::string result_text_;
  std::optional<ChildProgress> progress_;
  std::optional<PortResult> result_;
};

// The child's side of the pipe: a whole line written, and the run's progress
// told now and then (at each new step, else at most five times a second).
void WriteLine(int fd, const std::string& line);
void ReportProgressTo(int fd, OnePortRun& run);

}  // namespace orvane::cli
