// The reader and writer threads that serve one open port. Neither calls the
// component: results travel as notifications to its NotifySink.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/comm_defs.h"
#include "serial/port_io.h"

namespace orvane::serial {

// A worker thread: created idle, started by Start, and waited for with a
// time-out. The bodies end on the close event; there is no other way to
// stop one.
class CommThread {
 public:
  virtual ~CommThread() = default;
  CommThread(const CommThread&) = delete;
  CommThread& operator=(const CommThread&) = delete;

  void Start();  // throws std::system_error when no thread can be created
  bool WaitFor(std::chrono::milliseconds limit);
  virtual void Execute() = 0;  // the thread body; tests also run it directly

 protected:
  CommThread() = default;
  void Join();  // called by each final destructor, before its members go

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable finished_changed_;
  bool finished_ = false;
};

class TReadThread final : public CommThread {
 public:
  static constexpr std::size_t kReadSize = 0x8000;

  TReadThread(PortIo& port, const CloseEvent& close_event, NotifySink& notify)
      : PortHandle(port), CloseEvent(close_event), NotifyWindow(notify) {}
  ~TReadThread() override { Join(); }
  void Execute() override;

 private:
  bool StartRead();
  bool FinishRead();
  bool DeliverBlock(std::size_t count);
  void PostHangup();
  bool MainLoop();

  PortIo& PortHandle;
  const class CloseEvent& CloseEvent;
  NotifySink& NotifyWindow;
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kReadSize);
};

// The bound on what the writer holds, queued or in hand: 64 KiB of bytes and
// 4096 requests (so that empty or tiny ones are bound too). A request past it
// is refused, so a port that takes nothing (a device that never reads) cannot
// make the writer's queue grow without end. Any single block of WriteData
// fits into an empty backlog.
class WriteBacklog {
 public:
  static constexpr std::size_t kMaxBytes = 64 * 1024;
  static constexpr std::size_t kMaxRequests = 4096;

  bool Fits(std::size_t bytes) const { return requests_ < kMaxRequests && bytes <= kMaxBytes - bytes_; }
  void Add(std::size_t bytes);
  void Remove(std::size_t bytes);
  void Clear() { bytes_ = requests_ = 0; }
  bool empty() const { return requests_ == 0; }
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_ = 0;
  std::size_t requests_ = 0;
};
static_assert(WriteBacklog::kMaxBytes >= 0xFFFF, "a block of WriteData holds up to 65535 bytes");

// The writer's message queue: every request carries its own copy of the
// block. Posting fails once the writer has ended or the backlog is full.
class WriterQueue {
 public:
  struct Message {
    std::uint32_t code = 0;
    std::vector<std::uint8_t> bytes;
  };
  // Writes what it can at once and tells how much; 0 for none or an error.
  using DirectWrite = std::function<std::size_t(const std::uint8_t* bytes, std::size_t count)>;

  bool Post(Message message);
  // Hands a block over: written here and now by write_now while the writer
  // has nothing queued or in hand, the rest (or all of it) queued.
  bool Submit(const std::uint8_t* bytes, std::size_t count, const DirectWrite& write_now);
  bool Take(Message& message);        // false when empty
  void Done(const Message& message);  // the writer is through with a taken message
  void ClearWake() { wake_.Drain(); }
  void Close();
  bool valid() const { return wake_.valid(); }
  int fd() const { return wake_.fd(); }  // readable while a post may be unseen
  std::size_t PendingBytes();

 private:
  bool Enqueue(Message message);  // under the lock; true when the writer needs a wake

  std::mutex mutex_;
  std::deque<Message> messages_;
  WriteBacklog backlog_;
  bool closed_ = false;
  WakeFd wake_;
};

class TWriteThread final : public CommThread {
 public:
  TWriteThread(PortIo& port, const CloseEvent& close_event, NotifySink& notify)
      : PortHandle(port), CloseEvent(close_event), NotifyWindow(notify) {}
  ~TWriteThread() override { Join(); }
  void Execute() override;

  // The thread-message post: any code is accepted, only MSG_WRITE_REQUEST is
  // acted on.
  bool PostMessage(std::uint32_t code, std::vector<std::uint8_t> bytes) {
    return queue_.Post({code, std::move(bytes)});
  }
  // A write request from the user-interface thread: while the writer has
  // nothing queued or in hand the block is written on the calling thread,
  // without blocking; what the port does not take at once (the rest of a
  // partial write, a write that would block, one that failed) goes to the
  // writer, which finishes it and reports its errors. True when the whole
  // block is on the line or with the writer; false when nothing of it was
  // taken (the writer has ended, or its backlog is full).
  bool WriteOrQueue(const std::uint8_t* bytes, std::size_t count);
  std::size_t PendingBytes() { return queue_.PendingBytes(); }

 private:
  void MessageLoop();
  bool WriteBlock(const std::vector<std::uint8_t>& block);
  void PostHangup();

  PortIo& PortHandle;
  const class CloseEvent& CloseEvent;
  NotifySink& NotifyWindow;
  WriterQueue queue_;
};

}  // namespace orvane::serial
