#include "cli/watch.h"

#include <signal.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "cli/messages.h"
#include "cli/signals.h"
#include "cli/several_ports.h"
#include "cli/station_view.h"
#include "cli/trace.h"
#include "l10n/l10n.h"
#include "serial/adapters.h"
#include "serial/connection.h"
#include "serial/port_names.h"
#include "station/bench.h"
#include "station/station_engine.h"

namespace orvane::cli {
namespace {

using l10n::Format;
using l10n::Tr;
using l10n::TrN;
using station::LineState;
using station::UnitEnd;

constexpr int kRedrawMs = 100;

ProvisionRow RowOf(const UnitEnd& end, const std::string& name) {
  ProvisionRow row{name, end.ending, end.serial, {}, end.holds};
  if (!end.ending.done()) row.reason = end.reason;
  return row;
}

int WorstExit(const std::vector<ProvisionRow>& rows) {
  int worst = kExitDone;
  for (const ProvisionRow& row : rows) worst = std::max(worst, ExitStatusOf(row.end));
  return worst;
}

std::string EndText(const ProvisionRow& row) {
  const std::string reason = RowReason(row);
  return Format(Tr("%1$s (exit %2$d)"), station::ResultWords(row.end).c_str(), ExitStatusOf(row.end)) +
         (reason.empty() ? "" : ": " + reason);
}

class StationRun {
 public:
  StationRun(const Options& options, const Console& console, WatchedBench bench)
      : options_(options),
        console_(console),
        bench_(std::move(bench)),
        ports_(NamesOf(bench_.positions)),
        latest_(ports_.size(), LineState::kNoModem),
        view_(options.watch ? console.out : console.err, console.err, ports_,
              options.watch ? console.out_is_terminal && !options.json : console.err_is_terminal && !options.quiet,
              options.json || !options.watch, options.quiet || (options.watch && console.out_is_terminal)) {}

  int Run(std::shared_ptr<const station::JobSnapshot> snapshot) {
    QEventLoop loop;
    QObject::connect(&engine_, &station::StationEngine::PositionChanged,
                     [this](const station::PositionEvent& event) {
                       latest_[event.position] = event.state;
                       view_.Event(event);
                     });
    QObject::connect(&engine_, &station::StationEngine::LogLine,
                     [this](std::size_t position, const std::string& line) { view_.Log(position, line); });
    QObject::connect(&engine_, &station::StationEngine::UnitEnded, [this](const UnitEnd& end) { Ended(end); });
    QObject::connect(&engine_, &station::StationEngine::SessionEnded, &loop, [&loop] { loop.exit(); });
    SignalWatch stop_signals([this](int signal) { Stop(signal); });
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, [this] { view_.Redraw(); });
    redraw.start(kRedrawMs);

    if (options_.watch) view_.Say(Head());
    station::EngineOptions engine_options;
    engine_options.station = bench_.station;
    engine_options.once = !options_.watch;
    engine_options.no_modem_wait = std::chrono::milliseconds(serial::Connection::kWatchdogMs);
    engine_options.version = ORVANE_VERSION;
    if (options_.trace_path) {
      engine_options.trace_path = [trace = *options_.trace_path, several = bench_.positions.size() > 1](const std::string& port) {
        return several ? TracePathFor(trace, port) : trace;
      };
    }
    if (auto refused = engine_.Start(bench_.positions, std::move(snapshot), *options_.db, engine_options)) {
      view_.Close();
      return Refuse(console_, options_.json, *refused, RunEnding::Refused());
    }
    if (!engine_.ended()) loop.exec();
    view_.Close();
    return Finish();
  }

 private:
  static std::vector<std::string> NamesOf(const std::vector<station::StationPosition>& positions) {
    std::vector<std::string> names;
    for (const auto& position : positions) names.push_back(position.name.empty() ? position.port : position.name);
    return names;
  }

  std::string Head() const {
    if (ports_.empty()) return Format(Tr("no position to watch: provision %s"), options_.path.c_str());
    std::set<std::string> folders;
    for (const auto& position : bench_.positions) {
      folders.insert(std::filesystem::path(serial::DeviceFileForPort(position.port)).parent_path().string());
    }
    std::string list;
    for (const std::string& folder : folders) list += (list.empty() ? "" : ", ") + folder;
    return Format(Tr("watching %1$s for %2$s to %3$s: provision %4$s; Ctrl-C stops"), list.c_str(),
                  ports_.front().c_str(), ports_.back().c_str(), options_.path.c_str());
  }

  void Ended(const UnitEnd& end) {
    const ProvisionRow row = RowOf(end, ports_.at(end.position));
    rows_.push_back(row);
    if (options_.watch && options_.json) {
      std::fputs(ProvisionJsonLine(row).c_str(), console_.out);
      std::fflush(console_.out);
    }
    station::PositionEvent event;
    event.position = end.position;
    event.state = end.state;
    event.serial = end.serial;
    view_.Event(event, EndText(row));
  }

  std::size_t Running() const {
    std::size_t running = 0;
    for (LineState state : latest_) running += state == LineState::kRunning;
    return running;
  }

  // With --watch the first Ctrl-C lets the running jobs end; a second one,
  // or SIGTERM or SIGHUP, stops them. A run on given ports stops at once.
  void Stop(int signal) {
    const bool first = !stopping_ && signal == SIGINT && options_.watch;
    stopping_ = true;
    if (first) {
      const std::size_t running = Running();
      if (running > 0 && !options_.json) {
        view_.Say(Format(TrN("stopping: no new job starts; waiting for %zu job to end (Ctrl-C again stops it)",
                             "stopping: no new job starts; waiting for %zu jobs to end (Ctrl-C again stops them)",
                             running),
                         running));
      }
      return engine_.StopNewJobs();
    }
    if (options_.watch && !options_.json) {
      const std::size_t running = Running();
      view_.Say(Format(TrN("stopping %1$zu job (%2$s)", "stopping %1$zu jobs (%2$s)", running), running,
                       SignalName(signal).c_str()));
    }
    engine_.StopRunning(signal, StoppedBy(signal));
  }

  int Finish() {
    if (!options_.watch) return PrintRowsInPortOrder();
    if (!options_.json) PrintTotals();
    return WorstExit(rows_);
  }

  int PrintRowsInPortOrder() {
    std::vector<ProvisionRow> rows;
    for (const std::string& port : ports_) {
      for (const ProvisionRow& row : rows_) {
        if (row.port == port) rows.push_back(row);
      }
    }
    std::string text;
    if (options_.json) {
      for (const ProvisionRow& row : rows) text += ProvisionJsonLine(row);
    } else {
      text = FormatProvisionTable(rows);
    }
    std::fputs(text.c_str(), console_.out);
    std::fflush(console_.out);
    return WorstExit(rows);
  }

  // "3 jobs: 2 done, 1 failed, 0 interrupted; serial numbers 100 to 101",
  // then each one that did not end done.
  void PrintTotals() {
    const station::SessionTotals& totals = engine_.totals();
    std::string failed;
    for (const ProvisionRow& row : rows_) {
      if (row.end.done() || row.end.kind == RunEnding::Kind::kInterrupted) continue;
      const std::string reason = RowReason(row);
      failed += "\n  " + row.port + " (" + Format(Tr("exit %d"), ExitStatusOf(row.end)) +
                (reason.empty() ? "" : ", " + reason) + ")";
    }
    const std::size_t all = totals.done + totals.failed + totals.interrupted;
    std::string line = Format(TrN("%1$zu job: %2$zu done, %3$zu failed, %4$zu interrupted",
                                  "%1$zu jobs: %2$zu done, %3$zu failed, %4$zu interrupted", all),
                              all, totals.done, totals.failed, totals.interrupted);
    const std::vector<std::int64_t>& serials = engine_.totals().serials;
    if (serials.size() == 1) {
      line += Format(Tr("; serial number given: %lld"), static_cast<long long>(serials.front()));
    } else if (!serials.empty()) {
      line += Format(Tr("; serial numbers given: %1$lld to %2$lld"), static_cast<long long>(serials.front()),
                     static_cast<long long>(serials.back()));
    }
    if (totals.already_done > 0) {
      line += Format(TrN("; %zu unit already done left alone", "; %zu units already done left alone",
                         totals.already_done),
                     totals.already_done);
    }
    std::fprintf(console_.out, "%s%s\n", line.c_str(), failed.c_str());
    std::fflush(console_.out);
  }

  const Options& options_;
  const Console& console_;
  WatchedBench bench_;
  std::vector<std::string> ports_;  // the positions' names, as lines and rows show them
  std::vector<LineState> latest_;  // each position's line state
  StationView view_;
  station::StationEngine engine_;
  std::vector<ProvisionRow> rows_;
  bool stopping_ = false;
};

}  // namespace

namespace {

// A position held by its socket is opened through the socket's by-path
// link, which follows the adapter to whichever device it gets.
std::string Resolved(const std::string& path) {
  std::error_code error;
  const auto canonical = std::filesystem::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

// The COMn names under the port folder that are no adapter of the bench;
// one whose file is there but refuses the settings is left out.
std::vector<std::string> OtherComPorts(const std::vector<serial::PortInfo>& adapters,
                                       std::vector<serial::LeftOut>& left_out) {
  const char* folder = std::getenv("ORVANE_PORT_DIR");
  const int first = folder && *folder ? serial::kFirstPortNumber : 5;
  std::set<std::string> taken;
  for (const serial::PortInfo& adapter : adapters) taken.insert(Resolved(adapter.device));
  std::vector<std::string> ports;
  for (int n = first; n <= serial::kLastPortNumber; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const std::string device = serial::DeviceFileForPort(name);
    if (taken.contains(Resolved(device))) continue;
    std::error_code error;
    if (std::filesystem::exists(device, error)) {
      const serial::LineCheck check = serial::CheckLineSettings(device);
      if (check == serial::LineCheck::kNotSerial || check == serial::LineCheck::kRefusesSettings) {
        left_out.push_back({serial::DescribePort(name), check});
        continue;
      }
    }
    ports.push_back(name);
  }
  return ports;
}

}  // namespace

station::Outcome<WatchedBench> WatchedPositions(const Options& options) {
  const serial::DeviceFolders folders = serial::DeviceFolders::FromEnvironment();
  const std::vector<serial::PortInfo> adapters = serial::ListAdapters(folders);
  auto bench = station::BenchFor(options.bench_path.value_or(""), adapters);
  if (!bench) return station::Outcome<WatchedBench>::Failed(bench.error);
  WatchedBench watched;
  watched.station = bench.value->station;
  for (const auto& position : bench.value->positions) watched.positions.push_back(station::LineOf(position, folders));
  if (!options.bench_path) {
    for (const std::string& port : OtherComPorts(adapters, watched.left_out)) {
      watched.positions.push_back({port, serial::DescribePort(port).serial});
    }
  }
  return station::Outcome<WatchedBench>::Done(std::move(watched));
}

WatchedBench PortPositions(const std::vector<std::string>& ports) {
  WatchedBench bench;
  for (const std::string& port : ports) bench.positions.push_back({port, serial::DescribePort(port).serial});
  return bench;
}

int RunStation(const Options& options, const Console& console, WatchedBench bench,
               std::shared_ptr<const station::JobSnapshot> snapshot) {
  StationRun run(options, console, std::move(bench));
  return run.Run(std::move(snapshot));
}

}  // namespace orvane::cli
