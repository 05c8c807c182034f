#include "link/link_control.h"

#include <algorithm>
#include <cstdio>

namespace orvane::link {

std::string QueueCounterText(std::size_t count) {
  char text[64];
  std::snprintf(text, sizeof text, "Очередь команд: %zu.", count);
  return text;
}

const char* LinkDecisionName(LinkDecision decision) {
  switch (decision) {
    case LinkDecision::kResend: return "resend";
    case LinkDecision::kWithheld: return "withheld";
    case LinkDecision::kCopyAbsorbed: return "copy absorbed";
    case LinkDecision::kIgnored: return "ignored";
    case LinkDecision::kWriteRefused: return "write refused";
    case LinkDecision::kStalled: return "stalled";
    case LinkDecision::kBarrier: return "barrier";
    case LinkDecision::kProbe: return "count probe";
  }
  return "?";
}

namespace {

// Owners of barrier frames live in their own range, apart from queue entries.
constexpr std::uint64_t kBarrierOwner = std::uint64_t{1} << 63;

constexpr AnswerKey kProbeKey{kDirectory, -1};

const CommandInfo& Info(std::uint8_t command) {
  static const CommandInfo kNone;
  const CommandInfo* info = FindCommand(command);
  return info ? *info : kNone;
}
bool IsVerifyFailure(const FrameView& frame) { return Info(frame.command()).verifies && frame.data(2) != 0; }

}  // namespace

bool LinkControl::Enqueue(std::uint8_t command, std::span<const std::uint8_t> data,
                          std::uint8_t length) {
  if (length < 1 || length > kMaxLength || data.size() < std::size_t{length} - 1u) return false;
  QueueEntry entry;
  entry.length = length;
  entry.command = command;
  std::copy_n(data.begin(), length - 1, entry.data.begin());
  const bool was_empty = queue_.empty();
  queue_.Push(entry);
  if (was_empty) NewHead();
  host_.SetProgressMaximum(static_cast<int>(queue_.size()));
  RefreshProgress();
  return true;
}

void Leftover::Count(const QueueEntry& entry) {
  ++entries;
  switch (entry.command) {
    case kFirmwareWrite: ++firmware_writes; break;
    case kFirmwareVerify: ++firmware_verifies; break;
    case kCreateFile: ++file_creates; break;
    case kFileChunk: ++file_chunks; break;
    default: break;
  }
}

// The body runs as one input of the link; an operation it ends is reported
// once the outermost such input has been handled.
template <class Body>
void LinkControl::Reporting(Body&& body) {
  ++reporting_;
  try {
    body();
  } catch (...) {
    --reporting_;
    throw;
  }
  if (--reporting_ == 0) ReportEnd();
}

const char* LeftoverLine(const OperationEnd& outcome) {
  if (outcome.kind != OperationEnd::Kind::kCleared) return nullptr;
  const Leftover& left = outcome.left;
  if (left.firmware_written) {
    if (outcome.cause == EndCause::kVerifyFailed && outcome.verify_command == kFirmwareVerify) {
      return kLogProgramDiffers;
    }
    if (left.firmware_writes > 0) return kLogProgramIncomplete;
    if (left.firmware_verifies > 0) return kLogProgramUnverified;
  }
  return left.file_in_progress ? kLogFileIncomplete : nullptr;
}

void LinkControl::ReportEnd() {
  while (ended_) {
    const OperationEnd outcome = std::move(*ended_);
    ended_.reset();
    if (const char* line = LeftoverLine(outcome)) host_.AppendLog(line);
    host_.OperationEnded(outcome);
  }
}

void LinkControl::End(OperationEnd outcome) {
  ++operation_;
  outcome.left.firmware_written = firmware_written_;
  firmware_written_ = false;
  ended_ = std::move(outcome);
}

// What the queue holds. A file is half written when the first file command
// in the queue is a data chunk (its create was answered), or a create that
// has gone out unanswered.
Leftover LinkControl::LeftInQueue() const {
  Leftover left;
  left.head_sent = head_sends_ > 0;
  for (std::size_t i = 0; i < queue_.size(); ++i) {
    const std::uint8_t command = queue_.at(i).command;
    if (left.file_creates + left.file_chunks == 0) {
      left.file_in_progress = command == kFileChunk || (command == kCreateFile && i == 0 && left.head_sent);
    }
    left.Count(queue_.at(i));
  }
  return left;
}

void LinkControl::PopQueue() {
  Reporting([this] {
    queue_.PopHead();
    NewHead();
    if (queue_.empty()) {
      End(OperationEnd::Done());
      host_.AppendLog(kLogDone);
      host_.CloseLinkPort();
    }
    RefreshProgress();
  });
}

void LinkControl::ClearQueue(EndCause cause) {
  Reporting([&] {
    if (!queue_.empty()) {
      const Leftover left = LeftInQueue();
      queue_.Clear();
      End(OperationEnd::Cleared(closing_for_.value_or(cause), left));
      host_.AppendLog(kLogQueueCleared);
    }
    NewHead();
    RefreshProgress();
  });
}

// The port is closed by the link itself; the host's close empties the queue,
// and that clearing carries the link's cause.
void LinkControl::CloseFor(EndCause cause) {
  closing_for_ = cause;
  host_.CloseLinkPort();
  closing_for_.reset();
  ClearQueue(cause);
}

// A new head (or none): its stall clock starts with the first frame the
// link sends for it, and a probe of the head before is of no more use.
void LinkControl::NewHead() {
  head_sends_ = 0;
  head_since_.reset();
  probe_owner_ = 0;
  probing_ = false;
  count_before_.reset();
}

void LinkControl::SendHead() {
  if (queue_.empty()) return;
  if (SendFrame(BuildFrame(queue_.head()), RequestKey(queue_.head()), queue_.head_id())) {
    ++head_sends_;
    if (queue_.head().command == kFirmwareWrite) firmware_written_ = true;
  }
}

// Writes a frame and, when the port took it, records it in flight. A frame
// that changes the directory makes every count read before it stale.
bool LinkControl::SendFrame(const std::vector<std::uint8_t>& frame, AnswerKey key, std::uint64_t owner) {
  const auto now = Now();
  if (!queue_.empty() && !head_since_) head_since_ = now;
  if (tracer_) tracer_->FrameSent(frame);
  if (!host_.WriteData(frame.data(), static_cast<std::uint16_t>(frame.size()))) {
    Trace(LinkDecision::kWriteRefused);
    return false;
  }
  const std::uint64_t serial = in_flight_.Record(
      {.key = key,
       .owner = owner,
       .operation = operation_,
       .poll = polls_,
       .offset = frame.size() > 8 ? static_cast<std::uint16_t>(frame[6] | (frame[7] << 8)) : std::uint16_t{0},
       .at = now});
  if (Info(key.command).changes_directory) {
    last_change_serial_ = serial;
    count_.reset();
  }
  return true;
}

void LinkControl::QueueRefresh() { Enqueue(kDirectory, {}, 1); }

void LinkControl::RefreshProgress() {
  host_.SetProgressPosition(static_cast<int>(queue_.size()));
  host_.SetQueueCounter(QueueCounterText(queue_.size()));
}

void LinkControl::Trace(LinkDecision decision) {
  if (tracer_) tracer_->Decision(decision, queue_.empty() ? nullptr : &queue_.head());
}

void LinkControl::ReceiveData(const std::uint8_t* bytes, std::size_t count) {
  Reporting([&] {
    delivering_ = true;
    poll_pending_ = false;
    receive_.Deliver(bytes, count, [this](const FrameView& frame) { DispatchFrame(frame); });
    delivering_ = false;
    if (poll_pending_) {
      poll_pending_ = false;
      AnswerPoll();
    }
  });
}

void LinkControl::DispatchFrame(const FrameView& frame) {
  Reporting([&] { Dispatch(frame); });
}

void LinkControl::Dispatch(const FrameView& frame) {
  // A frame of L = 0 has no command byte (offset 5 is its checksum); it can
  // only ever carry the unused code 0x9E, so it is ignored like one.
  if (frame.length() == 0) return;
  if (tracer_) tracer_->FrameReceived(frame);
  const std::uint8_t code = frame.command();
  if (code == kPoll) {
    ++polls_;
    const bool had_head = !queue_.empty();
    if (!connected_) {
      host_.AppendLog(kLogConnected);
      handlers_.Refresh();
    }
    connected_ = true;
    host_.StopWatchdog();
    host_.StartWatchdog();
    if (!queue_.empty() && head_since_ && Now() - *head_since_ >= kStallLimit) return Stall();
    if (delivering_) {
      poll_pending_ = had_head;
    } else if (had_head) {
      AnswerPoll();
    }
    return;
  }
  if (!FindCommand(code)) return;
  poll_pending_ = false;
  HandleAnswer(frame);
}

// The sending rule (see the class comment) for one poll.
void LinkControl::AnswerPoll() {
  if (queue_.empty()) return;
  const auto now = Now();
  in_flight_.Expire(now);
  const std::uint64_t head = queue_.head_id();
  const std::uint8_t command = queue_.head().command;
  const AnswerKey key = RequestKey(queue_.head());
  if (in_flight_.HeldByOther(key, head) || in_flight_.Unknown(key)) return SendBarrier(command, now);
  if (!Info(command).safe_to_repeat) return AnswerCareful(now);
  if (!ResendDue(head, command, now)) return Trace(LinkDecision::kWithheld);
  if (head_sends_ > 0) Trace(LinkDecision::kResend);
  SendHead();
}

// Whether the owner's frame goes out (again) at this poll: at once when none
// is in flight; while fewer than kMaxQuickCopies are, at once for a firmware
// chunk or on a prompt line; otherwise once the newest copy has waited the
// resend time-out, which then backs off. Copies a device dropped unread are
// never answered, so a full set of copies waits only for the time-out.
bool LinkControl::ResendDue(std::uint64_t owner, std::uint8_t command, Clock::time_point now) {
  const std::size_t copies = in_flight_.CountOf(owner);
  if (copies == 0) return true;
  if (copies < kMaxQuickCopies && (Info(command).quick_copies || prompt_.Prompt())) return true;
  if (now - in_flight_.NewestOf(owner)->at < timer_.Timeout()) return false;
  timer_.BackOff();
  return true;
}

// A create or a delete (see rule 3 of the class comment): with its frame in
// flight, it waits like any head, and then its count is read instead of a
// second send; with none in flight, it goes out once the count before it is
// known.
void LinkControl::AnswerCareful(Clock::time_point now) {
  const std::uint64_t head = queue_.head_id();
  if (probing_) return SendProbe(now);
  if (in_flight_.CountOf(head) > 0) {
    if (!ResendDue(head, queue_.head().command, now)) return Trace(LinkDecision::kWithheld);
    probing_ = true;
    return SendProbe(now);
  }
  if (!CountKnown()) {
    probing_ = true;
    return SendProbe(now);
  }
  count_before_ = count_->files;
  if (head_sends_ > 0) Trace(LinkDecision::kResend);
  SendHead();
}

// The count probe is a directory request of an owner of its own; like an
// entry, it goes out only while no other frame with its key may be answered,
// so that its answer is known to be its own.
void LinkControl::SendProbe(Clock::time_point now) {
  if (probe_owner_ == 0) {
    probe_owner_ = kBarrierOwner | ++barriers_;
    probe_sends_ = 0;
  }
  if (in_flight_.HeldByOther(kProbeKey, probe_owner_) || in_flight_.Unknown(kProbeKey)) {
    return SendBarrier(kDirectory, now);
  }
  if (!ResendDue(probe_owner_, kDirectory, now)) return Trace(LinkDecision::kWithheld);
  Trace(LinkDecision::kProbe);
  if (SendFrame(BuildFrame(kDirectory, {}), kProbeKey, probe_owner_)) ++probe_sends_;
}

// A request that reads and changes nothing, with a key other than the
// blocked one's: its answer settles every frame sent before it. A poll left
// unanswered costs the device's whole reply window; a barrier costs one
// exchange, so it goes out at once, and again by the resend rule.
void LinkControl::SendBarrier(std::uint8_t blocked_command, Clock::time_point now) {
  const std::uint8_t code = Info(blocked_command).barrier;
  if (barrier_owner_ == 0 || in_flight_.CountOf(barrier_owner_) == 0) {
    barrier_owner_ = kBarrierOwner | ++barriers_;
    barrier_sends_ = 0;
  } else if (!ResendDue(barrier_owner_, code, now)) {
    return Trace(LinkDecision::kWithheld);
  }
  Trace(LinkDecision::kBarrier);
  if (SendFrame(BuildFrame(code, {}), {code, -1}, barrier_owner_)) ++barrier_sends_;
}

void LinkControl::HandleAnswer(const FrameView& frame) {
  // A response too short for what its handler reads counts as damaged; the
  // head goes out again.
  if (!ResponseComplete(frame)) return;
  const auto sent = in_flight_.TakeAnswer(ResponseKey(frame));
  if (!sent) return HandleUnmatched(frame);
  // Any directory answer of this operation tells the number of files, as of
  // its request or a later copy of it: current while no frame that changes
  // the directory has gone out since that request.
  if (frame.command() == kDirectory && sent->operation == operation_ && sent->serial > last_change_serial_) {
    count_ = DirectoryCount{frame.data(0), operation_};
  }
  if (barrier_owner_ != 0 && sent->owner == barrier_owner_) {
    Measure(*sent, barrier_sends_);
    barrier_owner_ = 0;
    return;
  }
  if (probe_owner_ != 0 && sent->owner == probe_owner_) return HandleProbeAnswer(frame, *sent);
  if (!queue_.empty() && sent->owner == queue_.head_id()) {
    Measure(*sent, head_sends_);
    return HandleHeadAnswer(frame);
  }
  // The answer to a copy of an entry already popped (or of a barrier or a
  // probe already answered). Only a failed verification still counts, and
  // only within its own operation.
  Trace(LinkDecision::kCopyAbsorbed);
  MeasureAllAnswered(*sent);
  if (sent->operation == operation_ && IsVerifyFailure(frame)) VerifyFailed(sent->offset, frame.command());
}

// The probe went out after every frame of the head, so each of them has been
// taken or dropped by now, and the count is the count after them. Before the
// head's first send it is simply the count before it.
void LinkControl::HandleProbeAnswer(const FrameView& frame, const InFlightFrames::Sent& sent) {
  Measure(sent, probe_sends_);
  probe_owner_ = 0;
  probing_ = false;
  if (queue_.empty() || !count_before_ || in_flight_.CountOf(queue_.head_id()) > 0) return;
  if (frame.data(0) == *count_before_) return;  // not applied: the next poll sends it again
  // Applied, its answer lost: the head ends as its answer would end it.
  const std::vector<std::uint8_t> answer = BuildFrame(queue_.head().command, {});
  HandleHeadAnswer(FrameView(std::span<const std::uint8_t>(answer).subspan(4, answer.size() - 5)));
}

// Codes 1 to 5 pop first and then run their handler; for 16 to 22 the
// handler runs first, so whatever it queues lands behind the waiting entries.
void LinkControl::HandleHeadAnswer(const FrameView& frame) {
  const std::uint8_t code = frame.command();
  if (code <= kConstantsRead) {
    const std::uint16_t offset = static_cast<std::uint16_t>(queue_.head().data[0] | (queue_.head().data[1] << 8));
    PopQueue();
    if (IsVerifyFailure(frame)) return VerifyFailed(offset, code);
    if (code == kConstantsRead) handlers_.HandleConstants(frame);
    return;
  }
  switch (code) {
    case kDirectory: handlers_.HandleDirectory(frame); break;
    case kFileDetails: handlers_.HandleFileDetails(frame); break;
    case kFreeSpace: handlers_.HandleFreeSpace(frame); break;
    case kEraseAll:
    case kCreateFile: QueueRefresh(); break;
    default: break;
  }
  PopQueue();
}

// An answer to no frame in flight pops nothing. While the head has the same
// code, two such answers still count: a failed verification (of another chunk
// or block) ends the verify pass, and a constants block with another header
// ends the read as a wrong block does.
void LinkControl::HandleUnmatched(const FrameView& frame) {
  Trace(LinkDecision::kIgnored);
  if (queue_.empty() || queue_.head().command != frame.command()) return;
  if (IsVerifyFailure(frame)) return VerifyFailed(std::nullopt, frame.command());
  if (frame.command() == kConstantsRead && ResponseKey(frame) != RequestKey(queue_.head())) {
    handlers_.HandleConstants(frame);
  }
}

// The device reported a difference. When the answer also popped the last
// entry, the operation it ended counts as failed all the same.
void LinkControl::VerifyFailed(std::optional<std::uint16_t> offset, std::uint8_t command) {
  Reporting([&] {
    host_.AppendLog(kLogVerifyError);
    std::optional<OperationEnd> popped_last;
    if (ended_ && ended_->done()) popped_last = ended_;
    ClearQueue(EndCause::kVerifyFailed);
    if (popped_last) {
      ended_ = OperationEnd::Cleared(EndCause::kVerifyFailed, {});
      ended_->left.firmware_written = popped_last->left.firmware_written;
    }
    if (!ended_ || ended_->cause != EndCause::kVerifyFailed) return;
    ended_->verify_command = command;
    if (command == kFirmwareVerify) ended_->verify_offset = offset;
  });
}

// Karn's rule: only an answer to an entry sent once tells how long answers
// take and whether they come before the next poll. An entry sent more often
// is remembered, in case every one of its frames is answered.
void LinkControl::Measure(const InFlightFrames::Sent& sent, std::size_t sends) {
  if (sends >= 2) all_answered_ = {sent.owner, sends, 1, sent.at, Now()};
  if (sends != 1) return;
  timer_.Sample(std::chrono::duration_cast<RetransmitTimer::Duration>(Now() - sent.at));
  prompt_.Answer(polls_ == sent.poll);
}

// Every frame of an owner sent several times has been answered: answers keep
// the order of their frames, so the first answer was the first frame's, the
// resends were needless, and the first answer's time is exact. That holds
// only while no later frame with the key (another owner's) is in flight,
// which one of the answers might have answered instead. Without this sample
// a device slower than the time-out would have every answer come after a
// resend, and the time-out would never learn it.
void LinkControl::MeasureAllAnswered(const InFlightFrames::Sent& sent) {
  if (all_answered_.owner == 0 || sent.owner != all_answered_.owner) return;
  if (++all_answered_.answers < all_answered_.sends) return;
  all_answered_.owner = 0;
  if (in_flight_.HeldByOther(sent.key, sent.owner)) return;
  timer_.Sample(std::chrono::duration_cast<RetransmitTimer::Duration>(all_answered_.answered - all_answered_.sent));
}

void LinkControl::Stall() {
  Trace(LinkDecision::kStalled);
  host_.AppendLog(kLogNoAnswer);
  ClearQueue(EndCause::kNoAnswer);
  host_.CloseLinkPort();
}

// Ends whatever the program waited for, also when nothing was queued yet (a
// console that never polled).
void LinkControl::WatchdogExpired() {
  Reporting([this] {
    EndWith(kLogNotConnected, EndCause::kNotConnected);
    host_.StopWatchdog();
  });
}

void LinkControl::PortLost() {
  Reporting([this] { EndWith(kLogPortLost, EndCause::kPortLost); });
}

void LinkControl::Cancel() {
  Reporting([this] { EndWith(kLogCancelled, EndCause::kCancelled); });
}

void LinkControl::EndWith(const char* line, EndCause cause) {
  host_.AppendLog(line);
  CloseFor(cause);
  if (!ended_) End(OperationEnd::Cleared(cause, {}));
}

}  // namespace orvane::link
