#include "cli/several_ports.h"

#include <QEventLoop>
#include <algorithm>
#include <limits>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/port_child.h"
#include "cli/port_result.h"
#include "cli/progress.h"
#include "cli/scan.h"
#include "cli/signals.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

// One line on a terminal for all ports: each port's step and how far it is.
class ProgressOfAll {
 public:
  explicit ProgressOfAll(std::FILE* terminal) : line_(terminal) {}
  void Draw(const std::vector<std::unique_ptr<PortChild>>& children) {
    std::string line;
    for (const auto& child : children) {
      if (!line.empty()) line += "  ";
      line += child->port() + " " + StateOf(*child);
    }
    line_.Show(line);
  }
  void Clear() { line_.Clear(); }

 private:
  static std::string StateOf(const PortChild& child) {
    if (child.result()) {
      return child.result()->end.done() ? "ok" : "exit " + std::to_string(ExitStatusOf(*child.result()));
    }
    if (!child.progress()) return "...";
    const ChildProgress& p = *child.progress();
    const int percent = p.of > 0 ? 100 * p.done / p.of : 0;
    return p.kind + " " + std::to_string(percent) + "%";
  }

  TerminalLine line_;
};

class Children {
 public:
  Children(const Options& options, const Console& console, bool print) : options_(options), console_(console), print_(print) {
    if (console_.err_is_terminal && !options_.quiet) progress_.emplace(console_.err);
  }

  // Every child runs to its end, a signal to this process reaching each of
  // them; the results come in the order of the ports, then a summary.
  std::vector<ChildEnd> Run(const std::vector<std::string>& ports, const std::string& program) {
    QEventLoop loop;
    SignalWatch stop_signals([this](int signal) { PassOn(signal); });
    left_ = ports.size();
    ends_.resize(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
      children_.push_back(std::make_unique<PortChild>(ports[i], Events(i, loop)));
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
      children_[i]->Start(program, ChildOptions(options_, ports[i], i, -1), false);
    }
    if (left_ > 0) loop.exec();
    if (progress_) progress_->Clear();
    if (print_) PrintSummary();
    return ends_;
  }

 private:
  PortChild::Events Events(std::size_t index, QEventLoop& loop) {
    return {
        .log_line = [this, index](const std::string& line) { Relay(*children_[index], line); },
        .progress = [this](const ChildProgress&) { if (progress_) progress_->Draw(children_); },
        .ended = [this, index, &loop](const PortResult& result, const std::string& line) {
          ends_[index] = {result, line};
          worst_ = std::max(worst_, ExitStatusOf(result));
          PrintReady();
          if (--left_ == 0) loop.exit(worst_);
        },
    };
  }

  void PassOn(int signal) {
    for (const auto& child : children_) child->Signal(signal);
  }

  // Each line with the port in front.
  void Relay(const PortChild& child, const std::string& line) {
    if (progress_) progress_->Clear();
    std::fprintf(console_.err, "%s: %s\n", child.port().c_str(), line.c_str());
    std::fflush(console_.err);
    if (progress_) progress_->Draw(children_);
  }

  // Results in the order the ports were given, each as soon as those before
  // it are out.
  void PrintReady() {
    if (progress_) progress_->Clear();
    for (; printed_ < children_.size() && children_[printed_]->result(); ++printed_) {
      if (print_) std::fputs(FormatPortResult(*children_[printed_]->result(), options_.json).c_str(), console_.out);
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
      if (!child->result()) continue;
      const PortResult& result = *child->result();
      if (result.end.done()) {
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
  bool print_;
  std::optional<ProgressOfAll> progress_;
  std::vector<std::unique_ptr<PortChild>> children_;
  std::vector<ChildEnd> ends_;
  std::size_t left_ = 0;
  std::size_t printed_ = 0;
  int worst_ = kExitDone;
};

}  // namespace

std::string PortList(const std::vector<std::string>& ports) {
  std::string out;
  for (const std::string& port : ports) out += (out.empty() ? "" : ", ") + port;
  return out;
}

Options ChildOptions(const Options& options, const std::string& port, std::size_t index, int result_fd) {
  Options child = options;
  child.ports = {port};
  child.port = port;
  child.yes = true;
  child.result_fd = result_fd;
  child.watch = false;
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
  auto refuse = [&](const std::string& text, const RunEnding& end) { return Refuse(console, options.json, text, end); };
  const std::vector<std::string> ports = PortsGiven(options, console);
  if (ports.empty()) return refuse(NoPortFoundForAll(), RunEnding::Failed());
  if (options.serial_from &&
      *options.serial_from + static_cast<long long>(ports.size()) - 1 > std::numeric_limits<std::int32_t>::max()) {
    return refuse(l10n::Format(l10n::Tr("--serial-from %1$lld leaves no serial number for the last of %2$zu ports"),
                               static_cast<long long>(*options.serial_from), ports.size()),
                  RunEnding::Refused());
  }
  if (const char* warning = SpecOf(options.command).warning) {
    if (auto declined = Confirm(std::string(warning) + "\n(" + PortList(ports) + ")", options.yes, console)) {
      return refuse(*declined, RunEnding::Refused());
    }
  }
  const std::vector<ChildEnd> ends = Children(options, console, true).Run(ports, program);
  int worst = kExitDone;
  for (const ChildEnd& end : ends) worst = std::max(worst, ExitStatusOf(end.result));
  return worst;
}

std::vector<ChildEnd> RunChildren(const Options& options, const std::vector<std::string>& ports,
                                  const std::string& program, const Console& console) {
  return Children(options, console, false).Run(ports, program);
}

}  // namespace orvane::cli
