// Link control: answers each device poll with the head of the command queue,
// matches responses to the head, finishes an operation when the queue runs
// empty, and gives up when the watchdog expires.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "link/command_queue.h"
#include "link/commands.h"
#include "link/frame.h"
#include "link/in_flight.h"
#include "link/operation_end.h"
#include "link/retransmit_timer.h"

namespace orvane::link {

// What the program that runs the link supplies (the window, the
// command-line tool or a test): the log, the link port and its watchdog, the
// progress display, and where the end of each operation is reported.
class LinkHost {
 public:
  virtual ~LinkHost() = default;

  virtual void AppendLog(const std::string& line) = 0;  // UTF-8, one line
  virtual void CloseLinkPort() = 0;
  virtual bool WriteData(const std::uint8_t* bytes, std::uint16_t count) = 0;
  virtual void StopWatchdog() = 0;
  virtual void StartWatchdog() = 0;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetQueueCounter(const std::string& text) = 0;
  // Once per operation, after the link has handled whatever ended it (the
  // answer, the expiry, the clearing call); the log lines are already written.
  virtual void OperationEnded(const OperationEnd& outcome) = 0;
};

// The device operations' side of the link: the refresh run on the first
// poll and the handlers of the answers that carry data. Each handler gets
// the whole frame view and checks its length.
class ResponseHandlers {
 public:
  virtual ~ResponseHandlers() = default;

  virtual void Refresh() = 0;
  virtual void HandleConstants(const FrameView& frame) = 0;    // 5
  virtual void HandleDirectory(const FrameView& frame) = 0;    // 16
  virtual void HandleFileDetails(const FrameView& frame) = 0;  // 17
  virtual void HandleFreeSpace(const FrameView& frame) = 0;    // 18
};

// What the link control decided about a frame or the head, for a trace.
enum class LinkDecision {
  kResend,        // the head went out again: its answer did not come in time
  kWithheld,      // a poll was not answered: the head is in flight and young
  kCopyAbsorbed,  // an answer was taken as the answer to an earlier copy
  kIgnored,       // an answer that does not belong to the head
  kWriteRefused,  // the port did not take the head's frame
  kStalled,       // the head stayed unanswered too long: the operation ends
  kBarrier,       // a barrier went out to settle an earlier copy
  kProbe,         // a directory count went out ahead of a create or a delete
};
const char* LinkDecisionName(LinkDecision decision);

// Observer of everything that crosses the link and of the link control's own
// decisions; the command-line tool writes it to a trace file. Calls happen on
// the thread that drives the link control, in the order of events.
class LinkTracer {
 public:
  virtual ~LinkTracer() = default;
  // A whole frame as handed to the port (sync to checksum).
  virtual void FrameSent(std::span<const std::uint8_t> frame) = 0;
  // A good received frame as the dispatcher sees it (length byte on).
  virtual void FrameReceived(const FrameView& frame) = 0;
  virtual void Decision(LinkDecision decision, const QueueEntry* head) = 0;
};

std::string QueueCounterText(std::size_t count);  // "Очередь команд: %d."

// The link control answers the device's polls with the head of the queue and
// pops the head when the device has answered it. Since answers carry no
// sequence number, the rule for sending is what keeps them attributable. It
// relies on two things only: the device answers the frames it takes in the
// order it reads them, and the line keeps its order both ways.
//
// 1. At most one entry per answer key in flight (see InFlightFrames): an
//    entry is sent only when no frame of another entry with the same key may
//    still be answered. When a needless resend leaves such a copy behind, the
//    next entry with that key waits, and a barrier goes out instead (a
//    free-space or directory request, which changes nothing on the device):
//    its answer comes after the copy's, if the copy is answered at all, and
//    proves every older frame answered or lost. A key whose frame record was
//    forgotten (too old, or too many records) is unknown and holds its next
//    entry back the same way until a barrier's answer has settled it.
// 2. Stop and wait: a poll that comes while the head is in flight and younger
//    than the resend time-out (RetransmitTimer) sends nothing; after it, the
//    head goes out again. Two exceptions send a copy at every poll, a few
//    copies at most: firmware chunks, whose answers echo the chunk's offset,
//    and any head while the device has been answering before its next poll
//    (PromptAnswers), when a poll without an answer means a loss. The
//    time-out's back-off stops at twice the largest recent answer time plus
//    a margin: a polled line loses frames one by one, it does not congest.
//    The time-out decides only how soon a copy goes; whatever it is, a copy
//    costs at most a barrier, never a wrong attribution.
// 3. A create or a delete is never sent blindly a second time: a device that
//    applies every frame it takes would make a second file or delete another
//    one. Before its first send the link knows the number of files: the last
//    directory count it read in this operation, if no frame that changes the
//    directory went out after that count's request; otherwise it reads the
//    count first (a count probe: a directory request whose answer goes to no
//    handler). When the answer does not come in time, the link reads the
//    count again, and sends the command again only when the count is what it
//    was before; any other count means the device applied it, and the head
//    ends as if answered. The probe goes out after the command, so its answer
//    comes after the command's (or the command was never taken): the count
//    is the count after it. Like an entry, a probe goes out only while no
//    other frame with its key may be answered, so its answer is its own. A
//    count of an earlier operation is not used: the port was closed in
//    between, and another program may have changed the device; reading it
//    again costs one exchange per create or delete. A device that ignores a
//    create (a full directory) still answers it, so counts are compared only
//    when an answer is lost.
// 4. Only the newest poll of one delivery is answered: an earlier poll was
//    followed by more frames, so the device has gone past it.
// 5. An answer pops the head only when it answers a frame of the head; an
//    answer to an earlier copy is absorbed, and one from an earlier operation
//    changes nothing at all.
// 6. A head left unanswered for kStallLimit after the link first sent a frame
//    for it (the head, a barrier or a probe ahead of it) while the device
//    keeps polling ends the operation: logged, queue cleared, port closed.
//
// Every operation ends in one OperationEnd reported to the host (LinkHost::
// OperationEnded) once the input that ended it has been handled.
class LinkControl {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kStallLimit = std::chrono::seconds(10);
  // Copies in flight at most that go out without waiting for the time-out.
  static constexpr std::size_t kMaxQuickCopies = 4;

  LinkControl(LinkHost& host, ResponseHandlers& handlers) : host_(host), handlers_(handlers) {}

  // Appends a command; refuses (returns false, queues nothing) an L outside
  // 1 to 250, which would not fit the outgoing frame buffer, or data shorter
  // than L - 1 bytes.
  bool Enqueue(std::uint8_t command, std::span<const std::uint8_t> data, std::uint8_t length);
  bool Enqueue(std::uint8_t command, std::span<const std::uint8_t> data) {
    return data.size() + 1 <= kMaxLength &&
           Enqueue(command, data, static_cast<std::uint8_t>(data.size() + 1));
  }
  void PopQueue();
  // Drops every queued entry; a non-empty queue ends its operation with the
  // cause given (kPortClosed: the port closed under it, unless the link
  // itself is closing the port for a cause of its own).
  void ClearQueue(EndCause cause = EndCause::kPortClosed);
  // Writes the head's frame (when there is a head) and counts it in flight.
  void SendHead();
  void QueueRefresh();
  void DispatchFrame(const FrameView& frame);
  void WatchdogExpired();  // Timer1Timer
  // The port hung up or failed: the operation ends at once, the port is
  // closed and the queue cleared, without waiting for the watchdog.
  void PortLost();
  // The program stops: nothing more is sent, the port is closed and the
  // queue cleared.
  void Cancel();

  // Receive entry of the serial port's data event.
  void ReceiveData(const std::uint8_t* bytes, std::size_t count);

  void SetTracer(LinkTracer* tracer) { tracer_ = tracer; }
  // The time source; tests give a clock of their own.
  void SetClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  bool LinkConnected() const { return connected_; }
  const CommandQueue& queue() const { return queue_; }
  // Frames of the current head written so far.
  std::size_t head_sends() const { return head_sends_; }
  const RetransmitTimer& retransmit_timer() const { return timer_; }
  bool prompt() const { return prompt_.Prompt(); }
  std::size_t frames_in_flight() const { return in_flight_.size(); }
  const InFlightFrames& in_flight() const { return in_flight_; }

 private:
  void Dispatch(const FrameView& frame);
  void AnswerPoll();
  void SendBarrier(std::uint8_t blocked_command, Clock::time_point now);
  void AnswerCareful(Clock::time_point now);
  void SendProbe(Clock::time_point now);
  void HandleProbeAnswer(const FrameView& frame, const InFlightFrames::Sent& sent);
  bool CountKnown() const { return count_ && count_->operation == operation_; }
  bool SendFrame(const std::vector<std::uint8_t>& frame, AnswerKey key, std::uint64_t owner);
  void HandleAnswer(const FrameView& frame);
  void HandleHeadAnswer(const FrameView& frame);
  void HandleUnmatched(const FrameView& frame);
  void VerifyFailed(std::optional<std::uint16_t> offset, std::uint8_t command);
  void Stall();
  void CloseFor(EndCause cause);
  void EndWith(const char* line, EndCause cause);
  Leftover LeftInQueue() const;
  void End(OperationEnd outcome);
  void ReportEnd();
  template <class Body>
  void Reporting(Body&& body);
  void NewHead();
  bool ResendDue(std::uint64_t owner, std::uint8_t command, Clock::time_point now);
  void Measure(const InFlightFrames::Sent& sent, std::size_t sends);
  void MeasureAllAnswered(const InFlightFrames::Sent& sent);
  void Trace(LinkDecision decision);
  Clock::time_point Now() const { return now_ ? now_() : Clock::now(); }
  void RefreshProgress();

  LinkHost& host_;
  ResponseHandlers& handlers_;
  LinkTracer* tracer_ = nullptr;
  std::function<Clock::time_point()> now_;
  CommandQueue queue_;
  ReceiveBuffer receive_;
  InFlightFrames in_flight_;
  RetransmitTimer timer_;
  PromptAnswers prompt_;
  std::uint64_t polls_ = 0;
  bool connected_ = false;
  std::size_t head_sends_ = 0;
  // When the link first sent a frame for the current head: the stall clock.
  std::optional<Clock::time_point> head_since_;
  // An operation runs from the first entry queued into an empty queue until
  // the queue is empty again; answers to frames of an earlier one are inert.
  std::uint64_t operation_ = 0;
  // The barrier in flight, if any: its owner identity and how often it went out.
  std::uint64_t barrier_owner_ = 0;
  std::uint64_t barriers_ = 0;
  std::size_t barrier_sends_ = 0;
  // The count probe of the current head (a create or a delete), if any: its
  // owner identity, how often it went out, and whether the head waits for it.
  std::uint64_t probe_owner_ = 0;
  std::size_t probe_sends_ = 0;
  bool probing_ = false;
  // The number of files on the device as of the newest directory answer of
  // this operation, while no frame that changes the directory has gone out
  // since its request; the serial of the newest such frame; and the count
  // before the current head's last send, for a create or a delete.
  struct DirectoryCount {
    std::uint8_t files = 0;
    std::uint64_t operation = 0;
  };
  std::optional<DirectoryCount> count_;
  std::uint64_t last_change_serial_ = 0;
  std::optional<std::uint8_t> count_before_;
  // An owner sent several times whose first answer has come: if every one of
  // its frames is answered, the first answer was the first frame's, and its
  // time is a true sample of the answer time.
  struct AllAnswered {
    std::uint64_t owner = 0;
    std::size_t sends = 0, answers = 0;
    Clock::time_point sent, answered;
  };
  AllAnswered all_answered_;
  // Inside ReceiveData: a poll is answered once the delivery is parsed, and
  // only if no other frame followed it.
  bool delivering_ = false;
  bool poll_pending_ = false;
  // The end of the current operation, held until the input that ended it has
  // been handled; reporting_ counts the entry points on the stack.
  std::optional<OperationEnd> ended_;
  int reporting_ = 0;
  // While the link closes the port itself: the cause the clearing carries.
  std::optional<EndCause> closing_for_;
  // A firmware write chunk has gone out in the current operation.
  bool firmware_written_ = false;
};

}  // namespace orvane::link
