#include "cli/port_run.h"

#include <sys/stat.h>

#include <QEventLoop>
#include <sstream>
#include <QTimer>

#include "cli/signals.h"
#include "serial/port_diagnosis.h"
#include "serial/settings.h"
#include "cli/messages.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {


// The link's own line for the way an operation was cut short.
const char* CauseLine(link::EndCause cause) {
  switch (cause) {
    case link::EndCause::kVerifyFailed: return link::kLogVerifyError;
    case link::EndCause::kNoAnswer: return link::kLogNoAnswer;
    case link::EndCause::kNotConnected: return link::kLogNotConnected;
    default: return link::kLogQueueCleared;
  }
}

std::uintmax_t FileSize(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
}

}  // namespace

OnePortRun::OnePortRun(Options options, Console console)
    : options_(std::move(options)),
      console_(console),
      connection_({.append_log = [this](const std::string& line) { AppendLog(line); },
                   .open_failed = [this](const std::string& name) { PortFailed(name); },
                   .bytes_moved =
                       [this](std::size_t count) {
                         bytes_moved_ += count;
                         if (progress_) progress_->CountBytes(count);
                       },
                   .guard = nullptr}),
      session_(*this) {
  if (console_.err_is_terminal && !options_.quiet) progress_.emplace(console_.err);
  connection_.SetPortChoice(choice_);
  connection_.Attach(session_.link());
  session_.link().SetTracer(this);
}

OnePortRun::~OnePortRun() { session_.link().SetTracer(nullptr); }

PortResult OnePortRun::Run(std::vector<Step> steps) {
  steps_ = std::move(steps);
  result_.port = options_.port.value_or("");
  if (options_.trace_path) {
    std::string error;
    trace_ = TraceWriter::Open(*options_.trace_path, &error);
    if (!trace_) {
      Fail(RunEnding::Refused(), error, true);
      return result_;
    }
  }
  AppendLog(device::kLogStart);
  SignalWatch stop_signals([this](int signal) { Interrupt(signal); });
  if (Connect()) {
    QEventLoop loop;
    exit_loop_ = [&loop] { loop.exit(); };
    loop.exec();
    exit_loop_ = nullptr;
  }
  if (progress_) progress_->Clear();
  return result_;
}

// The window's on-show sequence. With --port the stored setting is still
// loaded, for the same log lines, and the given name then replaces it.
bool OnePortRun::Connect() {
  if (const auto problem = serial::SettingsProblem()) PrintError(console_, *problem);
  try {
    connection_.port().LoadPortSetting();
  } catch (const serial::SettingsError& failure) {
    PrintError(console_, failure.what());
    if (!options_.port) {
      Fail(RunEnding::Failed(), failure.what(), false);
      return false;
    }
  }
  if (options_.port) choice_.SetText(*options_.port);
  if (result_.port.empty()) result_.port = choice_.Text();
  connection_.OpenLinkPort();
  if (phase_ == Phase::kFinished) return false;
  session_.StartAfresh();
  return true;
}

// The log has only its one line for a port that will not open; the reason
// and what to do about it follow on stderr.
void OnePortRun::PortFailed(const std::string& name) {
  if (phase_ == Phase::kFinished) return;
  if (options_.quiet) PrintError(console_, serial::kLogPortFailed);
  // No name at all is input the user has to give, not a failed link.
  if (name.empty()) {
    return Fail(RunEnding::Refused(), NoPortChosen(), true);
  }
  Fail(RunEnding::Failed(), serial::DiagnosePort(name).Text(), true);
}

void OnePortRun::AppendLog(const std::string& line) {
  if (trace_) trace_->Log(line);
  if (options_.quiet) return;
  if (progress_) {
    progress_->WriteAbove(line);
  } else {
    std::fprintf(console_.err, "%s\n", line.c_str());
    std::fflush(console_.err);
  }
}

// The end of an operation moves the run on: the connecting refresh starts
// the first step, the end of a step's last refresh ends the step. Both wait
// for the current event to finish, since the port has just been closed
// under it.
void OnePortRun::OperationEnded(const link::OperationEnd& outcome) {
  if (phase_ == Phase::kFinished || stopping_) return;
  switch (outcome.kind) {
    case link::OperationEnd::Kind::kRefused:
      refusal_ = device::RefusalText(outcome.refusal);
      return;
    case link::OperationEnd::Kind::kCleared:
      return LinkFailed(outcome);
    case link::OperationEnd::Kind::kDone:
      if (phase_ == Phase::kConnecting) {
        phase_ = Phase::kStep;
        return Later([this] { StartStep(); });
      }
      return Later([this] { EndStep(); });
  }
}

void OnePortRun::LinkFailed(const link::OperationEnd& outcome) {
  if (phase_ == Phase::kStep && step().kind == Step::Kind::kVerify &&
      outcome.cause == link::EndCause::kVerifyFailed) {
    // A verify that found a difference has a result all the same: where.
    result_.verify = VerifyResult{step().path, FileSize(step().path), outcome.verify_offset, !outcome.verify_offset};
    result_.device = session_.model();
  } else if (options_.quiet) {
    PrintError(console_, CauseLine(outcome.cause));
  }
  Fail(RunEnding::Failed(), CauseLine(outcome.cause), false);
}

// Told to stop: nothing more is sent, the port closes (its settings as they
// were before), the log says what the operation leaves on the console, and
// the run ends with the signal.
void OnePortRun::Interrupt(int signal) {
  if (phase_ == Phase::kFinished) return;
  stopping_ = true;
  session_.link().Cancel();
  Fail(RunEnding::Stopped(signal), StoppedBy(signal), true);
}

void OnePortRun::StartStep() {
  if (phase_ == Phase::kFinished) return;
  step_begun_ = true;
  declined_.reset();
  refusal_.reset();
  queued_file_.reset();
  directory_check_.reset();
  written_fields_.reset();
  const Listing before = ListingOf(session_.model().directory);
  try {
    Act(step());
  } catch (const device::FileError& failure) {
    return Fail(RunEnding::Refused(), failure.what(), true);
  }
  if (phase_ == Phase::kFinished) return;
  if (declined_) return Fail(RunEnding::Refused(), *declined_, true);
  if (refusal_) return Fail(RunEnding::Refused(), *refusal_, true);
  if (step().kind == Step::Kind::kStatus) return EndStep();
  if (session_.link().queue().empty()) {
    return Fail(RunEnding::Refused(), l10n::Tr("nothing was sent to the console"), true);
  }
  ExpectDirectory(step(), before);
}

// The step's own action, with the same operations as the window's handler.
void OnePortRun::Act(const Step& step) {
  switch (step.kind) {
    case Step::Kind::kStatus:
      return;
    case Step::Kind::kPut:
      queued_file_ = session_.AddFileAction();
      return;
    case Step::Kind::kDelete: {
      const int files = session_.model().directory.count();
      if (step.file_number > files) {
        declined_ = l10n::Format(l10n::TrN("no file number %1$d: the console shows %2$d file",
                                           "no file number %1$d: the console shows %2$d files",
                                           static_cast<unsigned long>(files)),
                                 step.file_number, files);
        return;
      }
      return session_.DeleteFileAtRow(step.file_number);
    }
    case Step::Kind::kErase:
      return session_.EraseAll();
    case Step::Kind::kFlash:
      return session_.Reflash();
    case Step::Kind::kVerify:
      OpenLinkPort();
      session_.VerifyFirmware(step.path);
      return;
    case Step::Kind::kConstants: {
      // The given fields replace what the refresh read, as if typed into the
      // window's controls (the address limits are those of their change
      // events).
      device::ConstantsFields& fields = session_.model().fields;
      ConstantsChange change = step.constants;
      if (step.serial_source) {
        std::int32_t serial = 0;
        if (auto error = step.serial_source(fields.serial_number, serial)) {
          declined_ = *error;
          return;
        }
        change.serial_number = serial;
      }
      if (change.identifier) fields.identifier = *change.identifier;
      if (change.time_zone) fields.time_zone = *change.time_zone;
      if (change.summer) fields.summer_index = *change.summer;
      if (change.local_address) fields.local_address = device::LimitLocalAddress(*change.local_address);
      if (change.global_address) fields.global_address = device::LimitGlobalAddress(*change.global_address);
      if (change.serial_number) fields.serial_number = *change.serial_number;
      written_fields_ = fields;
      return session_.SaveConstants();
    }
  }
}

// What the refresh at the end of the step must show, against the directory
// read before it: the file a put queued (stored name, type, data length),
// the numbered file gone, or no file at all.
void OnePortRun::ExpectDirectory(const Step& step, const Listing& before) {
  switch (step.kind) {
    case Step::Kind::kPut:
      if (queued_file_) {
        directory_check_ = DirectoryCheck::ForPut(
            before, {queued_file_->name, queued_file_->type, static_cast<long>(queued_file_->size)});
      }
      return;
    case Step::Kind::kDelete:
      directory_check_ = DirectoryCheck::ForDelete(before, step.file_number);
      return;
    case Step::Kind::kErase:
      directory_check_ = DirectoryCheck::ForErase();
      return;
    default:
      return;
  }
}

// What the console reads back after a save must be what was written.
std::optional<std::string> OnePortRun::ConstantsFailure() const {
  if (!written_fields_) return std::nullopt;
  const device::ConstantsFields& shown = session_.model().fields;
  const device::ConstantsFields& written = *written_fields_;
  auto differs = [](const char* name, const auto& read, const auto& sent) {
    std::ostringstream shown_text, sent_text;
    shown_text << read;
    sent_text << sent;
    return l10n::Format(l10n::Tr("the console shows %1$s %2$s after saving %3$s"), name, shown_text.str().c_str(),
                        sent_text.str().c_str());
  };
  if (shown.identifier != written.identifier) return differs("id", "\"" + shown.identifier + "\"", "\"" + written.identifier + "\"");
  if (shown.time_zone != written.time_zone) return differs("tz", shown.time_zone, written.time_zone);
  if (shown.summer_index != written.summer_index) return differs("summer", shown.summer_index, written.summer_index);
  if (shown.local_address != written.local_address) return differs("local", shown.local_address, written.local_address);
  if (shown.global_address != written.global_address) {
    return differs("global", shown.global_address, written.global_address);
  }
  if (shown.serial_number != written.serial_number) return differs("serial", shown.serial_number, written.serial_number);
  return std::nullopt;
}

// The step's last refresh has been answered: the step succeeds only when the
// directory shows what it was to do.
void OnePortRun::EndStep() {
  if (phase_ == Phase::kFinished) return;
  if (directory_check_) {
    if (const auto failure = directory_check_->Failure(ListingOf(session_.model().directory))) {
      return Fail(RunEnding::Failed(), *failure, true);
    }
  }
  if (const auto failure = ConstantsFailure()) return Fail(RunEnding::Failed(), *failure, true);
  if (step().kind == Step::Kind::kVerify) result_.verify = VerifyResult{step().path, FileSize(step().path), {}, false};
  if (++step_ < steps_.size()) return StartStep();
  Done();
}

void OnePortRun::Done() {
  result_.end = RunEnding::Done();
  result_.device = session_.model();
  Finish();
}

// show: the error is the tool's own words, printed on stderr; the link's
// lines are already in the log.
void OnePortRun::Fail(const RunEnding& end, const std::string& error, bool show) {
  if (phase_ == Phase::kFinished) return;
  if (progress_) progress_->Clear();
  if (show) PrintError(console_, error);
  result_.end = end;
  result_.error = error;
  Finish();
}

void OnePortRun::Finish() {
  phase_ = Phase::kFinished;
  if (progress_) progress_->Clear();
  if (exit_loop_) exit_loop_();
}

void OnePortRun::Later(std::function<void()> work) { QTimer::singleShot(0, &context_, std::move(work)); }

bool OnePortRun::WriteData(const std::uint8_t* bytes, std::uint16_t count) {
  return connection_.WriteData(bytes, count);
}

void OnePortRun::SetProgressMaximum(int maximum) {
  if (progress_) progress_->SetMaximum(maximum);
  progress_state_.maximum = maximum;
}

void OnePortRun::SetProgressPosition(int position) {
  if (progress_) progress_->SetPosition(position);
  progress_state_.position = position;
  ReportProgress();
}

void OnePortRun::ReportProgress() {
  if (!progress_listener_ || phase_ != Phase::kStep) return;
  progress_state_.step = step_;
  progress_state_.steps = steps_.size();
  progress_state_.kind = step().kind;
  progress_listener_(progress_state_);
}

// The progress line counts the queue in the messages' language itself.
void OnePortRun::SetQueueCounter(const std::string&) {}

// The window's warning box becomes a question on the terminal; without a
// terminal only --yes answers it.
bool OnePortRun::ConfirmWarning(const std::string& text) {
  auto declined = Confirm(text, options_.yes, console_, [this] {
    if (progress_) progress_->Clear();
  });
  if (!declined) return true;
  declined_ = std::move(*declined);
  return false;
}

std::optional<std::string> OnePortRun::ChooseFile(const device::FileChoice&) { return step().path; }

void OnePortRun::FrameSent(std::span<const std::uint8_t> frame) {
  if (trace_) trace_->FrameSent(frame);
}

void OnePortRun::FrameReceived(const link::FrameView& frame) {
  if (trace_) trace_->FrameReceived(frame);
}

void OnePortRun::Decision(link::LinkDecision decision, const link::QueueEntry* head) {
  if (trace_) trace_->Decision(decision, head);
}

}  // namespace orvane::cli
