// Link control: answers each device poll with the head of the command queue,
// matches responses to the head, finishes an operation when the queue runs
// empty, and gives up when the watchdog expires.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/command_queue.h"
#include "link/commands.h"
#include "link/frame.h"

namespace orvane::link {

// Everything the link control needs from its owner (the window, the
// command-line tool or a test).
class LinkOwner {
 public:
  virtual ~LinkOwner() = default;

  virtual void AppendLog(const std::string& line) = 0;  // UTF-8, one line
  virtual void CloseLinkPort() = 0;
  virtual bool WriteData(const std::uint8_t* bytes, std::uint16_t count) = 0;
  virtual void StopWatchdog() = 0;
  virtual void StartWatchdog() = 0;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetQueueCounter(const std::string& text) = 0;
  virtual void Refresh() = 0;  // the Refresh action, run on the first poll

  // Response handlers; each gets the whole frame view and checks its length.
  virtual void HandleConstants(const FrameView& frame) = 0;    // 5
  virtual void HandleDirectory(const FrameView& frame) = 0;    // 16
  virtual void HandleFileDetails(const FrameView& frame) = 0;  // 17
  virtual void HandleFreeSpace(const FrameView& frame) = 0;    // 18
};

inline constexpr const char* kLogDone = "Операция успешно завершена.";
inline constexpr const char* kLogQueueCleared = "Очередь команд очищена!";
inline constexpr const char* kLogConnected = "Установлена связь с модемом.";
inline constexpr const char* kLogNotConnected = "Модем не подключен!";
inline constexpr const char* kLogVerifyError = "Ошибка верификации записанных данных!";
// The head went unanswered for kStallLimit while the device kept polling.
inline constexpr const char* kLogNoAnswer = "Модем не отвечает на команды!";

// What the link control decided about a frame or the head, for a trace.
enum class LinkDecision {
  kResend,        // the head went out again: its answer did not come in time
  kWithheld,      // a poll was not answered: the head is in flight and young
  kCopyAbsorbed,  // an answer was taken as the answer to an earlier copy
  kIgnored,       // an answer that does not belong to the head
  kWriteRefused,  // the port did not take the head's frame
  kStalled,       // the head stayed unanswered too long: the operation ends
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

class LinkControl {
 public:
  explicit LinkControl(LinkOwner& owner) : owner_(owner) {}

  // Appends a command; refuses (returns false, queues nothing) an L outside
  // 1 to 250, which would not fit the outgoing frame buffer, or data shorter
  // than L - 1 bytes.
  bool Enqueue(std::uint8_t command, std::span<const std::uint8_t> data, std::uint8_t length);
  bool Enqueue(std::uint8_t command, std::span<const std::uint8_t> data) {
    return data.size() + 1 <= kMaxLength &&
           Enqueue(command, data, static_cast<std::uint8_t>(data.size() + 1));
  }
  void PopQueue();
  void ClearQueue();
  void SendHead();
  void QueueRefresh();
  void DispatchFrame(const FrameView& frame);
  void WatchdogExpired();  // Timer1Timer

  // Receive entry of the serial port's data event.
  void ReceiveData(const std::uint8_t* bytes, std::size_t count);

  void SetTracer(LinkTracer* tracer) { tracer_ = tracer; }

  bool LinkConnected() const { return connected_; }
  const CommandQueue& queue() const { return queue_; }
  std::size_t head_sends() const { return head_sends_; }

 private:
  void RefreshProgress();
  void HandleBlockResponse(const FrameView& frame);
  void HandleFileResponse(const FrameView& frame);
  bool IsLateDuplicate(std::uint8_t code);

  LinkOwner& owner_;
  LinkTracer* tracer_ = nullptr;
  CommandQueue queue_;
  ReceiveBuffer receive_;
  bool connected_ = false;
  // Late-duplicate guard for the codes matched by code alone (16 to 22): how
  // often the current head went out, and how many further answers of the code
  // just popped are still owed by the device for its earlier copies.
  std::size_t head_sends_ = 0;
  std::uint8_t duplicate_code_ = 0;
  std::size_t duplicates_owed_ = 0;
};

}  // namespace orvane::link
