#include "cli/several_ports.h"

#include <fcntl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QProcess>
#include <QSocketNotifier>
#include <algorithm>
#include <limits>
#include <memory>

#include "cli/commands.h"
#include "cli/port_result.h"
#include "cli/scan.h"

namespace orvane::cli {
namespace {

// One child: its process, the part of a stderr line not yet complete, and
// the pipe its result comes on.
struct Child {
  std::string port;
  std::unique_ptr<QProcess> process;
  std::string partial_line;
  int result_fd = -1;  // the parent's end
  std::unique_ptr<QSocketNotifier> result_notifier;
  std::string result_text;
};

class Children {
 public:
  Children(const Options& options, const Console& console) : options_(options), console_(console) {}
  ~Children() {
    for (auto& child : children_) CloseResultPipe(*child);
  }

  int Run(const std::vector<std::string>& ports, const std::string& program) {
    QEventLoop loop;
    left_ = ports.size();
    for (std::size_t i = 0; i < ports.size(); ++i) {
      children_.push_back(std::make_unique<Child>());
      Start(*children_.back(), program, ports[i], i, loop);
    }
    if (left_ > 0) loop.exec();
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
    // Only the child's own end of its pipe stays open across its exec.
    process.setChildProcessModifier([child_end] { ::fcntl(child_end, F_SETFD, 0); });
    child.result_notifier = std::make_unique<QSocketNotifier>(child.result_fd, QSocketNotifier::Read);
    QObject::connect(child.result_notifier.get(), &QSocketNotifier::activated, [this, &child] { ReadResult(child); });

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

  void ReadResult(Child& child) {
    char buffer[4096];
    const ssize_t got = ::read(child.result_fd, buffer, sizeof buffer);
    if (got > 0) {
      child.result_text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      CloseResultPipe(child);
    }
  }

  static void CloseResultPipe(Child& child) {
    child.result_notifier.reset();
    if (child.result_fd >= 0) ::close(child.result_fd);
    child.result_fd = -1;
  }

  // The child's result line; a child that ended without one failed.
  PortResult Collected(Child& child, int code) {
    while (child.result_fd >= 0) ReadResult(child);
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
      std::fprintf(console_.err, "%s: %s\n", child.port.c_str(), child.partial_line.substr(0, end).c_str());
      std::fflush(console_.err);
      child.partial_line.erase(0, end + 1);
    }
  }

  void End(Child& child, const PortResult& result, QEventLoop& loop) {
    if (child.process) Relay(child, child.process->readAllStandardError().toStdString());
    if (!child.partial_line.empty()) Relay(child, "\n");
    worst_ = std::max(worst_, ExitStatusOf(result));
    std::fputs(FormatPortResult(result, options_.json).c_str(), console_.out);
    std::fflush(console_.out);
    if (--left_ == 0) loop.exit(worst_);
  }

  const Options& options_;
  const Console& console_;
  std::vector<std::unique_ptr<Child>> children_;
  std::size_t left_ = 0;
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
