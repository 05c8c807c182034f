#include "cli/provision.h"

#include <algorithm>
#include <filesystem>

#include "cli/input_checks.h"
#include "cli/messages.h"
#include "cli/scan.h"
#include "cli/several_ports.h"
#include "cli/store_open.h"
#include "cli/watch.h"
#include "device/session.h"
#include "l10n/l10n.h"
#include "serial/port_names.h"
#include "serial/settings.h"
#include "station/job_check.h"
#include "station/text_columns.h"

namespace orvane::cli {
namespace {

using station::Job;
using station::RecordStore;
using l10n::Format;
using l10n::Tr;

// The checks `flash` and `put` make, on the job's files, and what put would
// refuse on every modem.
std::optional<std::string> JobFilesRefusal(const Job& job, bool force) {
  const auto refusal = station::CheckJobFiles(job, force);
  if (!refusal) return std::nullopt;
  const auto* plan = std::get_if<device::PlanVerdict>(&refusal->why);
  if (plan && (plan->rule == device::PlanRule::kRingTooShort || plan->rule == device::PlanRule::kNameTooLong)) {
    return Format(Tr("plan: %1$s (\"%2$s\")"), RefusalText(refusal->path, *plan).c_str(), refusal->path.c_str());
  }
  const std::string why = std::visit([&](const auto& verdict) { return RefusalText(refusal->path, verdict); },
                                     refusal->why);
  return Format(refusal->part == station::JobFileRefusal::Part::kImage ? Tr("image: %s") : Tr("plan: %s"),
                why.c_str());
}

}  // namespace

station::Outcome<PreparedJob> PrepareJob(Options& options, const Console& console) {
  using Prepared = station::Outcome<PreparedJob>;
  PreparedJob prepared;
  auto job = station::ReadJob(options.path);
  if (!job) return Prepared::Failed(job.error);
  prepared.job = std::move(*job.value);
  if (auto error = JobFilesRefusal(prepared.job, options.force)) return Prepared::Failed(*error);
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
  if (!warning) return std::nullopt;
  return Confirm(ports.empty() ? std::string(warning) : std::string(warning) + "\n(" + ports + ")", options.yes,
                 console);
}

std::string RowReason(const ProvisionRow& row) {
  if (!row.holds || !station::MustComeBack(*row.holds)) return row.reason;
  return (row.reason.empty() ? "" : row.reason + "; ") + station::HoldsText(*row.holds);
}

std::string FormatProvisionTable(const std::vector<ProvisionRow>& rows) {
  std::vector<std::vector<std::string>> lines = {{Tr("port"), Tr("result"), Tr("serial"), Tr("reason")}};
  for (const ProvisionRow& row : rows) {
    std::string reason = RowReason(row);
    std::replace_if(reason.begin(), reason.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    lines.push_back({row.port, station::ResultWords(row.end), row.serial ? std::to_string(*row.serial) : "-", reason});
  }
  return station::AlignColumns(lines);
}

std::string ProvisionJsonLine(const ProvisionRow& row) {
  Json json = {{"port", row.port}};
  json.update(EndJson(row.end, row.reason, {{"serial", row.serial ? Json(*row.serial) : Json(nullptr)}}));
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
    std::vector<std::string> ports = PortsGiven(options, console);
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
  if (!prepared) return Refuse(console, options.json, prepared.error, RunEnding::Refused());
  auto snapshot = station::JobSnapshot::Read(prepared.value->job);
  if (!snapshot) return Refuse(console, options.json, snapshot.error, RunEnding::Refused());
  auto watched = options.watch ? WatchedPositions(options) : station::Outcome<WatchedBench>::Done({});
  if (!watched) return Refuse(console, options.json, watched.error, RunEnding::Refused());
  if (options.watch && !options.quiet) {
    for (const auto& left_out : watched.value->left_out) PrintError(console, LeftOutNote(left_out));
  }
  auto ports = PortsOf(options, console);
  if (!ports) {
    return Refuse(console, options.json, ports.error,
                  options.AllPorts() && !options.watch ? RunEnding::Failed() : RunEnding::Refused());
  }
  const auto& range = prepared.value->job.serial;
  if (!options.watch && range && prepared.value->numbers_left < static_cast<std::int64_t>(ports.value->size())) {
    return Refuse(console, options.json,
                  Format(Tr("the serial numbers from %1$s have %2$lld left for %3$zu ports"), range->Text().c_str(),
                         static_cast<long long>(prepared.value->numbers_left), ports.value->size()),
                  RunEnding::Refused());
  }
  const std::string named = options.SeveralPorts() && !options.watch ? PortList(*ports.value) : "";
  if (auto refusal = ConfirmJob(prepared.value->job, options, console, named)) {
    return Refuse(console, options.json, *refusal, RunEnding::Refused());
  }
  prepared.value->store.reset();  // each position keeps its own connection
  return RunStation(options, console, options.watch ? std::move(*watched.value) : PortPositions(*ports.value),
                    std::make_shared<const station::JobSnapshot>(std::move(*snapshot.value)));
}

}  // namespace orvane::cli
