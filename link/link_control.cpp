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
  }
  return "?";
}

bool LinkControl::Enqueue(std::uint8_t command, std::span<const std::uint8_t> data,
                          std::uint8_t length) {
  if (length < 1 || length > kMaxLength || data.size() < std::size_t{length} - 1u) return false;
  QueueEntry entry;
  entry.length = length;
  entry.command = command;
  std::copy_n(data.begin(), length - 1, entry.data.begin());
  queue_.Push(entry);
  owner_.SetProgressMaximum(static_cast<int>(queue_.size()));
  RefreshProgress();
  return true;
}

void LinkControl::PopQueue() {
  queue_.PopHead();
  head_sends_ = 0;
  if (queue_.empty()) {
    owner_.AppendLog(kLogDone);
    owner_.CloseLinkPort();
  }
  RefreshProgress();
}

void LinkControl::ClearQueue() {
  head_sends_ = 0;
  duplicates_owed_ = 0;
  if (!queue_.empty()) {
    queue_.Clear();
    owner_.AppendLog(kLogQueueCleared);
  }
  RefreshProgress();
}

void LinkControl::SendHead() {
  if (queue_.empty()) return;
  const std::vector<std::uint8_t> frame = BuildFrame(queue_.head());
  if (tracer_) tracer_->FrameSent(frame);
  if (owner_.WriteData(frame.data(), static_cast<std::uint16_t>(frame.size()))) {
    ++head_sends_;
  } else if (tracer_) {
    tracer_->Decision(LinkDecision::kWriteRefused, &queue_.head());
  }
}

void LinkControl::QueueRefresh() { Enqueue(kDirectory, {}, 1); }

void LinkControl::RefreshProgress() {
  owner_.SetProgressPosition(static_cast<int>(queue_.size()));
  owner_.SetQueueCounter(QueueCounterText(queue_.size()));
}

void LinkControl::ReceiveData(const std::uint8_t* bytes, std::size_t count) {
  receive_.Deliver(bytes, count, [this](const FrameView& frame) { DispatchFrame(frame); });
}

void LinkControl::DispatchFrame(const FrameView& frame) {
  // A frame of L = 0 has no command byte (offset 5 is its checksum); it can
  // only ever carry the unused code 0x9E, so it is ignored like one.
  if (frame.length() == 0) return;
  if (tracer_) tracer_->FrameReceived(frame);
  const std::uint8_t code = frame.command();
  if (code == kPoll) {
    // Copies still owed by the device answer before it polls again; one that
    // has not come by now was lost, and every answer from here on is to what
    // this poll sends.
    duplicates_owed_ = 0;
    SendHead();
    if (!connected_) {
      owner_.AppendLog(kLogConnected);
      owner_.Refresh();
    }
    connected_ = true;
    owner_.StopWatchdog();
    owner_.StartWatchdog();
    return;
  }
  if (code >= kFirmwareWrite && code <= kConstantsRead) {
    HandleBlockResponse(frame);
  } else if (code >= kDirectory && code <= kFileChunk) {
    HandleFileResponse(frame);
  }
}

// Codes 1 to 5: pop when the code and the first data byte match the head; the
// response's own handling runs whether or not it matched.
void LinkControl::HandleBlockResponse(const FrameView& frame) {
  duplicates_owed_ = 0;
  if (!ResponseComplete(frame)) return;
  const std::uint8_t code = frame.command();
  if (!queue_.empty() && queue_.head().command == code && queue_.head().length >= 2 &&
      frame.data(0) == queue_.head().data[0]) {
    PopQueue();
  }
  switch (code) {
    case kFirmwareVerify:
    case kConstantsVerify:
      if (frame.data(2) != 0) {
        owner_.AppendLog(kLogVerifyError);
        ClearQueue();
      }
      break;
    case kConstantsRead:
      owner_.HandleConstants(frame);
      break;
    default:
      break;
  }
}

// A device that polled again before our answer reached it got the same head
// twice and answers it twice, both before its next poll. Once the head is
// popped on the first answer, the further answers of that code up to the next
// poll are owed copies and must not pop the entry behind it. A response of
// another code, or a poll, shows no copy is still on its way; so a resend that
// was caused by a lost answer costs at most the one answer taken for a copy
// before the next poll, and the count never carries over to later commands.
bool LinkControl::IsLateDuplicate(std::uint8_t code) {
  if (code != duplicate_code_) duplicates_owed_ = 0;
  if (duplicates_owed_ == 0) return false;
  --duplicates_owed_;
  return true;
}

// Codes 16 to 22: matched by code alone; the handler runs before the pop, so
// whatever it queues lands behind the entries already waiting.
void LinkControl::HandleFileResponse(const FrameView& frame) {
  const std::uint8_t code = frame.command();
  if (IsLateDuplicate(code)) return;
  if (queue_.empty() || queue_.head().command != code || !ResponseComplete(frame)) return;
  // Nothing ties these answers to one request, so an answer can only be taken
  // for a head that has gone out: one that comes before the head was ever
  // sent is a late copy of an earlier answer. Every entry popped has thus
  // reached the line at least once.
  if (head_sends_ == 0) return;
  switch (code) {
    case kDirectory: owner_.HandleDirectory(frame); break;
    case kFileDetails: owner_.HandleFileDetails(frame); break;
    case kFreeSpace: owner_.HandleFreeSpace(frame); break;
    case kEraseAll:
    case kCreateFile: QueueRefresh(); break;
    default: break;
  }
  const std::size_t copies = head_sends_ > 0 ? head_sends_ - 1 : 0;
  PopQueue();
  duplicate_code_ = code;
  duplicates_owed_ = copies;
}

void LinkControl::WatchdogExpired() {
  owner_.AppendLog(kLogNotConnected);
  owner_.CloseLinkPort();
  owner_.StopWatchdog();
}

}  // namespace orvane::link
