#include "cli/several_ports.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QProcess>
#include <QSocketNotifier>
#include <algorithm>
#include <limits>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/port_result.h"
#include "cli/scan.h"
#include "cli/signals.h"

namespace orvane::cli {
namespace {

// One child: its process, the part of a stderr line not yet complete, the
// pipe its progress and result come on, and what it has told so far.
struct Child {
  std::string port;
  std::unique_ptr<QProcess> process;
  std::string partial_line;
  int result_fd = -1;  // the parent's end
  std::unique_ptr<QSocketNotifier> result_notifier;
  std::string pipe_text;   // not yet a whole line
  std::string result_text;
  std::optional<ChildProgress> progress;
  std::optional<PortResult> result;
};

// One line on a terminal for all ports: each port's step and how far it is.
class ProgressOfAll {
 public:
  explicit ProgressOfAll(std::FILE* terminal) : terminal_(terminal) {}
  void Draw(const std::vector<std::unique_ptr<Child>>& children) {
    std::string line;
    for (const auto& child : children) {
      if (!line.empty()) line += "  ";
      line += child->port + " " + StateOf(*child);
    }
    std::fprintf(terminal_, "\r\033[K%s", line.c_str());
    std::fflush(terminal_);
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    std::fprintf(terminal_, "\r\033[K");
    std::fflush(terminal_);
    shown_ = false;
  }

 private:
  static std::string StateOf(const Child& child) {
    if (child.result) return child.result->end == PortResult::End::kDone ? "ok" : "exit " +
                                                                                    std::to_string(ExitStatusOf(*child.result));
    if (!child.progress) return "...";
    const ChildProgress& p = *child.progress;
    const int percent = p.of > 0 ? 100 * p.done / p.of : 0;
    return p.kind + " " + std::to_string(percent) + "%";
  }

  std::FILE* terminal_;
  bool shown_ = false;
};

class Children {
 public:
  Children(const Options& options, const Console& console) : options_(options), console_(console) {
    if (console_.err_is_terminal && !options_.quiet) progress_.emplace(console_.err);
  }
  ~Children() {
    for (auto& child : children_) CloseResultPipe(*child);
  }

  // Every child runs to its end, a signal to this process reaching each of
  // them; the results come in the order of the ports, then a summary.
  int Run(const std::vector<std::string>& ports, const std::string& program) {
    QEventLoop loop;
    SignalWatch stop_signals([this](int signal) { PassOn(signal); });
    left_ = ports.size();
    for (std::size_t i = 0; i < ports.size(); ++i) {
      children_.push_back(std::make_unique<Child>());
      Start(*children_.back(), program, ports[i], i, loop);
    }
    if (left_ > 0) loop.exec();
    if (progress_) progress_->Clear();
    PrintSummary();
    return worst_;
  }

 private:
  void Start(Child& child, const std::string& program, const std::string& port, std::size_t index,
             QEventLoop& loop) {
    child.port = port;
    child.process = std::make_unique<QProcess>();
    QProcess& process = *child.process;
    int pipe_ends[2] = {-1, -1};
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
      End(child, Failed(child, "cannot make a pipe for its result"), loop);
      return;
    }
    child.result_fd = pipe_ends[0];
    const int child_end = pipe_ends[1];
    // Only the child's own end of its pipe stays open across its exec, and
    // the child ends when this process does, however it ends.
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([child_end, parent] {
      ::fcntl(child_end, F_SETFD, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(kExitSignal + SIGTERM);
    });
    child.result_notifier = std::make_unique<QSocketNotifier>(child.result_fd, QSocketNotifier::Read);
    QObject::connect(child.result_notifier.get(), &QSocketNotifier::activated, [this, &child] { ReadPipe(child); });

    QStringList arguments;
    for (const std::string& word : ArgumentsOf(ChildOptions(options_, port, index, child_end))) {
      arguments << QString::fromStdString(word);
    }
    QObject::connect(&process, &QProcess::readyReadStandardError, [this, &child] {
      Relay(child, child.process->readAllStandardError().toStdString());
    });
    QObject::connect(&process, &QProcess::finished, [this, &child, &loop](int code, QProcess::ExitStatus how) {
      End(child, Collected(child, how == QProcess::NormalExit ? code : -1), loop);
    });
    QObject::connect(&process, &QProcess::errorOccurred, [this, &child, &loop](QProcess::ProcessError error) {
      if (error != QProcess::FailedToStart) return;
      End(child, Failed(child, "cannot start " + child.process->program().toStdString()), loop);
    });
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(program), arguments);
    ::close(child_end);
    process.closeWriteChannel();
  }

  void PassOn(int signal) {
    for (const auto& child : children_) {
      if (!child->result && child->process && child->process->processId() > 0) {
        ::kill(static_cast<pid_t>(child->process->processId()), signal);
      }
    }
  }

  // Whole lines: progress now and then, the result last.
  void ReadPipe(Child& child) {
    char buffer[4096];
    const ssize_t got = ::read(child.result_fd, buffer, sizeof buffer);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return CloseResultPipe(child);
    if (got < 0) return;
    child.pipe_text.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = child.pipe_text.find('\n')) != std::string::npos;) {
      const std::string line = child.pipe_text.substr(0, end);
      child.pipe_text.erase(0, end + 1);
      if (auto progress = ParseProgressMessage(line)) {
        child.progress = std::move(progress);
        if (progress_) progress_->Draw(children_);
      } else {
        child.result_text = line;
      }
    }
  }

  static void CloseResultPipe(Child& child) {
    child.result_notifier.reset();
    if (child.result_fd >= 0) ::close(child.result_fd);
    child.result_fd = -1;
  }

  // The child's result line; a child that ended without one failed.
  PortResult Collected(Child& child, int code) {
    while (child.result_fd >= 0) ReadPipe(child);
    if (const auto result = ParseResultLine(child.result_text)) return *result;
    return Failed(child, code < 0 ? "its run was killed" : "its run ended with status " + std::to_string(code) +
                                                               " and no result");
  }

  static PortResult Failed(const Child& child, const std::string& error) {
    PortResult result;
    result.port = child.port;
    result.end = PortResult::End::kLinkFailed;
    result.error = error;
    return result;
  }

  // Whole lines only, each with the port in front, so that lines of
  // different modems never mix.
  void Relay(Child& child, const std::string& bytes) {
    child.partial_line += bytes;
    for (std::size_t end; (end = child.partial_line.find('\n')) != std::string::npos;) {
      if (progress_) progress_->Clear();
      std::fprintf(console_.err, "%s: %s\n", child.port.c_str(), child.partial_line.substr(0, end).c_str());
      std::fflush(console_.err);
      child.partial_line.erase(0, end + 1);
      if (progress_) progress_->Draw(children_);
    }
  }

  void End(Child& child, const PortResult& result, QEventLoop& loop) {
    if (child.process) Relay(child, child.process->readAllStandardError().toStdString());
    if (!child.partial_line.empty()) Relay(child, "\n");
    child.result = result;
    worst_ = std::max(worst_, ExitStatusOf(result));
    PrintReady();
    if (--left_ == 0) loop.exit(worst_);
  }

  // Results in the order the ports were given, each as soon as those before
  // it are out.
  void PrintReady() {
    if (progress_) progress_->Clear();
    for (; printed_ < children_.size() && children_[printed_]->result; ++printed_) {
      std::fputs(FormatPortResult(*children_[printed_]->result, options_.json).c_str(), console_.out);
    }
    std::fflush(console_.out);
    if (progress_ && printed_ < children_.size()) progress_->Draw(children_);
  }

  // "3 ports: 2 done, 1 failed: COM4 (exit 1, Модем не подключен!)" after
  // the tables; JSON lines carry each port's exit and error themselves.
  void PrintSummary() {
    if (options_.json) return;
    std::size_t done = 0;
    std::string failed;
    for (const auto& child : children_) {
      if (!child->result) continue;
      const PortResult& result = *child->result;
      if (result.end == PortResult::End::kDone) {
        ++done;
        continue;
      }
      failed += (failed.empty() ? "" : ", ") + result.port + " (exit " + std::to_string(ExitStatusOf(result)) +
                (result.error.empty() ? "" : ", " + result.error) + ")";
    }
    const std::size_t all = children_.size();
    std::string line = std::to_string(all) + " ports: " + std::to_string(done) + " done";
    if (done < all) line += ", " + std::to_string(all - done) + " failed: " + failed;
    std::fprintf(console_.out, "%s\n", line.c_str());
    std::fflush(console_.out);
  }

  const Options& options_;
  const Console& console_;
  std::optional<ProgressOfAll> progress_;
  std::vector<std::unique_ptr<Child>> children_;
  std::size_t left_ = 0;
  std::size_t printed_ = 0;
  int worst_ = kExitDone;
};

std::string Joined(const std::vector<std::string>& ports) {
  std::string out;
  for (const std::string& port : ports) out += (out.empty() ? "" : ", ") + port;
  return out;
}

}  // namespace

Options ChildOptions(const Options& options, const std::string& port, std::size_t index, int result_fd) {
  Options child = options;
  child.ports = {port};
  child.port = port;
  child.yes = true;
  child.result_fd = result_fd;
  if (options.trace_path) child.trace_path = TracePathFor(*options.trace_path, port);
  if (options.serial_from) {
    child.constants.serial_number = static_cast<std::int32_t>(*options.serial_from + static_cast<long long>(index));
    child.serial_from.reset();
  }
  return child;
}

std::string TracePathFor(const std::string& trace, const std::string& port) {
  std::string name;
  for (std::size_t i = port.starts_with("/") ? 1 : 0; i < port.size(); ++i) {
    switch (port[i]) {
      case '%': name += "%25"; break;
      case '-': name += "%2D"; break;
      case '/': name += '-'; break;
      default: name += port[i];
    }
  }
  return trace + "." + name;
}

int RunOnSeveralPorts(const Options& options, const std::string& program, const Console& console) {
  auto refuse = [&](const std::string& text, int status) { return Refuse(console, options.json, text, status); };
  const std::vector<std::string> ports = options.AllPorts() ? ScanForPorts(options.quiet, console) : options.ports;
  if (ports.empty()) return refuse("--port all: the scan of COM1 to COM16 found no port that opens", kExitLinkFailed);
  if (options.serial_from &&
      *options.serial_from + static_cast<long long>(ports.size()) - 1 > std::numeric_limits<std::int32_t>::max()) {
    return refuse("--serial-from " + std::to_string(*options.serial_from) + " leaves no serial number for the last of " +
                      std::to_string(ports.size()) + " ports",
                  kExitRefused);
  }
  if (const char* warning = SpecOf(options.command).warning; warning && !options.yes) {
    if (!console.in_is_terminal) return refuse("not confirmed: give --yes to run this without a terminal", kExitRefused);
    if (!AskOnTerminal(std::string(warning) + "\n(" + Joined(ports) + ")", console)) {
      return refuse("not confirmed", kExitRefused);
    }
  }
  return Children(options, console).Run(ports, program);
}

}  // namespace orvane::cli
