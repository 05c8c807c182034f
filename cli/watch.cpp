#include "cli/watch.h"

#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "cli/port_child.h"
#include "cli/signals.h"
#include "serial/port_names.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

using l10n::Format;
using l10n::Tr;
using l10n::TrN;

// A port that appears is opened this long after, once the system has set
// its permissions; events in the folder are gathered this long.
constexpr int kSettleMs = 300;
constexpr int kGatherMs = 50;
// The folder is also looked at this often, in case an event was missed.
constexpr int kRescanMs = 1000;
constexpr int kRedrawMs = 100;

bool PortPresent(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

struct Slot {
  enum class State { kUnseen, kWaiting, kRunning, kDone, kFailed };
  std::string port, path;
  bool present = false;
  bool again = false;  // came back while its job still ran
  State state = State::kUnseen;
  std::unique_ptr<PortChild> child;
  std::unique_ptr<QTimer> settle;
  std::optional<ChildProgress> progress;
  std::optional<std::size_t> step_told;
  ProvisionRow row;  // the last job's end
};

class WatchSession {
 public:
  WatchSession(const Options& options, const Console& console, std::string program)
      : options_(options), console_(console), program_(std::move(program)) {
    screen_ = console_.out_is_terminal && !options_.json;
    const char* folder = std::getenv("ORVANE_PORT_DIR");
    const int first = folder && *folder ? serial::kFirstPortNumber : 5;
    for (int n = first; n <= serial::kLastPortNumber; ++n) {
      Slot slot;
      slot.port = "COM" + std::to_string(n);
      slot.path = serial::DeviceFileForPort(slot.port);
      slots_.push_back(std::move(slot));
    }
  }

  ~WatchSession() {
    if (inotify_ >= 0) ::close(inotify_);
  }

  std::optional<std::string> Open() {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) return std::string(Tr("cannot watch for ports: inotify is not available"));
    std::set<std::string> folders;
    for (const Slot& slot : slots_) folders.insert(std::filesystem::path(slot.path).parent_path().string());
    for (const std::string& folder : folders) {
      if (::inotify_add_watch(inotify_, folder.c_str(),
                              IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB) < 0) {
        return Format(Tr("cannot watch the folder \"%1$s\" for ports: %2$s"), folder.c_str(), std::strerror(errno));
      }
      folders_ += (folders_.empty() ? "" : ", ") + folder;
    }
    return std::nullopt;
  }

  int Run(const std::string& job) {
    QEventLoop loop;
    loop_ = &loop;
    SignalWatch stop_signals([this](int signal) { Stop(signal); });
    QSocketNotifier notifier(inotify_, QSocketNotifier::Read);
    QTimer gather, rescan, redraw;
    gather.setSingleShot(true);
    QObject::connect(&gather, &QTimer::timeout, [this] { Rescan(); });
    QObject::connect(&notifier, &QSocketNotifier::activated, [this, &gather] {
      char events[4096];
      while (::read(inotify_, events, sizeof events) > 0) {
      }
      if (!gather.isActive()) gather.start(kGatherMs);
    });
    QObject::connect(&rescan, &QTimer::timeout, [this] { Rescan(); });
    rescan.start(kRescanMs);
    QObject::connect(&redraw, &QTimer::timeout, [this] {
      if (dirty_) Draw();
    });
    if (screen_) redraw.start(kRedrawMs);

    Say(Format(Tr("watching %1$s for %2$s to %3$s: provision %4$s; Ctrl-C stops"), folders_.c_str(),
               slots_.front().port.c_str(), slots_.back().port.c_str(), job.c_str()));
    Rescan();
    loop.exec();
    if (screen_) Draw();
    PrintTotals();
    return worst_;
  }

 private:
  void Rescan() {
    for (Slot& slot : slots_) {
      const bool present = PortPresent(slot.path);
      if (present == slot.present) continue;
      slot.present = present;
      if (present) {
        Appeared(slot);
      } else {
        slot.settle.reset();
        if (slot.state == Slot::State::kWaiting) slot.state = Slot::State::kUnseen;
        Event(slot, Tr("gone"));
      }
    }
  }

  void Appeared(Slot& slot) {
    if (stopping_) return;
    if (slot.child && !slot.child->ended()) {
      slot.again = true;
      return;
    }
    slot.state = Slot::State::kWaiting;
    Event(slot, Tr("waiting"));
    slot.settle = std::make_unique<QTimer>();
    slot.settle->setSingleShot(true);
    QObject::connect(slot.settle.get(), &QTimer::timeout, [this, &slot] { StartJob(slot); });
    slot.settle->start(kSettleMs);
  }

  void StartJob(Slot& slot) {
    slot.settle.reset();
    if (stopping_ || !slot.present) return;
    slot.state = Slot::State::kRunning;
    slot.progress.reset();
    slot.step_told.reset();
    slot.again = false;
    ++started_;
    Event(slot, Tr("started"));
    Options child = ChildOptions(options_, slot.port, 0, -1);
    child.quiet = options_.quiet || screen_;
    slot.child = std::make_unique<PortChild>(
        slot.port, PortChild::Events{
                       .log_line = [this, &slot](const std::string& line) { Above(slot.port + ": " + line); },
                       .progress = [this, &slot](const ChildProgress& progress) { Progressed(slot, progress); },
                       .ended = [this, &slot](const PortResult& result,
                                              const std::string& line) { Ended(slot, result, line); },
                   });
    slot.child->Start(program_, child, true);
  }

  void Progressed(Slot& slot, const ChildProgress& progress) {
    slot.progress = progress;
    dirty_ = true;
    if (slot.step_told != progress.step) {
      slot.step_told = progress.step;
      Event(slot, Format(Tr("step %1$zu/%2$zu %3$s"), progress.step + 1, progress.steps, Tr(progress.kind.c_str())));
    }
  }

  void Ended(Slot& slot, const PortResult& result, const std::string& line) {
    slot.row = RowOf(ChildEnd{result, line});
    slot.state = result.end == PortResult::End::kDone ? Slot::State::kDone : Slot::State::kFailed;
    worst_ = std::max(worst_, slot.row.exit);
    rows_.push_back(slot.row);
    if (options_.json) {
      std::fputs(ProvisionJsonLine(slot.row).c_str(), console_.out);
      std::fflush(console_.out);
    }
    Event(slot, StateText(slot));
    // Deleted once this event is over: it is the child's own callback.
    QTimer::singleShot(0, loop_, [this, &slot] {
      if (slot.child && slot.child->ended()) slot.child.reset();
      if (slot.again && slot.present && !stopping_) Appeared(slot);
      slot.again = false;
      if (stopping_ && Running() == 0) loop_->exit();
    });
  }

  // The first Ctrl-C lets the running jobs end; a second one, or SIGTERM
  // or SIGHUP, stops them.
  void Stop(int signal) {
    const bool first = !stopping_ && signal == SIGINT;
    stopping_ = true;
    for (Slot& slot : slots_) {
      slot.settle.reset();
      if (slot.state == Slot::State::kWaiting) slot.state = Slot::State::kUnseen;
    }
    const std::size_t running = Running();
    if (running == 0) return loop_->exit();
    if (first) {
      Say(Format(TrN("stopping: no new job starts; waiting for %zu job to end (Ctrl-C again stops it)",
                     "stopping: no new job starts; waiting for %zu jobs to end (Ctrl-C again stops them)", running),
                 running));
      return;
    }
    Say(Format(TrN("stopping %1$zu job (%2$s)", "stopping %1$zu jobs (%2$s)", running), running,
               SignalName(signal).c_str()));
    for (Slot& slot : slots_) {
      if (slot.child) slot.child->Signal(signal);
    }
  }

  std::size_t Running() const {
    return static_cast<std::size_t>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& slot) {
      return slot.child && !slot.child->ended();
    }));
  }

  static std::string StateText(const Slot& slot) {
    switch (slot.state) {
      case Slot::State::kUnseen: return "";
      case Slot::State::kWaiting: return Tr("waiting");
      case Slot::State::kRunning: {
        if (!slot.progress) return Tr("connecting");
        const ChildProgress& p = *slot.progress;
        const int percent = p.of > 0 ? 100 * p.done / p.of : 0;
        return Format(Tr("step %1$zu/%2$zu %3$s %4$d%%"), p.step + 1, p.steps, Tr(p.kind.c_str()), percent);
      }
      case Slot::State::kDone:
        return Format(Tr("done, serial %s"), slot.row.serial ? std::to_string(*slot.row.serial).c_str() : "-");
      case Slot::State::kFailed:
        return Format(Tr("%1$s (exit %2$d)"), Tr(slot.row.result), slot.row.exit) +
               (slot.row.reason.empty() ? "" : ": " + slot.row.reason);
    }
    return "";
  }

  std::string LineOf(const Slot& slot) const {
    std::string state = StateText(slot);
    if (!slot.present && (slot.state == Slot::State::kDone || slot.state == Slot::State::kFailed)) {
      state = Format(Tr("waiting (last: %s)"), state.c_str());
    } else if (slot.state == Slot::State::kUnseen) {
      state = Tr("waiting");
    }
    std::string port = slot.port;
    port.resize(std::max<std::size_t>(port.size(), 6), ' ');
    return port + state;
  }

  // A line for the screen's head or the event stream.
  void Say(const std::string& text) {
    if (options_.json) return;
    if (!screen_) {
      std::fprintf(console_.out, "%s\n", text.c_str());
      std::fflush(console_.out);
      return;
    }
    Above(text);
  }

  void Event(Slot& slot, const std::string& text) {
    dirty_ = true;
    if (slot.state != Slot::State::kUnseen || !text.empty()) shown_.insert(slot.port);
    if (screen_ || options_.json) return;
    std::fprintf(console_.out, "%s: %s\n", slot.port.c_str(), text.c_str());
    std::fflush(console_.out);
  }

  // A line that stays, written above the screen's port lines.
  void Above(const std::string& line) {
    if (!screen_) {
      std::fprintf(console_.err, "%s\n", line.c_str());
      std::fflush(console_.err);
      return;
    }
    Erase();
    std::fprintf(console_.out, "%s\n", line.c_str());
    Draw();
  }

  void Erase() {
    if (drawn_ > 0) std::fprintf(console_.out, "\033[%zuA\r\033[J", drawn_);
    drawn_ = 0;
  }

  void Draw() {
    Erase();
    for (const Slot& slot : slots_) {
      if (!shown_.contains(slot.port)) continue;
      std::fprintf(console_.out, "%s\033[K\n", LineOf(slot).c_str());
      ++drawn_;
    }
    std::fflush(console_.out);
    dirty_ = false;
  }

  // "3 jobs: 2 done, 1 failed, 0 interrupted; serial numbers 100 to 101",
  // then each one that did not end done.
  void PrintTotals() {
    if (options_.json) return;
    std::size_t done = 0, interrupted = 0;
    std::vector<std::int64_t> serials;
    std::string failed;
    for (const ProvisionRow& row : rows_) {
      if (row.serial && row.exit == kExitDone) serials.push_back(*row.serial);
      if (row.exit == kExitDone) {
        ++done;
      } else if (std::string(row.result) == "interrupted") {
        ++interrupted;
      } else {
        failed += "\n  " + row.port + " (" + Format(Tr("exit %d"), row.exit) + (row.reason.empty() ? "" : ", " + row.reason) +
                  ")";
      }
    }
    const std::size_t all = rows_.size();
    std::string line = Format(TrN("%1$zu job: %2$zu done, %3$zu failed, %4$zu interrupted",
                                  "%1$zu jobs: %2$zu done, %3$zu failed, %4$zu interrupted", all),
                              all, done, all - done - interrupted, interrupted);
    std::sort(serials.begin(), serials.end());
    if (serials.size() == 1) {
      line += Format(Tr("; serial number given: %lld"), static_cast<long long>(serials.front()));
    } else if (!serials.empty()) {
      line += Format(Tr("; serial numbers given: %1$lld to %2$lld"), static_cast<long long>(serials.front()),
                     static_cast<long long>(serials.back()));
    }
    std::fprintf(console_.out, "%s%s\n", line.c_str(), failed.c_str());
    std::fflush(console_.out);
  }

  const Options& options_;
  const Console& console_;
  std::string program_;
  bool screen_ = false;
  int inotify_ = -1;
  std::string folders_;
  std::vector<Slot> slots_;
  std::set<std::string> shown_;
  std::vector<ProvisionRow> rows_;
  QEventLoop* loop_ = nullptr;
  bool stopping_ = false;
  bool dirty_ = false;
  std::size_t drawn_ = 0;
  std::size_t started_ = 0;
  int worst_ = kExitDone;
};

}  // namespace

int RunWatch(const Options& options, const Console& console, const std::string& program, PreparedJob& prepared) {
  prepared.store.reset();  // each child keeps its own record
  WatchSession session(options, console, program);
  if (auto error = session.Open()) return Refuse(console, options.json, *error, kExitRefused);
  return session.Run(options.path);
}

}  // namespace orvane::cli
