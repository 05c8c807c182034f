#include "station/position_worker.h"

#include <sys/stat.h>

#include <QDateTime>
#include <algorithm>

#include "l10n/l10n.h"
#include "link/commands.h"
#include "link/cp1251.h"
#include "serial/port_diagnosis.h"
#include "serial/port_names.h"
#include "station/job_check.h"
#include "station/step_text.h"

namespace orvane::station {
namespace {

using Clock = std::chrono::steady_clock;
using l10n::Tr;

// The link's own line for the way an operation was cut short.
const char* CauseLine(link::EndCause cause) {
  switch (cause) {
    case link::EndCause::kVerifyFailed: return link::kLogVerifyError;
    case link::EndCause::kNoAnswer: return link::kLogNoAnswer;
    case link::EndCause::kNotConnected: return link::kLogNotConnected;
    case link::EndCause::kPortLost: return link::kLogPortLost;
    case link::EndCause::kCancelled: return link::kLogCancelled;
    default: return link::kLogQueueCleared;
  }
}

bool DeviceFilePresent(const std::string& port) {
  struct stat info{};
  return ::stat(serial::DeviceFileForPort(port).c_str(), &info) == 0;
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

}  // namespace

PositionWorker::PositionWorker(std::size_t index, StationPosition position,
                               std::shared_ptr<const JobSnapshot> snapshot, std::string store_location,
                               EngineOptions options, Sinks sinks)
    : index_(index),
      position_(std::move(position)),
      snapshot_(std::move(snapshot)),
      store_location_(std::move(store_location)),
      options_(std::move(options)),
      sinks_(std::move(sinks)),
      port_(&comm_, choice_,
            {.append_log = [this](const std::string& line) { AppendLog(line); },
             .clear_queue =
                 [this] {
                   if (session_) session_->link().ClearQueue();
                 },
             .rearm_watchdog = nullptr}),
      rule_(options_.times) {
  serial::ConfigureLinkComm(comm_);
  choice_.SetText(position_.port);
  comm_.OnReceiveData = [this](const std::uint8_t* bytes, std::uint16_t count) {
    if (session_) session_->link().ReceiveData(bytes, count);
  };
  comm_.OnRequestHangup = [this] { Later([this] { PortLost(); }); };
  QObject::connect(&ticker_, &QTimer::timeout, &context_, [this] { Tick(); });
}

PositionWorker::~PositionWorker() {
  ticker_.stop();
  comm_.OnReceiveData = nullptr;
  comm_.OnRequestHangup = nullptr;
  if (session_) session_->link().SetTracer(nullptr);
  comm_.Close();
}

void PositionWorker::Begin() {
  began_ = Clock::now();
  // A watching position whose store went away since the session claimed
  // it holds its port and opens the store before its first unit's job.
  if (const auto outage = StoreOutage(); outage && options_.once) {
    UnitEnd end;
    end.cause = FailureCause::kRecords;
    end.detail = *outage;
    return EndUnit(std::move(end));
  }
  if (!OpenSessionTrace()) return;
  if (auto folder = TraceFolderFor(store_location_)) trace_folder_ = *folder.value;
  ResetSession();
  if (OpenPort()) {
    Emit(Event());
  } else if (options_.once) {
    UnitEnd end;
    end.step = JobStep::kConnect;
    end.cause = FailureCause::kPortLost;
    end.detail = serial::DiagnosePort(position_.port).Text();
    end.port_failed = true;
    return EndUnit(std::move(end));
  } else {
    Apply(rule_.PortGone());
  }
  ticker_.start(static_cast<int>(options_.tick.count()));
}

// A session trace that cannot be written ends a single run (the operator
// asked for it); a watching station says so and goes on without.
bool PositionWorker::OpenSessionTrace() {
  if (!options_.trace_path) return true;
  const std::string file = options_.trace_path(position_.port);
  if (file.empty()) return true;
  std::string error;
  session_trace_ = TraceWriter::Open(file, &error);
  if (session_trace_) return true;
  if (!options_.once) {
    if (sinks_.log) sinks_.log(error);
    return true;
  }
  UnitEnd end;
  end.cause = FailureCause::kRefused;
  end.detail = error;
  EndUnit(std::move(end));
  return false;
}

bool PositionWorker::OpenPort() {
  last_open_try_ = Clock::now();
  if (port_.OpenLinkPort() != serial::LinkPort::Opened::kOpened) return false;
  Apply(rule_.PortBack());
  return true;
}

void PositionWorker::OpenLinkPort() {
  if (!comm_.PortOpen()) OpenPort();
}

bool PositionWorker::WriteData(const std::uint8_t* bytes, std::uint16_t count) {
  return comm_.WriteData(bytes, count);
}

// A probe's difference is what it is for, not a failed verification, and
// the queue it empties held only the probe.
void PositionWorker::AppendLog(const std::string& line) {
  if (Probing() && (line == link::kLogVerifyError || line == link::kLogQueueCleared)) return;
  if (session_trace_) session_trace_->Log(line);
  if (trace_) trace_->Log(line);
  if (sinks_.log) sinks_.log(line);
}

// The adapter went away: the port is closed, a job on it has failed, and
// the port is opened again once its device file is back.
void PositionWorker::PortLost() {
  if (!comm_.PortOpen()) return;
  comm_.Close();
  if (phase_ == Phase::kRunning) FailJob(FailureCause::kPortLost, link::kLogPortLost);
  if (phase_ != Phase::kFinished) phase_ = Phase::kIdle;
  wait_.reset();
  Apply(rule_.PortGone());
  ResetSession();
}

void PositionWorker::Tick() {
  const auto now = Clock::now();
  if (!comm_.PortOpen()) {
    if (phase_ != Phase::kFinished && now - last_open_try_ >= options_.reopen && DeviceFilePresent(position_.port)) {
      if (OpenPort()) Emit(Event());
    }
    return;
  }
  Apply(rule_.Tick(now));
  RetryRecords(now);
  WriteKeptEnds(now);
  if (options_.once && phase_ == Phase::kIdle && !ever_polled_ && now - began_ >= options_.no_modem_wait) NoModem();
}

void PositionWorker::FrameSent(std::span<const std::uint8_t> frame) {
  if (session_trace_) session_trace_->FrameSent(frame);
  if (trace_) trace_->FrameSent(frame);
}

void PositionWorker::Decision(link::LinkDecision decision, const link::QueueEntry* head) {
  if (session_trace_) session_trace_->Decision(decision, head);
  if (trace_) trace_->Decision(decision, head);
}

void PositionWorker::FrameReceived(const link::FrameView& frame) {
  if (session_trace_) session_trace_->FrameReceived(frame);
  if (trace_) trace_->FrameReceived(frame);
  if (frame.command() != link::kPoll) return;
  ever_polled_ = true;
  Apply(rule_.Poll(Clock::now()));
}

void PositionWorker::Apply(const LineChange& change) {
  if (change.job_lost && phase_ == Phase::kRunning) FailJob(FailureCause::kModemLeft, "");
  if (change.state) {
    if (*change.state == LineState::kNoModem && phase_ != Phase::kFinished) {
      phase_ = Phase::kIdle;
      wait_.reset();
      unit_serial_.reset();
      ended_unit_.reset();
      ended_event_.reset();
      Later([this] { ResetSession(); });
    }
    Emit(Event());
  }
  if (change.identify) Identify();
}

// A fresh session answers the next poll with the connecting refresh: the
// unit's directory and constants, nothing written.
void PositionWorker::ResetSession() {
  if (phase_ == Phase::kRunning) return;
  if (session_) session_->link().SetTracer(nullptr);
  session_ = std::make_unique<device::Session>(*this);
  session_->link().SetTracer(this);
  session_->StartAfresh();
}

void PositionWorker::Identify() {
  if (phase_ == Phase::kFinished || phase_ == Phase::kRunning) return;
  const bool connected = session_->link().LinkConnected();
  phase_ = Phase::kIdentifying;
  wait_.reset();
  if (connected) Later([this] { ResetSession(); });
}

void PositionWorker::OperationEnded(const link::OperationEnd& outcome) {
  if (outcome.kind == link::OperationEnd::Kind::kRefused) return;
  step_left_ = StepLeftOf(outcome);  // also when a failing job clears its queue
  if (phase_ == Phase::kIdentifying) {
    // A refresh that did not come through is tried again while the unit polls.
    if (outcome.kind == link::OperationEnd::Kind::kDone) return Later([this] { Decide(); });
    return Later([this] { ResetSession(); });
  }
  if (phase_ != Phase::kRunning) return;
  if (Probing()) return ProbeEnded(outcome);
  if (outcome.kind == link::OperationEnd::Kind::kCleared) {
    const link::EndCause cause = outcome.cause;
    return Later([this, cause] { FailJob(FailureCause::kLinkCleared, CauseLine(cause)); });
  }
  Later([this] {
    if (phase_ != Phase::kRunning) return;
    const Step& step = steps_[step_];
    if (!step.replace || !StoredCopyRow(step.plan)) ++step_;
    RunStep();
  });
}

bool PositionWorker::Probing() const {
  return phase_ == Phase::kRunning && step_ < steps_.size() && steps_[step_].probe;
}

// Every chunk equal: the write step is passed over. The first chunk that
// differs ends the probe, and the image is written.
void PositionWorker::ProbeEnded(const link::OperationEnd& outcome) {
  const bool differs = outcome.kind == link::OperationEnd::Kind::kCleared && outcome.cause == link::EndCause::kVerifyFailed;
  if (outcome.kind == link::OperationEnd::Kind::kCleared && !differs) {
    const link::EndCause cause = outcome.cause;
    return Later([this, cause] { FailJob(FailureCause::kLinkCleared, CauseLine(cause)); });
  }
  Later([this, differs] {
    if (phase_ != Phase::kRunning) return;
    image_held_ = !differs;
    step_ += differs ? 1 : 2;
    RunStep();
  });
}

ImageAction PositionWorker::ImageActionSoFar() const {
  if (image_written_) return ImageAction::kWritten;
  return image_held_ ? ImageAction::kAlreadyHeld : ImageAction::kNone;
}

void PositionWorker::Decide() {
  if (phase_ != Phase::kIdentifying) return;
  if (stop_new_) {
    phase_ = Phase::kIdle;
    if (options_.once) FailJob(FailureCause::kStopped, "");
    return;
  }
  if (ended_unit_ && ended_event_ && SameUnit(*ended_unit_, session_->model())) {
    phase_ = Phase::kHolding;
    rule_.SameUnit();
    return Emit(*ended_event_);
  }
  TellJobChanged();
  const std::int64_t serial = session_->model().fields.serial_number;
  unit_serial_ = serial;
  // Nothing is written to a unit before its record store has taken a write.
  if (auto outage = StoreOutage()) return WaitBeforeJob(*outage);
  auto runs = store_->RunsWithSerial(serial);
  if (!runs) {
    if (auto outage = store_->Probe()) return WaitBeforeJob(*outage);
    UnitEnd end;
    end.step = JobStep::kIdentify;
    end.cause = FailureCause::kRecords;
    end.detail = runs.error;
    return EndUnit(std::move(end));
  }
  const RunStart start = StartFor();
  const UnitVerdict verdict = DecideUnit(serial, snapshot_->job.serial, *runs.value, start);
  if (verdict.kind == UnitVerdict::Kind::kAlreadyDone) {
    UnitEnd end;
    end.state = LineState::kAlreadyDone;
    end.ending = RunEnding::Done();
    end.serial = serial;
    return EndUnit(std::move(end), verdict.done_at);
  }
  if (verdict.kind == UnitVerdict::Kind::kForeign) {
    UnitEnd end;
    end.step = JobStep::kIdentify;
    end.cause = FailureCause::kForeignSerial;
    end.ending = EndingOf(end.cause);
    end.serial = serial;
    end.detail = l10n::Format(Tr("the unit carries %lld, a number of the job's range another record store counted"),
                              static_cast<long long>(serial));
    return EndUnit(std::move(end));
  }
  StartJob(verdict);
}

// Said once for the session on this position, and the session goes on
// with the bytes it read.
void PositionWorker::TellJobChanged() {
  if (job_change_told_) return;
  const auto changed = snapshot_->ChangedOnDisk();
  if (!changed) return;
  job_change_told_ = true;
  PositionEvent event = Event();
  event.job_changed = *changed;
  Emit(std::move(event));
}

// A trace that cannot be made leaves the run without one; the job goes on.
void PositionWorker::OpenTrace(RunStart& start) {
  trace_.reset();
  if (trace_folder_.empty()) return;
  auto trace = UnitTrace::Create(trace_folder_, start.position);
  if (!trace) return;
  trace_ = std::move(*trace.value);
  start.trace = trace_->path();
}

void PositionWorker::StartJob(const UnitVerdict& verdict) {
  if (auto told = spool_.FlushAndTell(*store_)) AppendLog(*told);
  RunStart start = StartFor();
  OpenTrace(start);
  auto run = store_->StartRun(start);
  if (!run) {
    trace_.reset();
    if (auto outage = store_->Probe()) return WaitBeforeJob(*outage);
    UnitEnd end;
    end.step = JobStep::kIdentify;
    end.cause = FailureCause::kRecords;
    end.detail = run.error;
    return EndUnit(std::move(end));
  }
  run_ = *run.value;
  if (trace_) trace_->Note("run " + std::to_string(run_) + " station " + start.station + " position " + start.position);
  verdict_ = verdict;
  image_written_ = false;
  image_held_ = false;
  given_serial_.reset();
  steps_.clear();
  const Job& job = snapshot_->job;
  if (snapshot_->image) {
    steps_.push_back({JobStep::kImage, 0, true});
    steps_.push_back({JobStep::kImage});
  }
  if (job.erase) steps_.push_back({JobStep::kErase});
  for (int plan = 1; plan <= static_cast<int>(snapshot_->plans.size()); ++plan) {
    if (!job.erase) steps_.push_back({JobStep::kPlan, plan, false, true});
    steps_.push_back({JobStep::kPlan, plan});
  }
  if (!job.constants.Empty() || job.serial) steps_.push_back({JobStep::kConstants});
  steps_.push_back({JobStep::kCheck});
  step_ = 0;
  phase_ = Phase::kRunning;
  job_began_ = Clock::now();
  Apply(rule_.JobStarted());
  RunStep();
}

void PositionWorker::RunStep() {
  if (phase_ != Phase::kRunning) return;
  if (step_ >= steps_.size()) return;
  const Step& step = steps_[step_];
  if (step.kind == JobStep::kCheck) return Check();
  if (step.replace && !StoredCopyRow(step.plan)) {
    ++step_;
    return RunStep();
  }
  percent_ = 0;
  step_left_ = StepLeft::kNotSeen;
  Emit(Event());
  if (!QueueStep(step)) return;
  if (session_->link().queue().empty()) FailJob(FailureCause::kRefused, Tr("nothing was sent to the console"));
}

// The step's commands, as the window's actions queue them; false when the
// step failed already.
bool PositionWorker::QueueStep(const Step& step) {
  device::Session& session = *session_;
  if (step.replace) {
    session.DeleteFileAtRow(*StoredCopyRow(step.plan));
    return true;
  }
  if (step.probe) {
    if (!session.VerifyFirmwareBytes(snapshot_->image->bytes, snapshot_->image->path)) {
      FailJob(FailureCause::kRefused, device::kStatusFirmwareTooBig);
      return false;
    }
    return true;
  }
  switch (step.kind) {
    case JobStep::kImage:
      if (!session.UploadFirmwareBytes(snapshot_->image->bytes, snapshot_->image->path)) {
        FailJob(FailureCause::kRefused, ImageRefusal(*snapshot_->image));
        return false;
      }
      session.link().QueueRefresh();
      AppendLog(device::kLogFlashing);
      image_written_ = true;
      return true;
    case JobStep::kErase:
      session.EraseAll();
      return true;
    case JobStep::kPlan: {
      const SnapshotFile& plan = snapshot_->plans[static_cast<std::size_t>(step.plan - 1)];
      if (!session.AddFileBytes(plan.path, plan.bytes)) {
        FailJob(FailureCause::kRefused, PlanRefusal(plan, session.model()));
        return false;
      }
      AppendLog(device::kLogAddingFile);
      return true;
    }
    case JobStep::kConstants:
      return QueueConstants();
    default:
      return true;
  }
}

// Without an erase a plan replaces the unit's files of its stored name, so
// re-runs do not pile up copies. Each delete's refresh shows what is left.
std::optional<int> PositionWorker::StoredCopyRow(int plan) const {
  const SnapshotFile& file = snapshot_->plans[static_cast<std::size_t>(plan - 1)];
  const std::string name = link::Cp1251ToUtf8(device::DeviceFileName(file.path));
  const auto& files = session_->model().directory.files;
  for (std::size_t i = files.size(); i-- > 0;) {
    if (files[i] && files[i]->name == name) return static_cast<int>(i + 1);
  }
  return std::nullopt;
}

// The job's constants replace what the unit holds, with the serial number
// the decision gave it.
bool PositionWorker::QueueConstants() {
  const Job& job = snapshot_->job;
  device::ConstantsFields& fields = session_->model().fields;
  if (job.serial) {
    const auto grant = verdict_.kind == UnitVerdict::Kind::kKeep
                           ? store_->KeepSerial(run_, *unit_serial_)
                           : store_->TakeSerial(run_, *job.serial, unit_serial_);
    if (!grant) {
      // No number without its record: the constants wait for the store.
      const bool waits = WaitForRecords([this] { RunStep(); },
                                        [this](const std::string& reason) { FailJob(FailureCause::kRecords, reason); });
      if (!waits) FailJob(FailureCause::kRecords, grant.error);
      return false;
    }
    given_serial_ = grant.value->serial;
    fields.serial_number = grant.value->serial;
  }
  device::ApplyChange(job.constants, fields);
  session_->SaveConstants();
  return true;
}

void PositionWorker::Check() {
  if (auto mismatch = JobMismatch(*snapshot_, session_->model(), given_serial_)) {
    return FailJob(FailureCause::kCheckFailed, *mismatch);
  }
  done_end_ = RunEnd{RunResult::kDone, ""};
  done_end_.image_action = ImageActionSoFar();
  done_end_.holds_json = HoldsToJson(HoldsAtEnd(true, {}));
  // The time it ended, also when the store takes the end later.
  done_end_.finished = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
  RecordDone(false);
}

// The store takes the done end, or the unit waits for the store; past the
// wait its end is kept in the spool, and a unit that was done stays done.
void PositionWorker::RecordDone(bool keep) {
  EndWriting written;
  if (keep || store_->FinishRun(run_, done_end_)) {
    const bool waits = !keep && WaitForRecords([this] { RecordDone(false); }, [this](const std::string& reason) {
      AppendLog(reason);
      RecordDone(true);
    });
    if (waits) return;
    written = spool_.Record(*store_, run_, done_end_);
  }
  if (written.where == EndWriting::Where::kNowhere) return FailJob(FailureCause::kRecords, written.text);
  if (written.where == EndWriting::Where::kSpool) AppendLog(written.text);
  NoteSpooled(written);
  phase_ = Phase::kHolding;
  UnitEnd end;
  end.holds = HoldsAtEnd(true, end);
  end.state = LineState::kDone;
  end.ending = RunEnding::Done();
  end.serial = given_serial_ ? given_serial_ : (snapshot_->job.serial ? unit_serial_ : std::nullopt);
  EndUnit(std::move(end));
}

UnitHolds PositionWorker::HoldsAtEnd(bool done, const UnitEnd& end) const {
  const Job& job = snapshot_->job;
  return DeriveHolds({.job_image = snapshot_->image.has_value(),
                      .job_erase = job.erase,
                      .job_plans = static_cast<int>(snapshot_->plans.size()),
                      .job_constants = !job.constants.Empty() || job.serial.has_value(),
                      .job_serial = job.serial.has_value(),
                      .done = done,
                      .step = end.step,
                      .plan = end.plan,
                      .cause = end.cause,
                      .image = ImageActionSoFar(),
                      .left = step_left_});
}

// Nothing has been written to the unit: it waits for the store, and is read
// again once the store answers (another unit may be on the line by then).
// The line goes back to waiting for a modem if the unit leaves.
void PositionWorker::WaitBeforeJob(const std::string& outage) {
  phase_ = Phase::kWaiting;
  const auto bound = options_.once ? std::optional<RecordsWait::Duration>(options_.records_wait) : std::nullopt;
  wait_.emplace(Clock::now(), bound, options_.records_retry);
  wait_detail_ = outage;
  resume_ = [this] {
    phase_ = Phase::kIdentifying;
    Emit(Event());
    Later([this] { ResetSession(); });
  };
  give_up_ = [this](const std::string& reason) {
    UnitEnd end;
    end.step = JobStep::kIdentify;
    end.cause = FailureCause::kRecords;
    end.detail = reason;
    EndUnit(std::move(end));
  };
  Emit(Event());
}

// No job starts after a stop, so a unit waiting for its first write does not wait on.
void PositionWorker::DropWaitBeforeJob() {
  if (phase_ != Phase::kWaiting || options_.once) return;
  wait_.reset();
  phase_ = Phase::kIdle;
  Emit(Event());
}

// Why the store cannot be used now (it is opened first if it is not yet),
// or nothing: a write that went through.
std::optional<std::string> PositionWorker::StoreOutage() {
  if (store_) return store_->Probe();
  auto store = RecordStore::Open(store_location_, StoreMode::kExisting);
  if (!store) return store.error;
  store_ = std::move(*store.value);
  return store_->Probe();
}

// A store operation of the running job failed. While the store does not
// answer, the job waits here, between steps, and the link answers the
// unit's polls as it does between operations; when the store answers, the
// operation is tried again. It failing with the store answering is the
// operation's own failure: false.
bool PositionWorker::WaitForRecords(Resume resume, GiveUp give_up) {
  if (store_answered_) return false;
  const auto outage = store_->Probe();
  if (!outage) {
    // The probe opened a connection the server had dropped.
    store_answered_ = true;
    resume();
    store_answered_ = false;
    return true;
  }
  wait_.emplace(Clock::now(), options_.records_wait, options_.records_retry);
  wait_detail_ = *outage;
  resume_ = std::move(resume);
  give_up_ = std::move(give_up);
  AppendLog(l10n::Format(Tr("the records do not answer; the unit waits up to %1$.1f s for them: %2$s"),
                         Seconds(options_.records_wait), outage->c_str()));
  Emit(Event());
  return true;
}

void PositionWorker::RetryRecords(Clock::time_point now) {
  if (!wait_ || !wait_->AskNow(now)) return;
  const auto outage = StoreOutage();
  const double waited = Seconds(wait_->Length(now));
  switch (wait_->After(now, !outage)) {
    case RecordsWait::Next::kWait:
      wait_detail_ = *outage;
      return;
    case RecordsWait::Next::kGiveUp: {
      // What the unit holds goes with its end as with every failed end.
      const std::string reason =
          l10n::Format(Tr("the records did not answer for %1$.1f s, longer than a unit waits for them: %2$s"), waited,
                       outage->c_str());
      wait_.reset();
      resume_ = nullptr;
      const GiveUp give_up = std::move(give_up_);
      return give_up(reason);
    }
    case RecordsWait::Next::kGoOn: {
      AppendLog(l10n::Format(Tr("the records answer again after %.1f s"), waited));
      wait_.reset();
      give_up_ = nullptr;
      const Resume resume = std::move(resume_);
      store_answered_ = true;
      resume();
      store_answered_ = false;
    }
  }
}

// An end kept in the spool is written as soon as the store answers again,
// not only at the next unit's start.
void PositionWorker::WriteKeptEnds(Clock::time_point now) {
  if (!kept_ends_ || wait_ || !kept_ends_->AskNow(now) || StoreOutage()) return;
  kept_ends_.reset();
  if (auto told = spool_.FlushAndTell(*store_)) AppendLog(*told);
}

void PositionWorker::NoteSpooled(const EndWriting& written) {
  if (written.where == EndWriting::Where::kSpool && !kept_ends_) {
    kept_ends_.emplace(Clock::now(), std::nullopt, options_.records_retry);
  }
}

// What each run records of the bench: the station, the position, its socket.
RunStart PositionWorker::StartFor() const {
  RunStart start = snapshot_->RunStartFor(position_.port, position_.adapter_serial, options_.version);
  if (!options_.station.empty()) start.station = options_.station;
  if (!position_.name.empty()) start.position = position_.name;
  start.socket = position_.socket;
  start.session = options_.session;
  return start;
}

std::string PositionWorker::ReasonOf(JobStep step, int plan, const std::string& detail) const {
  const std::string name = StepText(snapshot_->job, step, plan);
  if (name.empty()) return detail;
  return detail.empty() ? name : name + ": " + detail;
}

// The running job ends short of done: its record says why, the link's queue
// is dropped, and the unit waits to be removed.
void PositionWorker::FailJob(FailureCause cause, const std::string& detail, int signal) {
  UnitEnd end;
  end.cause = cause;
  end.ending = EndingOf(cause, signal);
  end.detail = detail;
  if (cause == FailureCause::kModemLeft && detail.empty()) end.detail = Tr("the modem stopped polling");
  const bool stopped = cause == FailureCause::kStopped;
  end.state = stopped ? LineState::kStopped : LineState::kFailed;
  if (phase_ == Phase::kRunning) {
    const Step step = step_ < steps_.size() ? steps_[step_] : Step{JobStep::kNone};
    end.step = step.kind;
    end.plan = step.plan;
    end.serial = given_serial_;
    phase_ = Phase::kHolding;
    if (!session_->link().queue().empty()) {
      if (stopped) {
        session_->link().Cancel();
      } else {
        session_->link().ClearQueue(link::EndCause::kCancelled);
      }
    }
    end.reason = ReasonOf(end.step, end.plan, end.detail);
    RunEnd record{end.ending.kind, end.reason};
    record.failed_step = end.step;
    record.failed_plan = end.plan;
    record.image_action = ImageActionSoFar();
    end.holds = HoldsAtEnd(false, end);
    record.holds_json = HoldsToJson(*end.holds);
    if (const EndWriting written = spool_.Record(*store_, run_, record); written.where != EndWriting::Where::kStore) {
      end.reason += "; " + written.text;
      NoteSpooled(written);
    }
  }
  EndUnit(std::move(end));
}

void PositionWorker::EndUnit(UnitEnd end, const std::string& done_at) {
  if (phase_ == Phase::kFinished) return;
  wait_.reset();
  end.position = index_;
  end.port = position_.port;
  if (end.reason.empty()) end.reason = ReasonOf(end.step, end.plan, end.detail);
  if (phase_ != Phase::kIdle || end.state != LineState::kStopped) rule_.UnitEnded(end.state);
  phase_ = options_.once ? Phase::kFinished : Phase::kHolding;
  PositionEvent event = Event();
  event.state = end.state;
  event.step = end.step;
  event.plan = end.plan;
  event.serial = end.serial;
  event.cause = end.cause;
  event.detail = end.detail;
  event.done_at = done_at;
  event.holds = end.holds;
  if (end.state == LineState::kDone || end.state == LineState::kFailed || end.state == LineState::kStopped) {
    event.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - job_began_);
  }
  if (session_ && phase_ == Phase::kHolding) {
    ended_unit_ = session_->model();
    ended_event_ = event;
  }
  Emit(std::move(event));
  trace_.reset();
  if (sinks_.unit_ended) sinks_.unit_ended(end);
  if (options_.once) {
    ticker_.stop();
    if (sinks_.finished) sinks_.finished();
  }
}

// A single run's line that never polled ends as the window's watchdog ends
// it, with a record of its own.
void PositionWorker::NoModem() {
  UnitEnd end;
  end.step = JobStep::kConnect;
  end.cause = FailureCause::kLinkCleared;
  end.detail = link::kLogNotConnected;
  AppendLog(link::kLogNotConnected);
  end.holds = HoldsAtEnd(false, end);
  RunEnd record{RunResult::kFailed, end.detail};
  record.holds_json = HoldsToJson(*end.holds);
  if (auto run = store_->StartRun(StartFor())) store_->FinishRun(*run.value, record);
  end.reason = end.detail;
  EndUnit(std::move(end));
}

void PositionWorker::StopNewJobs() {
  stop_new_ = true;
  DropWaitBeforeJob();
  if (options_.once && phase_ != Phase::kRunning && phase_ != Phase::kFinished) {
    FailJob(FailureCause::kStopped, "");
  }
  if (sinks_.stop_taken) sinks_.stop_taken();
}

void PositionWorker::StopRunning(int signal, const std::string& why) {
  stop_new_ = true;
  DropWaitBeforeJob();
  if (phase_ == Phase::kRunning || (options_.once && phase_ != Phase::kFinished)) {
    FailJob(FailureCause::kStopped, why, signal);
  }
  if (sinks_.stop_taken) sinks_.stop_taken();
}

void PositionWorker::SetProgressPosition(int position) {
  if (phase_ != Phase::kRunning || progress_maximum_ <= 0) return;
  const int percent = std::clamp(100 * (progress_maximum_ - position) / progress_maximum_, 0, 100);
  if (percent == percent_) return;
  percent_ = percent;
  Emit(Event());
}

PositionEvent PositionWorker::Event() const {
  PositionEvent event;
  event.position = index_;
  event.state = rule_.state();
  event.adapter_serial = position_.adapter_serial;
  if (phase_ == Phase::kRunning && step_ < steps_.size()) {
    event.step = steps_[step_].kind;
    event.plan = steps_[step_].plan;
    // The probe and the write, a plan's replacing and its upload, are one
    // step to the views; the check sends nothing.
    const auto shown = [this](std::size_t end) {
      return static_cast<int>(std::count_if(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(end),
                                            [](const Step& s) { return s.shown(); }));
    };
    event.step_index = shown(step_ + 1) + (steps_[step_].shown() ? 0 : 1);
    event.steps = shown(steps_.size()) - 1;
    event.percent = percent_;
    event.serial = given_serial_;
  }
  if (wait_) {
    event.state = LineState::kWaitingRecords;
    event.detail = wait_detail_;
  }
  return event;
}

void PositionWorker::Emit(PositionEvent event) {
  if (sinks_.event) sinks_.event(event);
}

void PositionWorker::Later(std::function<void()> work) { QTimer::singleShot(0, &context_, std::move(work)); }

}  // namespace orvane::station
