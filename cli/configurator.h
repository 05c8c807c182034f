// The configurator without a window: a Host for the device session that
// writes the log to stderr, drives the link port through the serial
// component, and runs one command the way the window's handler does.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/directory_check.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/trace.h"
#include "cli/verify_watch.h"
#include "device/host.h"
#include "device/session.h"
#include "serial/link_port.h"
#include "serial/serial_comm.h"

namespace orvane::cli {

// Where a run writes and asks. The terminal flags decide the progress line
// and whether the erase and reflash questions can be asked.
struct Console {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::FILE* in = stdin;
  bool err_is_terminal = false;
  bool in_is_terminal = false;
};

inline constexpr int kWatchdogMs = 10000;

// The warning the window shows before the command's action (erase and
// reflash), or nullptr.
const char* WarningOf(Command command);

// The window's warning box as a question on the terminal: the warning, then
// [y/N]; true for a yes in English or Russian.
bool AskOnTerminal(const std::string& warning, const Console& console);

class Configurator final : public device::Host, private link::LinkTracer {
 public:
  Configurator(Options options, Console console);
  ~Configurator() override;

  // Runs the command to its end under the running QCoreApplication and
  // returns the exit status.
  int Run();

  const device::Session& session() const { return session_; }
  std::size_t bytes_written() const { return bytes_written_; }
  std::size_t bytes_received() const { return bytes_received_; }

  // device::Host
  void AppendLog(const std::string& line) override;
  void OpenLinkPort() override { link_port_.OpenLinkPort(); }
  void CloseLinkPort() override { link_port_.CloseLinkPort(); }
  bool WriteData(const std::uint8_t* bytes, std::uint16_t count) override;
  void StopWatchdog() override { watchdog_.stop(); }
  void StartWatchdog() override { watchdog_.start(); }
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;
  void SetQueueCounter(const std::string& text) override;
  bool ConfirmWarning(const std::string& text) override;
  std::optional<std::string> ChooseFile(const device::FileChoice& choice) override;
  void ModelChanged(device::ModelPart part) override;
  void OperationEnded(const link::Outcome&) override {}

 private:
  enum class Phase { kConnecting, kAction, kFinished };

  // link::LinkTracer: the trace file and the verify watch see every frame.
  void FrameSent(std::span<const std::uint8_t> frame) override;
  void FrameReceived(const link::FrameView& frame) override;
  void Decision(link::LinkDecision decision, const link::QueueEntry* head) override;

  int RunPorts();
  bool ShowSequence();
  void StartAction();
  void RunAction();
  void ExpectDirectory();
  void EndAction();
  void ApplyConstants();
  void Finish(int status);
  void PrintResult();
  void ExplainPortFailure();
  bool VerifyDiffered() const;
  void Refuse(const std::string& text);
  void Error(const std::string& text);
  void RearmWatchdog();

  Options options_;
  Console console_;
  std::optional<ProgressLine> progress_;
  QObject context_;  // receiver of the deferred steps and the watchdog
  QTimer watchdog_;
  serial::TSerialComm comm_;
  serial::SimplePortChoice choice_;
  device::Session session_;
  serial::LinkPort link_port_;
  Phase phase_ = Phase::kConnecting;
  int status_ = kExitDone;
  bool status_text_set_ = false;
  std::optional<std::string> declined_;
  std::optional<std::string> last_failure_;
  std::optional<DirectoryCheck> directory_check_;
  std::optional<device::QueuedFile> queued_file_;
  std::unique_ptr<TraceWriter> trace_;
  VerifyWatch verify_watch_;
  std::size_t bytes_written_ = 0;
  std::size_t bytes_received_ = 0;
  std::function<void(int)> exit_loop_;
};

}  // namespace orvane::cli
