// The reader and writer threads that serve one open port. Neither calls the
// component: results travel as notifications to its NotifySink.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/comm_defs.h"
#include "serial/port_io.h"

namespace orvane::serial {

// A worker thread: created idle, started by Start, and waited for with a
// time-out. The terminate request is kept for the owner but never consulted:
// the bodies end on the close event.
class CommThread {
 public:
  virtual ~CommThread() = default;
  CommThread(const CommThread&) = delete;
  CommThread& operator=(const CommThread&) = delete;

  void Start();  // throws std::system_error when no thread can be created
  bool WaitFor(std::chrono::milliseconds limit);
  void Terminate() { terminate_requested_ = true; }
  virtual void Execute() = 0;  // the thread body; tests also run it directly

 protected:
  CommThread() = default;
  void Join();  // called by each final destructor, before its members go

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable finished_changed_;
  bool finished_ = false;
  bool terminate_requested_ = false;
};

class TReadThread final : public CommThread {
 public:
  static constexpr std::size_t kReadSize = 0x8000;

  TReadThread(PortIo& port, const CloseEvent& close_event, NotifySink& notify)
      : PortHandle(port), CloseEvent(close_event), NotifyWindow(notify) {}
  ~TReadThread() override { Join(); }
  void Execute() override;

  std::uint32_t LastErrors() const { return last_errors_; }  // after the end only

 private:
  bool StartRead();
  bool FinishRead();
  bool DeliverBlock(std::size_t count);
  bool TakeEventsOfBlock(Notification& data);
  bool StartEventWait();
  bool ReportCommEvent(bool pending);
  bool DescribeEvent(std::uint32_t& lparam, std::uint32_t& errors);
  void PostHangup();
  bool MainLoop();

  PortIo& PortHandle;
  const class CloseEvent& CloseEvent;
  NotifySink& NotifyWindow;
  std::uint32_t last_errors_ = 0;
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kReadSize);
  std::uint32_t events_ = 0;
};

// The writer's message queue: every request carries its own copy of the
// block. Posting fails once the writer has ended.
class WriterQueue {
 public:
  struct Message {
    std::uint32_t code = 0;
    std::vector<std::uint8_t> bytes;
  };
  bool Post(Message message);
  bool Take(Message& message);  // false when empty
  void Close();
  bool valid() const { return wake_.valid(); }
  int fd() const { return wake_.fd(); }  // readable while a post may be unseen

 private:
  std::mutex mutex_;
  std::deque<Message> messages_;
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
