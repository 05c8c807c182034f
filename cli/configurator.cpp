#include "cli/configurator.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <cstring>

#include "cli/input_checks.h"
#include "cli/log_verdict.h"
#include "cli/report.h"
#include "link/cp1251.h"
#include "link/link_control.h"
#include "serial/port_diagnosis.h"
#include "serial/port_names.h"
#include "serial/settings.h"

namespace orvane::cli {
namespace {

constexpr const char* kLogStart = "Запуск программы";

bool IsRefusal(const std::string& status) {
  return status == device::kStatusFileTooBig || status == device::kStatusFirmwareTooBig ||
         status == device::kStatusPlanTooShort || status == device::kStatusNameTooLong;
}

// A yes in either of the answers a Russian or an English user would type.
bool IsYes(std::string answer) {
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' ')) {
    answer.pop_back();
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "д" ||
         answer == "Д" || answer == "да" || answer == "Да";
}

}  // namespace

const char* WarningOf(Command command) {
  if (command == Command::kErase) return device::kEraseWarning;
  if (command == Command::kFlash) return device::kReflashWarning;
  return nullptr;
}

bool AskOnTerminal(const std::string& warning, const Console& console) {
  std::string question = warning;
  for (std::size_t at; (at = question.find("\n\r")) != std::string::npos;) question.replace(at, 2, "\n");
  std::fprintf(console.err, "%s [y/N] ", question.c_str());
  std::fflush(console.err);
  char answer[64] = {};
  return std::fgets(answer, sizeof answer, console.in) != nullptr && IsYes(answer);
}

Configurator::Configurator(Options options, Console console)
    : options_(std::move(options)),
      console_(console),
      session_(*this),
      link_port_(&comm_, choice_,
                 {.append_log = [this](const std::string& line) { AppendLog(line); },
                  .clear_queue = [this] { session_.link().ClearQueue(); },
                  .rearm_watchdog = [this] { RearmWatchdog(); }}) {
  if (console_.err_is_terminal && !options_.quiet) progress_.emplace(console_.err);
  session_.link().SetTracer(this);
  serial::ConfigureLinkComm(comm_);
  comm_.OnReceiveData = [this](const std::uint8_t* bytes, std::uint16_t count) {
    bytes_received_ += count;
    if (progress_) progress_->CountBytes(count);
    session_.link().ReceiveData(bytes, count);
  };
  // Timer1: the 10-second watchdog, counting from the window's creation.
  watchdog_.setInterval(kWatchdogMs);
  QObject::connect(&watchdog_, &QTimer::timeout, &context_, [this] { session_.link().WatchdogExpired(); });
  watchdog_.start();
}

Configurator::~Configurator() {
  comm_.OnReceiveData = nullptr;
  comm_.Close();
}

int Configurator::Run() {
  if (options_.command == Command::kPorts) return RunPorts();
  if (const auto refusal = CheckFileToSend(options_.command, options_.path)) {
    Error(*refusal);
    return kExitRefused;
  }
  if (options_.trace_path) {
    std::string error;
    trace_ = TraceWriter::Open(*options_.trace_path, &error);
    if (!trace_) {
      Error(error);
      return kExitRefused;
    }
  }
  AppendLog(kLogStart);
  if (!ShowSequence()) return status_;
  QEventLoop loop;
  exit_loop_ = [&loop](int status) { loop.exit(status); };
  loop.exec();
  exit_loop_ = nullptr;
  if (progress_) progress_->Clear();
  return status_;
}

int Configurator::RunPorts() {
  link_port_.ScanPorts();
  std::vector<serial::PortInfo> found;
  for (const std::string& name : choice_.List()) found.push_back(serial::DescribePort(name));
  const std::string text = options_.json ? FormatPortsJson(found) : FormatPorts(found, options_.verbose);
  std::fputs(text.c_str(), console_.out);
  std::fflush(console_.out);
  return kExitDone;
}

// The window's on-show sequence. With --port the stored setting is still
// loaded, for the same log lines, and the given name then replaces it.
bool Configurator::ShowSequence() {
  if (const auto problem = serial::SettingsProblem()) Error(*problem);
  try {
    link_port_.LoadPortSetting();
  } catch (const serial::SettingsError& failure) {
    Error(failure.what());
    if (!options_.port) {
      status_ = kExitLinkFailed;
      return false;
    }
  }
  if (options_.port) choice_.SetText(*options_.port);
  link_port_.OpenLinkPort();
  if (phase_ == Phase::kFinished) return false;
  session_.FillTimeZoneFromSystem();
  session_.ResetFileTable();
  return true;
}

void Configurator::RearmWatchdog() {
  watchdog_.stop();
  watchdog_.start();
}

// The log as the window's pane would show it; the lines that end an
// operation also decide how the run ends. The success line comes from the
// pop of the last entry, before the constants answer has filled the
// fields, so the next step is taken once that answer is fully handled.
void Configurator::AppendLog(const std::string& line) {
  if (trace_) trace_->Log(line);
  if (!options_.quiet) {
    if (progress_) {
      progress_->WriteAbove(line);
    } else {
      std::fprintf(console_.err, "%s\n", line.c_str());
      std::fflush(console_.err);
    }
  }
  if (phase_ == Phase::kFinished) return;
  switch (JudgeLogLine(line)) {
    case LogVerdict::kOperationDone:
      if (phase_ == Phase::kConnecting) {
        phase_ = Phase::kAction;
        QTimer::singleShot(0, &context_, [this] { StartAction(); });
      } else {
        QTimer::singleShot(0, &context_, [this] { EndAction(); });
      }
      break;
    case LogVerdict::kLinkFailed:
      last_failure_ = line;
      Finish(kExitLinkFailed);
      break;
    case LogVerdict::kNone:
      break;
  }
}

bool Configurator::WriteData(const std::uint8_t* bytes, std::uint16_t count) {
  const bool queued = comm_.WriteData(bytes, count);
  if (queued) {
    bytes_written_ += count;
    if (progress_) progress_->CountBytes(count);
  }
  return queued;
}

void Configurator::SetProgressMaximum(int maximum) {
  if (progress_) progress_->SetMaximum(maximum);
}

void Configurator::SetProgressPosition(int position) {
  if (progress_) progress_->SetPosition(position);
}

void Configurator::SetQueueCounter(const std::string& text) {
  if (progress_) progress_->SetCounter(text);
}

// The window's warning box becomes a question on the terminal; without a
// terminal only --yes answers it.
bool Configurator::ConfirmWarning(const std::string& text) {
  if (options_.yes) return true;
  if (!console_.in_is_terminal) {
    declined_ = "not confirmed: give --yes to run this without a terminal";
    return false;
  }
  if (progress_) progress_->Clear();
  const bool yes = AskOnTerminal(text, console_);
  if (!yes) declined_ = "not confirmed";
  return yes;
}

std::optional<std::string> Configurator::ChooseFile(const device::FileChoice&) { return options_.path; }

void Configurator::ModelChanged(device::ModelPart part) {
  if (part == device::ModelPart::kStatus) status_text_set_ = true;
}

void Configurator::StartAction() {
  if (phase_ == Phase::kFinished) return;
  status_text_set_ = false;
  try {
    RunAction();
  } catch (const device::FileError& failure) {
    return Refuse(failure.what());
  }
  if (phase_ == Phase::kFinished) return;
  if (declined_) return Refuse(*declined_);
  const std::string& status = session_.model().status_panel;
  if (status_text_set_ && IsRefusal(status)) return Refuse(status);
  if (options_.command != Command::kStatus && session_.link().queue().empty()) {
    return Refuse("nothing was sent to the console");
  }
  ExpectDirectory();
}

// What the refresh at the end of the action must show, against the
// directory read before it. The file a put expects is the one its create
// command describes: the stored name and the data length of its header.
void Configurator::ExpectDirectory() {
  const Listing before = ListingOf(session_.model().directory);
  if (options_.command == Command::kPut) {
    if (queued_file_) {
      directory_check_ = DirectoryCheck::ForPut(before, {queued_file_->name, queued_file_->type,
                                                         static_cast<long>(queued_file_->size)});
    }
  } else if (options_.command == Command::kDelete) {
    directory_check_ = DirectoryCheck::ForDelete(before, options_.file_number);
  } else if (options_.command == Command::kErase) {
    directory_check_ = DirectoryCheck::ForErase();
  }
}

// The action's last refresh has been answered: the run succeeds only when
// the directory shows what the action was to do.
void Configurator::EndAction() {
  if (directory_check_) {
    if (const auto failure = directory_check_->Failure(ListingOf(session_.model().directory))) {
      Error(*failure);
      return Finish(kExitLinkFailed);
    }
  }
  Finish(kExitDone);
}

// The command's own action, with the same operations as the window's
// handler; status has none and ends with the refresh.
void Configurator::RunAction() {
  switch (options_.command) {
    case Command::kStatus:
      return Finish(kExitDone);
    case Command::kPut:
      queued_file_ = session_.AddFileAction();
      return;
    case Command::kDelete: {
      const int files = session_.model().directory.count();
      if (options_.file_number > files) {
        return Refuse("no file number " + std::to_string(options_.file_number) + ": the console shows " +
                      std::to_string(files) + (files == 1 ? " file" : " files"));
      }
      return session_.DeleteFileAtRow(options_.file_number);
    }
    case Command::kErase:
      return session_.EraseAll();
    case Command::kFlash:
      return session_.Reflash();
    case Command::kVerify:
      OpenLinkPort();
      session_.VerifyFirmware(options_.path);
      return;
    case Command::kConstants:
      ApplyConstants();
      return session_.SaveConstants();
    case Command::kPorts:
      return;
  }
}

// The given fields replace what the refresh read, as if typed into the
// window's controls (the address limits are those of their change events).
void Configurator::ApplyConstants() {
  device::ConstantsFields& fields = session_.model().fields;
  const ConstantsChange& change = options_.constants;
  if (change.identifier) fields.identifier = *change.identifier;
  if (change.time_zone) fields.time_zone = *change.time_zone;
  if (change.summer) fields.summer_index = *change.summer;
  if (change.local_address) fields.local_address = device::LimitLocalAddress(*change.local_address);
  if (change.global_address) fields.global_address = device::LimitGlobalAddress(*change.global_address);
  if (change.serial_number) fields.serial_number = *change.serial_number;
}

void Configurator::Finish(int status) {
  if (phase_ == Phase::kFinished) return;
  phase_ = Phase::kFinished;
  status_ = status;
  if (progress_) progress_->Clear();
  if (status == kExitDone || VerifyDiffered()) {
    PrintResult();
  } else if (status == kExitLinkFailed && last_failure_) {
    if (options_.quiet) Error(*last_failure_);
    if (*last_failure_ == kLogPortFailed) ExplainPortFailure();
  }
  if (exit_loop_) exit_loop_(status);
}

// The log has only its one line for a port that will not open; the reason
// and what to do about it follow on stderr.
void Configurator::ExplainPortFailure() {
  const std::string name = choice_.Text();
  if (name.empty()) {
    return Error("no port chosen: give --port NAME (orvane-cli ports lists the ports found)");
  }
  Error(serial::DiagnosePort(name).Text());
}

// A verify that found a difference has a result all the same: where.
bool Configurator::VerifyDiffered() const {
  return options_.command == Command::kVerify && (verify_watch_.first_difference() || verify_watch_.unexplained());
}

void Configurator::PrintResult() {
  const device::DeviceModel& model = session_.model();
  std::string text;
  if (options_.command == Command::kVerify) {
    struct stat info{};
    ::stat(options_.path.c_str(), &info);
    const VerifyResult verify{options_.path, static_cast<std::uintmax_t>(info.st_size),
                              verify_watch_.first_difference(), verify_watch_.unexplained()};
    if (options_.json) {
      Json json = ModelJson(model);
      json["verify"] = VerifyJson(verify);
      text = DumpJson(json) + "\n";
    } else {
      text = FormatTable(model) + "\n" + FormatVerify(verify);
    }
  } else {
    text = options_.json ? FormatJson(model) : FormatTable(model);
  }
  std::fputs(text.c_str(), console_.out);
  std::fflush(console_.out);
}

void Configurator::FrameSent(std::span<const std::uint8_t> frame) {
  if (trace_) trace_->FrameSent(frame);
  verify_watch_.FrameSent(frame);
}

void Configurator::FrameReceived(const link::FrameView& frame) {
  if (trace_) trace_->FrameReceived(frame);
  verify_watch_.FrameReceived(frame);
}

void Configurator::Decision(link::LinkDecision decision, const link::QueueEntry* head) {
  if (trace_) trace_->Decision(decision, head);
}

void Configurator::Refuse(const std::string& text) {
  Error(text);
  Finish(kExitRefused);
}

void Configurator::Error(const std::string& text) {
  if (progress_) progress_->Clear();
  std::fprintf(console_.err, "orvane-cli: %s\n", text.c_str());
  std::fflush(console_.err);
}

}  // namespace orvane::cli
