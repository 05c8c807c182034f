#include "cli/provision.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <filesystem>

#include "cli/directory_check.h"
#include "cli/input_checks.h"
#include "cli/messages.h"
#include "cli/port_child.h"
#include "cli/port_run.h"
#include "cli/scan.h"
#include "cli/signals.h"
#include "cli/store_open.h"
#include "cli/watch.h"
#include "l10n/l10n.h"
#include "link/cp1251.h"
#include "serial/port_names.h"
#include "serial/settings.h"

namespace orvane::cli {
namespace {

using station::Job;
using station::RecordStore;
using station::RunResult;
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

ConstantsChange ChangeOf(const station::Constants& c) {
  ConstantsChange change;
  change.identifier = c.identifier;
  change.time_zone = c.time_zone;
  change.summer = c.summer;
  change.local_address = c.local_address;
  change.global_address = c.global_address;
  return change;
}

std::vector<Step> StepsOf(const Job& job, Step::SerialSource serial_source) {
  std::vector<Step> steps;
  if (job.image) steps.push_back(Step::Flash(*job.image));
  if (job.erase) steps.push_back(Step::Erase());
  for (const std::string& plan : job.plans) steps.push_back(Step::Put(plan));
  if (!job.constants.Empty() || job.serial) {
    Step constants = Step::Constants(ChangeOf(job.constants));
    if (job.serial) constants.serial_source = std::move(serial_source);
    steps.push_back(std::move(constants));
  }
  return steps;
}

// A plan as the directory shows it once uploaded.
ListedFile ExpectedFile(const std::string& plan) {
  const std::uint16_t type = device::FileTypeForPath(plan);
  std::vector<std::uint8_t> data = device::ReadWholeFile(plan);
  if (type == 0x5256) data = device::ConvertCircularPlan(data);
  return {link::Cp1251ToUtf8(device::DeviceFileName(plan)), type, static_cast<long>(data.size())};
}

bool Before(const ListedFile& a, const ListedFile& b) {
  return std::tie(a.name, a.type, a.size) < std::tie(b.name, b.type, b.size);
}

// The last refresh against the whole job: its plans on the console (with
// erase exactly its plans), its constants and the serial number given.
std::optional<std::string> JobMismatch(const Job& job, const device::DeviceModel& model,
                                       std::optional<std::int64_t> serial) {
  const device::ConstantsFields& f = model.fields;
  const station::Constants& c = job.constants;
  if ((c.identifier && f.identifier != *c.identifier) || (c.time_zone && f.time_zone != *c.time_zone) ||
      (c.summer && f.summer_index != *c.summer) || (c.local_address && f.local_address != *c.local_address) ||
      (c.global_address && f.global_address != *c.global_address) || (serial && f.serial_number != *serial)) {
    return std::string(Tr("the constants read at the end differ from the job's"));
  }
  std::vector<ListedFile> expected;
  try {
    for (const std::string& plan : job.plans) expected.push_back(ExpectedFile(plan));
  } catch (const device::FileError& failure) {
    return std::string(failure.what());
  }
  const Listing listing = ListingOf(model.directory);
  std::vector<ListedFile> shown = listing.files;
  std::sort(expected.begin(), expected.end(), Before);
  std::sort(shown.begin(), shown.end(), Before);
  if (job.erase) {
    if (listing.count != static_cast<int>(expected.size()) || shown != expected) {
      return Format(Tr("the console holds %1$d files at the end, not exactly the job's %2$zu plans"), listing.count,
                    expected.size());
    }
  } else if (!std::includes(shown.begin(), shown.end(), expected.begin(), expected.end(), Before)) {
    return std::string(Tr("the console does not hold every plan of the job at the end"));
  }
  return std::nullopt;
}

// How a reason names the step it comes from: image, erase, plan N (NAME),
// constants.
std::string StepName(const Job& job, const std::vector<Step>& steps, std::size_t index) {
  const Step& step = steps[index];
  switch (step.kind) {
    case Step::Kind::kFlash: return Tr("image");
    case Step::Kind::kErase: return Tr("erase");
    case Step::Kind::kPut: {
      const auto plan = std::find(job.plans.begin(), job.plans.end(), step.path);
      return Format(Tr("plan %1$td (%2$s)"), plan - job.plans.begin() + 1,
                    std::filesystem::path(step.path).filename().string().c_str());
    }
    default: return Tr("constants");
  }
}

const char* ResultWord(const PortResult& result) {
  switch (result.end) {
    case PortResult::End::kDone: return N_("done");
    case PortResult::End::kStopped: return N_("interrupted");
    default: return N_("failed");
  }
}

RunResult RecordResult(const PortResult& result) {
  switch (result.end) {
    case PortResult::End::kDone: return RunResult::kDone;
    case PortResult::End::kStopped: return RunResult::kInterrupted;
    default: return RunResult::kFailed;
  }
}

PortResult Ended(const std::string& port, PortResult::End end, const std::string& error, int signal = 0) {
  PortResult result;
  result.port = port;
  result.end = end;
  result.error = error;
  result.signal = signal;
  return result;
}

// The job on one modem, in this process: the record started, the run, its
// end recorded. A signal before the connection is opened still ends the run
// in order; from the end of the run on, signals wait until the process
// exits, so that the record and the result are always written.
PortResult ProvisionOnePort(Options options, PreparedJob& prepared, const Console& console,
                            std::optional<std::int64_t>& serial) {
  const Job& job = prepared.job;
  RecordStore& store = *prepared.store;
  if (!options.port) {
    try {
      options.port = serial::LoadComPort();
    } catch (const serial::SettingsError& failure) {
      return Ended("", PortResult::End::kRefused, failure.what());
    }
    if (!options.port || options.port->empty()) {
      return Ended("", PortResult::End::kRefused, NoPortChosen());
    }
  }
  const std::string port = *options.port;
  auto start = station::RunStartFor(job, port, serial::DescribePort(port).serial, ORVANE_VERSION);
  if (!start) return Ended(port, PortResult::End::kRefused, start.error);
  start.value->trace = options.trace_path.value_or("");

  std::optional<int> early_signal;
  std::int64_t run_id = 0;
  {
    SignalWatch early([&early_signal](int signal) { early_signal = signal; });
    auto started = store.StartRun(*start.value);
    if (!started) return Ended(port, PortResult::End::kLinkFailed, started.error);
    run_id = *started.value;
    QCoreApplication::processEvents();
  }
  PortResult result;
  if (early_signal) {
    result = Ended(port, PortResult::End::kStopped, StoppedBy(*early_signal), *early_signal);
  } else {
    auto take = [&store, run_id, range = job.serial.value_or(station::SerialRange{}), &serial](
                    std::int32_t reported, std::int32_t& number) -> std::optional<std::string> {
      auto grant = store.TakeSerial(run_id, range, reported);
      if (!grant) return grant.error;
      number = grant.value->serial;
      serial = number;
      return std::nullopt;
    };
    OnePortRun run(options, console);
    if (options.result_fd) ReportProgressTo(*options.result_fd, run);
    const std::vector<Step> steps = StepsOf(job, take);
    result = run.Run(steps);
    if (const auto step = run.ended_in_step(); step && result.end != PortResult::End::kDone) {
      result.error = StepName(job, steps, *step) + ": " + result.error;
    }
  }
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
  ::sigprocmask(SIG_BLOCK, &stops, nullptr);

  if (result.end == PortResult::End::kDone && result.device) {
    if (auto mismatch = JobMismatch(job, *result.device, serial)) {
      PrintError(console, *mismatch);
      result.end = PortResult::End::kLinkFailed;
      result.error = *mismatch;
    }
  }
  if (auto error = store.FinishRun(run_id, RecordResult(result), result.error)) {
    PrintError(console, *error);
    if (result.end == PortResult::End::kDone) result.end = PortResult::End::kLinkFailed;
    result.error = result.error.empty() ? *error : result.error + "; " + *error;
  }
  return result;
}

ProvisionRow RowOf(const PortResult& result, std::optional<std::int64_t> serial) {
  return {result.port, ExitStatusOf(result), ResultWord(result), serial,
          result.end == PortResult::End::kDone ? "" : result.error};
}

int PrintRows(const std::vector<ProvisionRow>& rows, const Options& options, const Console& console) {
  std::string text;
  if (options.json) {
    for (const ProvisionRow& row : rows) text += ProvisionJsonLine(row);
  } else {
    text = FormatProvisionTable(rows);
  }
  std::fputs(text.c_str(), console.out);
  std::fflush(console.out);
  int worst = kExitDone;
  for (const ProvisionRow& row : rows) worst = std::max(worst, row.exit);
  return worst;
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

ProvisionRow RowOf(const ChildEnd& end) {
  std::optional<std::int64_t> serial;
  const Json line = Json::parse(end.line, nullptr, false);
  if (line.is_object() && line.contains("serial") && line["serial"].is_number_integer()) {
    serial = line["serial"].get<std::int64_t>();
  }
  return RowOf(end.result, serial);
}

std::string FormatProvisionTable(const std::vector<ProvisionRow>& rows) {
  using Line = std::array<std::string, 4>;
  std::vector<Line> lines = {{Tr("port"), Tr("result"), Tr("serial"), Tr("reason")}};
  for (const ProvisionRow& row : rows) {
    std::string reason = row.reason;
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
  return DumpJson(json) + "\n";
}

int RunProvision(const Options& given, const Console& console) {
  Options options = given;
  auto prepared = PrepareJob(options, console);
  const bool child = options.result_fd.has_value();
  if (!prepared) {
    if (!child) return Refuse(console, options.json, prepared.error, kExitRefused);
    // A child still hands its parent a result.
    PrintError(console, prepared.error);
    const PortResult refused = Ended(options.port.value_or(""), PortResult::End::kRefused, prepared.error);
    WriteLine(*options.result_fd, ResultLine(refused));
    return kExitRefused;
  }
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  if (options.watch) {
    if (auto refusal = ConfirmJob(prepared.value->job, options, console, "")) {
      return Refuse(console, options.json, *refusal, kExitRefused);
    }
    options.yes = true;
    return RunWatch(options, console, program, *prepared.value);
  }
  if (options.SeveralPorts()) {
    const std::vector<std::string> ports = options.AllPorts() ? ScanForPorts(options.quiet, console) : options.ports;
    if (ports.empty()) {
      return Refuse(console, options.json, NoPortFoundForAll(), kExitLinkFailed);
    }
    if (const auto& range = prepared.value->job.serial;
        range && prepared.value->numbers_left < static_cast<std::int64_t>(ports.size())) {
      return Refuse(console, options.json,
                    Format(Tr("the serial numbers from %1$s have %2$lld left for %3$zu ports"), range->Text().c_str(),
                           static_cast<long long>(prepared.value->numbers_left), ports.size()),
                    kExitRefused);
    }
    if (auto refusal = ConfirmJob(prepared.value->job, options, console, PortList(ports))) {
      return Refuse(console, options.json, *refusal, kExitRefused);
    }
    options.yes = true;
    prepared.value->store.reset();  // each child keeps its own record
    std::vector<ProvisionRow> rows;
    for (const ChildEnd& end : RunChildren(options, ports, program, console)) rows.push_back(RowOf(end));
    return PrintRows(rows, options, console);
  }
  if (!child) {
    if (auto refusal = ConfirmJob(prepared.value->job, options, console, "")) {
      return Refuse(console, options.json, *refusal, kExitRefused);
    }
    options.yes = true;
  }
  std::optional<std::int64_t> serial;
  const PortResult result = ProvisionOnePort(options, *prepared.value, console, serial);
  if (child) {
    Json line = Json::parse(ResultLine(result));
    line["serial"] = serial ? Json(*serial) : Json(nullptr);
    WriteLine(*options.result_fd, DumpJson(line) + "\n");
    ::close(*options.result_fd);
    return ExitStatusOf(result);
  }
  return PrintRows({RowOf(result, serial)}, options, console);
}

}  // namespace orvane::cli
