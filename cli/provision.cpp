#include "cli/provision.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "cli/input_checks.h"
#include "cli/messages.h"
#include "cli/scan.h"
#include "cli/several_ports.h"
#include "cli/store_open.h"
#include "cli/watch.h"
#include "device/session.h"
#include "l10n/l10n.h"
#include "link/cp1251.h"
#include "serial/port_names.h"
#include "serial/settings.h"

namespace orvane::cli {
namespace {

using station::Job;
using station::RecordStore;
using l10n::Format;
using l10n::Tr;

// The checks `flash` and `put` make, on the job's files.
std::optional<std::string> CheckJobFiles(const Job& job, bool force) {
  Options check;
  check.force = force;
  if (job.image) {
    check.command = Command::kFlash;
    check.path = *job.image;
    if (auto error = CheckFileToSend(check)) return Format(Tr("image: %s"), error->c_str());
  }
  check.command = Command::kPut;
  for (const std::string& plan : job.plans) {
    check.path = plan;
    if (auto error = CheckFileToSend(check)) return Format(Tr("plan: %s"), error->c_str());
    // What put would refuse on every modem.
    struct stat info{};
    ::stat(plan.c_str(), &info);
    if (device::FileTypeForPath(plan) == 0x5256 &&
        static_cast<std::size_t>(info.st_size) < device::kCircularPlanLength + 2) {
      return Format(Tr("plan: %1$s (\"%2$s\")"), device::kStatusPlanTooShort, plan.c_str());
    }
    if (device::DeviceFileName(plan).size() > device::kNameFrameLimit) {
      return Format(Tr("plan: %1$s (\"%2$s\")"), device::kStatusNameTooLong, plan.c_str());
    }
  }
  return std::nullopt;
}

}  // namespace

station::Outcome<PreparedJob> PrepareJob(Options& options, const Console& console) {
  using Prepared = station::Outcome<PreparedJob>;
  PreparedJob prepared;
  auto job = station::ReadJob(options.path);
  if (!job) return Prepared::Failed(job.error);
  prepared.job = std::move(*job.value);
  if (auto error = CheckJobFiles(prepared.job, options.force)) return Prepared::Failed(*error);
  auto store = OpenStationStore(options, console);
  if (!store) return Prepared::Failed(store.error);
  prepared.store = std::move(*store.value);
  if (const auto& range = prepared.job.serial) {
    auto left = prepared.store->NumbersLeft(*range);
    if (!left) return Prepared::Failed(left.error);
    if (*left.value == 0) {
      return Prepared::Failed(Format(Tr("every serial number from %1$s has been given in %2$s"), range->Text().c_str(),
                                     prepared.store->Location().Describe().c_str()));
    }
    prepared.numbers_left = *left.value;
  }
  return Prepared::Done(std::move(prepared));
}

std::optional<std::string> ConfirmJob(const Job& job, const Options& options, const Console& console,
                                      const std::string& ports) {
  const char* warning = job.image ? device::kReflashWarning : job.erase ? device::kEraseWarning : nullptr;
  if (!warning || options.yes) return std::nullopt;
  if (!console.in_is_terminal) return NotConfirmedWithoutTerminal();
  const std::string question = ports.empty() ? std::string(warning) : std::string(warning) + "\n(" + ports + ")";
  if (!AskOnTerminal(question, console)) return NotConfirmed();
  return std::nullopt;
}

std::string RowReason(const ProvisionRow& row) {
  if (!row.holds || !station::MustComeBack(*row.holds)) return row.reason;
  return (row.reason.empty() ? "" : row.reason + "; ") + station::HoldsText(*row.holds);
}

std::string FormatProvisionTable(const std::vector<ProvisionRow>& rows) {
  using Line = std::array<std::string, 4>;
  std::vector<Line> lines = {{Tr("port"), Tr("result"), Tr("serial"), Tr("reason")}};
  for (const ProvisionRow& row : rows) {
    std::string reason = RowReason(row);
    std::replace_if(reason.begin(), reason.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    lines.push_back({row.port, Tr(row.result), row.serial ? std::to_string(*row.serial) : "-", reason});
  }
  std::array<std::size_t, 4> width{};
  for (const Line& line : lines) {
    for (std::size_t i = 0; i < width.size(); ++i) width[i] = std::max(width[i], link::Utf8Length(line[i]));
  }
  std::string out;
  for (const Line& line : lines) {
    std::string text;
    for (std::size_t i = 0; i < width.size(); ++i) {
      text += line[i];
      if (i + 1 < width.size()) text += std::string(width[i] - link::Utf8Length(line[i]) + 2, ' ');
    }
    text.erase(text.find_last_not_of(' ') + 1);
    out += text + '\n';
  }
  return out;
}

std::string ProvisionJsonLine(const ProvisionRow& row) {
  Json json = {{"port", row.port}, {"exit", row.exit}, {"serial", nullptr}};
  if (row.serial) json["serial"] = *row.serial;
  if (row.exit != kExitDone && !row.reason.empty()) json["error"] = row.reason;
  if (row.holds) json["holds"] = Json::parse(station::HoldsToJson(*row.holds));
  return DumpJson(json) + "\n";
}

namespace {

// The ports of a run without --watch: those given (or found with --port
// all), or the one port of a single run.
station::Outcome<std::vector<std::string>> PortsOf(const Options& options, const Console& console) {
  using Ports = station::Outcome<std::vector<std::string>>;
  if (options.watch) return Ports::Done({});
  if (options.SeveralPorts()) {
    std::vector<std::string> ports = options.AllPorts() ? ScanForPorts(options.quiet, console) : options.ports;
    if (ports.empty()) return Ports::Failed(NoPortFoundForAll());
    return Ports::Done(std::move(ports));
  }
  if (options.port) return Ports::Done({*options.port});
  std::optional<std::string> stored;
  try {
    stored = serial::LoadComPort();
  } catch (const serial::SettingsError& failure) {
    return Ports::Failed(failure.what());
  }
  if (!stored || stored->empty()) return Ports::Failed(NoPortChosen());
  return Ports::Done({*stored});
}

}  // namespace

int RunProvision(const Options& given, const Console& console) {
  Options options = given;
  auto prepared = PrepareJob(options, console);
  if (!prepared) return Refuse(console, options.json, prepared.error, kExitRefused);
  auto snapshot = station::JobSnapshot::Read(prepared.value->job);
  if (!snapshot) return Refuse(console, options.json, snapshot.error, kExitRefused);
  auto watched = options.watch ? WatchedPositions(options) : station::Outcome<WatchedBench>::Done({});
  if (!watched) return Refuse(console, options.json, watched.error, kExitRefused);
  if (options.watch && !options.quiet) {
    for (const auto& left_out : watched.value->left_out) PrintError(console, LeftOutNote(left_out));
  }
  auto ports = PortsOf(options, console);
  if (!ports) {
    return Refuse(console, options.json, ports.error,
                  options.AllPorts() && !options.watch ? kExitLinkFailed : kExitRefused);
  }
  const auto& range = prepared.value->job.serial;
  if (!options.watch && range && prepared.value->numbers_left < static_cast<std::int64_t>(ports.value->size())) {
    return Refuse(console, options.json,
                  Format(Tr("the serial numbers from %1$s have %2$lld left for %3$zu ports"), range->Text().c_str(),
                         static_cast<long long>(prepared.value->numbers_left), ports.value->size()),
                  kExitRefused);
  }
  const std::string named = options.SeveralPorts() && !options.watch ? PortList(*ports.value) : "";
  if (auto refusal = ConfirmJob(prepared.value->job, options, console, named)) {
    return Refuse(console, options.json, *refusal, kExitRefused);
  }
  prepared.value->store.reset();  // each position keeps its own connection
  return RunStation(options, console, options.watch ? std::move(*watched.value) : PortPositions(*ports.value),
                    std::make_shared<const station::JobSnapshot>(std::move(*snapshot.value)));
}

}  // namespace orvane::cli
