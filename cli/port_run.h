// A run on one port: the window's connection and device session without the
// window. It opens the port the way the window's on-show sequence does,
// waits for the console's first refresh, then runs its steps one after the
// other on that connection, each ending when the link reports its operation
// done and the directory shows what the step was to do. The log goes to
// stderr (with a progress line on a terminal); the end is one PortResult.
#pragma once

#include <QObject>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/port_result.h"
#include "cli/progress.h"
#include "cli/trace.h"
#include "device/host.h"
#include "device/session.h"
#include "serial/connection.h"
#include "station/directory_check.h"

namespace orvane::cli {

using station::DirectoryCheck;
using station::Listing;
using station::ListingOf;

class OnePortRun final : public device::Host, private link::LinkTracer {
 public:
  // options.port names the port; without it the stored ComPort is used.
  OnePortRun(Options options, Console console);
  ~OnePortRun() override;

  // Runs the steps under the running QCoreApplication; the log and the
  // tool's own messages are written on the way, the result is returned.
  PortResult Run(std::vector<Step> steps);
  // Hears of the run's progress at every change of its queue.
  void SetProgressListener(std::function<void(const RunProgress&)> listener) { progress_listener_ = std::move(listener); }

  const device::Session& session() const { return session_; }
  // The step the run was in when it ended (the one that failed), or nothing
  // when it ended before its first step began.
  std::optional<std::size_t> ended_in_step() const {
    return step_begun_ ? std::optional<std::size_t>(std::min(step_, steps_.size() - 1)) : std::nullopt;
  }
  std::size_t bytes_moved() const { return bytes_moved_; }  // both ways

  // device::Host
  void AppendLog(const std::string& line) override;
  void OpenLinkPort() override { connection_.OpenLinkPort(); }
  void CloseLinkPort() override { connection_.CloseLinkPort(); }
  bool WriteData(const std::uint8_t* bytes, std::uint16_t count) override;
  void StopWatchdog() override { connection_.StopWatchdog(); }
  void StartWatchdog() override { connection_.StartWatchdog(); }
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;
  void SetQueueCounter(const std::string& text) override;
  bool ConfirmWarning(const std::string& text) override;
  std::optional<std::string> ChooseFile(const device::FileChoice& choice) override;
  void ModelChanged(device::ModelPart) override {}
  void OperationEnded(const link::OperationEnd& outcome) override;

 private:
  enum class Phase { kConnecting, kStep, kFinished };

  // link::LinkTracer: the trace file sees every frame.
  void FrameSent(std::span<const std::uint8_t> frame) override;
  void FrameReceived(const link::FrameView& frame) override;
  void Decision(link::LinkDecision decision, const link::QueueEntry* head) override;

  bool Connect();
  void PortFailed(const std::string& name);
  void StartStep();
  void Act(const Step& step);
  void ExpectDirectory(const Step& step, const Listing& before);
  std::optional<std::string> ConstantsFailure() const;
  void EndStep();
  void LinkFailed(const link::OperationEnd& outcome);
  void Interrupt(int signal);
  void ReportProgress();
  void Done();
  void Fail(const RunEnding& end, const std::string& error, bool show);
  void Finish();
  void Later(std::function<void()> work);
  const Step& step() const { return steps_[step_]; }

  Options options_;
  Console console_;
  std::optional<ProgressLine> progress_;
  QObject context_;  // receiver of the deferred steps
  serial::SimplePortChoice choice_;
  serial::Connection connection_;
  device::Session session_;
  std::unique_ptr<TraceWriter> trace_;
  std::vector<Step> steps_;
  std::size_t step_ = 0;
  Phase phase_ = Phase::kConnecting;
  PortResult result_;
  // What the current step's action left to decide once it has returned.
  std::optional<std::string> declined_;
  std::optional<std::string> refusal_;
  std::optional<device::QueuedFile> queued_file_;
  std::optional<DirectoryCheck> directory_check_;
  std::optional<device::ConstantsFields> written_fields_;
  std::function<void()> exit_loop_;
  std::size_t bytes_moved_ = 0;
  bool stopping_ = false;
  bool step_begun_ = false;
  std::function<void(const RunProgress&)> progress_listener_;
  RunProgress progress_state_;
};

}  // namespace orvane::cli
