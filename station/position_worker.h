// One station position for the whole session: it holds its port open,
// follows the line by the modem's polls (LineRule), reads each unit that
// arrives, decides whether it gets the job (DecideUnit) and runs the job in
// one connection, from the bytes the session read. Everything it does is
// told as typed values through its sinks; it lives in one thread, which
// also owns its record store connection.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/host.h"
#include "device/session.h"
#include "serial/link_port.h"
#include "serial/serial_comm.h"
#include "station/end_spool.h"
#include "station/events.h"
#include "station/job_snapshot.h"
#include "station/line_rule.h"
#include "station/record_store.h"
#include "station/records_wait.h"
#include "station/run_ending.h"
#include "station/session_lease.h"
#include "station/unit_decision.h"
#include "station/holds_at_end.h"
#include "station/unit_trace.h"

namespace orvane::station {

struct StationPosition {
  std::string port;            // COM3, or a device path
  std::string adapter_serial;  // the USB adapter's serial number, may be empty
  std::string name = {};       // the bench's name for it; empty: the port
  std::string socket = {};     // the hub socket's by-path name, may be empty
};

struct EngineOptions {
  LineTimes times;
  // Each position runs one unit's job and ends; a line with no polls for
  // `no_modem_wait` ends failed, as a single run without a modem does.
  bool once = false;
  std::chrono::milliseconds no_modem_wait{10000};
  // How often a position looks at its silent line: it only has to see a
  // silence of seconds, and sixteen idle positions then cost half a percent
  // of a core, not two and a half.
  std::chrono::milliseconds tick{100};
  std::chrono::milliseconds reopen{500};  // a lost port is looked for this often
  std::string version;
  // The file of a position's session trace (--trace; empty: none), beside
  // the trace each unit's run keeps with the records.
  std::function<std::string(const std::string& port)> trace_path;
  LeaseTimes lease;         // the session's hold on its positions
  std::int64_t session = 0;  // set by the engine: the records' session id
  std::string end_spool;     // where ends wait when the store is away; the engine fills it in
  std::string station;  // the bench's station name; empty: the host name
  // How long a job waits at a safe point for a record store that stopped
  // answering before its unit fails: a database server's restart or a
  // network blip is over in seconds, and an operator watching a line that
  // waits should know within half a minute. It also stays below the
  // session lease's lapse less one renewal (60 s - 10 s), so a store that
  // is back within the wait renews the lease before it lapses. A unit that
  // has not started its job waits without a bound (nothing is written to
  // it); a single run (`once`) waits as long as a job does.
  std::chrono::milliseconds records_wait{30000};
  // How often a waiting position asks the store again: one cheap round
  // trip, and the job goes on within a second of the store's return.
  std::chrono::milliseconds records_retry{1000};
};

// A unit's end on a position, for the session's rows and totals.
struct UnitEnd {
  std::size_t position = 0;
  std::string port;
  LineState state = LineState::kFailed;  // kDone, kAlreadyDone, kFailed, kStopped
  RunEnding ending;  // how its job ended; a unit already done is done
  JobStep step = JobStep::kNone;  // the step it failed in
  int plan = 0;
  FailureCause cause = FailureCause::kNone;
  std::string detail;
  std::string reason;  // as the record says it: "step: detail"
  std::optional<std::int64_t> serial;
  bool port_failed = false;  // the port would not open (a run with --once)
  std::optional<UnitHolds> holds;  // what the unit holds after a run; none when no run began
};

class PositionWorker final : public device::Host, private link::LinkTracer {
 public:
  struct Sinks {
    std::function<void(const PositionEvent&)> event;
    std::function<void(const UnitEnd&)> unit_ended;
    std::function<void(const std::string&)> log;
    std::function<void()> finished;  // once: this position is through
    // A stop has been taken: no job starts after it, and the end of any job
    // it stopped has been told before.
    std::function<void()> stop_taken;
  };

  PositionWorker(std::size_t index, StationPosition position, std::shared_ptr<const JobSnapshot> snapshot,
                 std::string store_location, EngineOptions options, Sinks sinks);
  ~PositionWorker() override;

  void Begin();
  void StopNewJobs();
  // `why` goes into the record's reason ("stopped by SIGINT").
  void StopRunning(int signal, const std::string& why);

  // device::Host
  void AppendLog(const std::string& line) override;
  void OpenLinkPort() override;
  // The station keeps its port open for the session: an operation's end
  // does not close it (the link has emptied its queue already).
  void CloseLinkPort() override {}
  bool WriteData(const std::uint8_t* bytes, std::uint16_t count) override;
  // The line rule stands for the watchdog.
  void StopWatchdog() override {}
  void StartWatchdog() override {}
  void SetProgressMaximum(int maximum) override { progress_maximum_ = maximum; }
  void SetProgressPosition(int position) override;
  void SetQueueCounter(const std::string&) override {}
  bool ConfirmWarning(const std::string&) override { return true; }  // asked once for the session
  std::optional<std::string> ChooseFile(const device::FileChoice&) override { return std::nullopt; }
  void ModelChanged(device::ModelPart) override {}
  void OperationEnded(const link::OperationEnd& outcome) override;

 private:
  // kWaiting: the unit is read, and its job waits for the record store.
  enum class Phase { kIdle, kIdentifying, kWaiting, kRunning, kHolding, kFinished };
  using Resume = std::function<void()>;
  using GiveUp = std::function<void(const std::string& reason)>;
  struct Step {
    JobStep kind;
    int plan = 0;  // 1-based for kPlan
    // The image's verify pass ahead of its write: a unit that holds the
    // image already is not written again.
    bool probe = false;
    // Ahead of a plan's upload without an erase: the unit's copies of it
    // are deleted, one an operation.
    bool replace = false;
    bool shown() const { return !probe && !replace; }
  };

  // link::LinkTracer: polls feed the line rule; a running job's trace
  // gets everything.
  void FrameSent(std::span<const std::uint8_t> frame) override;
  void FrameReceived(const link::FrameView& frame) override;
  void Decision(link::LinkDecision decision, const link::QueueEntry* head) override;
  void OpenTrace(RunStart& start);
  bool OpenSessionTrace();

  bool OpenPort();
  void PortLost();
  void Tick();
  void Apply(const LineChange& change);
  void ResetSession();
  void Identify();
  void Decide();
  void StartJob(const UnitVerdict& verdict);
  void RunStep();
  bool QueueStep(const Step& step);
  bool QueueConstants();
  std::optional<int> StoredCopyRow(int plan) const;
  void ProbeEnded(const link::OperationEnd& outcome);
  bool Probing() const;
  ImageAction ImageActionSoFar() const;
  UnitHolds HoldsAtEnd(bool done, const UnitEnd& end) const;
  void Check();
  void RecordDone(bool keep);
  std::optional<std::string> StoreOutage();
  bool WaitForRecords(Resume resume, GiveUp give_up);
  void WaitBeforeJob(const std::string& outage);
  void DropWaitBeforeJob();
  void RetryRecords(std::chrono::steady_clock::time_point now);
  void WriteKeptEnds(std::chrono::steady_clock::time_point now);
  void NoteSpooled(const EndWriting& written);
  void FailJob(FailureCause cause, const std::string& detail, int signal = 0);
  void EndUnit(UnitEnd end, const std::string& done_at = {});
  void NoModem();
  void TellJobChanged();
  void Emit(PositionEvent event);
  PositionEvent Event() const;
  void Later(std::function<void()> work);
  RunStart StartFor() const;
  std::string ReasonOf(JobStep step, int plan, const std::string& detail) const;

  std::size_t index_;
  StationPosition position_;
  std::shared_ptr<const JobSnapshot> snapshot_;
  std::string store_location_;
  std::string trace_folder_;  // empty: no traces
  std::unique_ptr<UnitTrace> trace_;  // the running unit's
  EngineOptions options_;
  Sinks sinks_;

  QObject context_;
  QTimer ticker_;
  std::unique_ptr<RecordStore> store_;
  std::unique_ptr<TraceWriter> session_trace_;  // --trace: the whole session of this position
  serial::TSerialComm comm_;
  serial::SimplePortChoice choice_;
  serial::LinkPort port_;
  std::unique_ptr<device::Session> session_;
  LineRule rule_;
  Phase phase_ = Phase::kIdle;
  bool stop_new_ = false;
  bool job_change_told_ = false;
  bool ever_polled_ = false;
  std::chrono::steady_clock::time_point began_{}, job_began_{}, last_open_try_{};

  // The record store that stopped answering: the wait, what the store said,
  // what follows its return and what follows the end of the wait.
  std::optional<RecordsWait> wait_;
  std::string wait_detail_;
  Resume resume_;
  GiveUp give_up_;
  bool store_answered_ = false;  // a probe just passed: a failure now is the operation's own
  // An end of this position was kept in the spool: written once the store answers.
  std::optional<RecordsWait> kept_ends_;

  // The current unit's job.
  UnitVerdict verdict_;
  std::optional<std::int64_t> unit_serial_;
  // The unit whose job ended on this line, as last read, and how its line
  // told it: a unit read again after a short silence is matched against it.
  std::optional<device::DeviceModel> ended_unit_;
  std::optional<PositionEvent> ended_event_;
  std::optional<std::int64_t> given_serial_;
  std::int64_t run_ = 0;
  bool image_written_ = false;  // the image's write pass was queued
  bool image_held_ = false;     // the probe found the image on the unit
  StepLeft step_left_ = StepLeft::kNotSeen;  // how the current step's operation ended
  std::vector<Step> steps_;
  std::size_t step_ = 0;
  int progress_maximum_ = 0;
  int percent_ = 0;
  RunEnd done_end_{RunResult::kDone, ""};
  EndSpool spool_{options_.end_spool};
};

}  // namespace orvane::station
