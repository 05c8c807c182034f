#include "cli/fleet.h"

#include <QEventLoop>
#include <QProcess>
#include <algorithm>
#include <limits>
#include <memory>

#include "cli/input_checks.h"
#include "cli/log_verdict.h"
#include "serial/link_port.h"

namespace orvane::cli {
namespace {

constexpr std::string_view kErrorPrefix = "orvane-cli: ";

const char* CommandWord(Command command) {
  switch (command) {
    case Command::kPorts: return "ports";
    case Command::kStatus: return "status";
    case Command::kPut: return "put";
    case Command::kDelete: return "delete";
    case Command::kErase: return "erase";
    case Command::kFlash: return "flash";
    case Command::kVerify: return "verify";
    case Command::kConstants: return "constants";
  }
  return "status";
}

void AddConstants(const Options& options, std::size_t index, std::vector<std::string>& arguments) {
  const ConstantsChange& c = options.constants;
  if (c.identifier) arguments.insert(arguments.end(), {"--id", *c.identifier});
  for (const NumberField& field : kNumberFields) {
    if (const auto& value = c.*field.target) arguments.insert(arguments.end(), {field.option, std::to_string(*value)});
  }
  if (options.serial_from) {
    arguments.insert(arguments.end(), {"--serial", std::to_string(*options.serial_from + static_cast<long long>(index))});
  }
}

// One child: its process, the part of a stderr line not yet complete, and
// what it has left so far.
struct Child {
  std::unique_ptr<QProcess> process;
  std::string partial_line;
  ChildOutcome outcome;
};

class Fleet {
 public:
  Fleet(const Options& options, const Console& console) : options_(options), console_(console) {}

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
    child.outcome.port = port;
    child.process = std::make_unique<QProcess>();
    QProcess& process = *child.process;
    QStringList arguments;
    for (const std::string& argument : ChildArguments(options_, port, index)) {
      arguments << QString::fromStdString(argument);
    }
    QObject::connect(&process, &QProcess::readyReadStandardError, [this, &child] {
      Relay(child, child.process->readAllStandardError().toStdString());
    });
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [&child] { child.outcome.out += child.process->readAllStandardOutput().toStdString(); });
    QObject::connect(&process, &QProcess::finished, [this, &child, &loop](int code, QProcess::ExitStatus how) {
      End(child, how == QProcess::NormalExit ? code : kExitLinkFailed, loop);
    });
    QObject::connect(&process, &QProcess::errorOccurred, [this, &child, &loop](QProcess::ProcessError error) {
      if (error != QProcess::FailedToStart) return;
      child.outcome.error = "cannot start " + child.process->program().toStdString();
      End(child, kExitLinkFailed, loop);
    });
    process.start(QString::fromStdString(program), arguments);
    process.closeWriteChannel();
  }

  // Whole lines only, each with the port in front, so that lines of
  // different modems never mix.
  void Relay(Child& child, const std::string& bytes) {
    child.partial_line += bytes;
    for (std::size_t end; (end = child.partial_line.find('\n')) != std::string::npos;) {
      WriteLine(child, child.partial_line.substr(0, end));
      child.partial_line.erase(0, end + 1);
    }
  }

  // The tool's own explanation wins; of the log lines the first failure
  // counts, since the ones after it follow from it.
  void WriteLine(Child& child, const std::string& line) {
    const auto error = ErrorOfLine(line);
    if (error && (line.starts_with(kErrorPrefix) || child.outcome.error.empty())) child.outcome.error = *error;
    std::fprintf(console_.err, "%s: %s\n", child.outcome.port.c_str(), line.c_str());
    std::fflush(console_.err);
  }

  // A child that could not start gets no finished signal, only its error.
  void End(Child& child, int status, QEventLoop& loop) {
    child.outcome.out += child.process->readAllStandardOutput().toStdString();
    Relay(child, child.process->readAllStandardError().toStdString());
    if (!child.partial_line.empty()) Relay(child, "\n");
    child.outcome.status = status;
    worst_ = std::max(worst_, status);
    std::fputs(FormatOutcome(child.outcome, options_.json).c_str(), console_.out);
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

// The scan of `orvane-cli ports`, its log lines on stderr.
std::vector<std::string> FoundPorts(bool quiet, const Console& console) {
  serial::TSerialComm comm;
  serial::SimplePortChoice choice;
  auto log = [&](const std::string& line) {
    if (!quiet) std::fprintf(console.err, "%s\n", line.c_str());
  };
  serial::LinkPort link_port(&comm, choice, {.append_log = log, .clear_queue = nullptr, .rearm_watchdog = nullptr});
  link_port.ScanPorts();
  return choice.List();
}

}  // namespace

std::vector<std::string> ChildArguments(const Options& options, const std::string& port, std::size_t index) {
  std::vector<std::string> arguments{"--port=" + port, "--yes"};
  if (options.json) arguments.push_back("--json");
  if (options.quiet) arguments.push_back("--quiet");
  if (options.trace_path) arguments.push_back("--trace=" + TracePathFor(*options.trace_path, port));
  arguments.push_back(CommandWord(options.command));
  if (options.command == Command::kConstants) AddConstants(options, index, arguments);
  if (options.command == Command::kDelete) arguments.push_back(std::to_string(options.file_number));
  if (options.command == Command::kPut || options.command == Command::kFlash || options.command == Command::kVerify) {
    arguments.insert(arguments.end(), {"--", options.path});
  }
  return arguments;
}

std::string TracePathFor(const std::string& trace, const std::string& port) {
  std::string name = port;
  if (name.starts_with("/")) name.erase(0, 1);
  std::replace(name.begin(), name.end(), '/', '-');
  return trace + "." + name;
}

std::optional<std::string> ErrorOfLine(const std::string& line) {
  if (line.starts_with(kErrorPrefix)) return line.substr(kErrorPrefix.size());
  if (JudgeLogLine(line) == LogVerdict::kLinkFailed) return line;
  return std::nullopt;
}

std::string FormatOutcome(const ChildOutcome& outcome, bool json) {
  if (json) {
    Json result = {{"port", outcome.port}, {"exit", outcome.status}};
    const Json own = Json::parse(outcome.out, nullptr, false);
    if (own.is_object()) {
      for (const auto& [key, value] : own.items()) result[key] = value;
    }
    if (outcome.status != kExitDone && !outcome.error.empty()) result["error"] = outcome.error;
    return DumpJson(result) + "\n";
  }
  std::string heading = "== " + outcome.port;
  if (outcome.status != kExitDone) {
    heading += ": exit " + std::to_string(outcome.status) + (outcome.error.empty() ? "" : ", " + outcome.error);
  }
  return heading + " ==\n" + outcome.out;
}

int RunFleet(const Options& options, const std::vector<std::string>& ports, const std::string& program,
             const Console& console) {
  return Fleet(options, console).Run(ports, program);
}

int RunOnSeveralPorts(const Options& options, const std::string& program, const Console& console) {
  auto refuse = [&console](const std::string& text, int status) {
    std::fprintf(console.err, "orvane-cli: %s\n", text.c_str());
    return status;
  };
  const std::vector<std::string> ports = options.AllPorts() ? FoundPorts(options.quiet, console) : options.ports;
  if (ports.empty()) return refuse("--port all: the scan of COM1 to COM16 found no port that opens", kExitLinkFailed);
  if (const auto refusal = CheckFileToSend(options.command, options.path)) return refuse(*refusal, kExitRefused);
  if (options.serial_from &&
      *options.serial_from + static_cast<long long>(ports.size()) - 1 > std::numeric_limits<std::int32_t>::max()) {
    return refuse("--serial-from " + std::to_string(*options.serial_from) + " leaves no serial number for the last of " +
                      std::to_string(ports.size()) + " ports",
                  kExitRefused);
  }
  if (const char* warning = WarningOf(options.command); warning && !options.yes) {
    if (!console.in_is_terminal) return refuse("not confirmed: give --yes to run this without a terminal", kExitRefused);
    if (!AskOnTerminal(std::string(warning) + "\n(" + Joined(ports) + ")", console)) {
      return refuse("not confirmed", kExitRefused);
    }
  }
  return RunFleet(options, ports, program, console);
}

}  // namespace orvane::cli
