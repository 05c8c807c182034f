#include "serial/comm_threads.h"

#include <algorithm>
#include <cstdint>

namespace orvane::serial {

// ---- CommThread: the toolkit's thread class on std::thread ----

void CommThread::Start() {
  thread_ = std::thread([this] {
    Execute();
    std::lock_guard lock(mutex_);
    finished_ = true;
    finished_changed_.notify_all();
  });
}

bool CommThread::WaitFor(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return finished_changed_.wait_for(lock, limit, [this] { return finished_; });
}

void CommThread::Join() {
  if (thread_.joinable()) thread_.join();
}

// ---- Reader ----
//
// The overlapped read becomes a non-blocking read that either returns bytes
// or EAGAIN (pending); one poll over the close event and the port replaces
// the wait on the event handles, taking the lowest ready one. The port has
// no line events: nothing here acts on modem lines, breaks, receive errors
// or an event character, and Linux would report them only through waits of
// their own.

void TReadThread::Execute() {
  bool hangup = !StartRead();
  if (!hangup) {
    NotifyWindow.Post({MSG_THREAD_STARTED, 0, 0, {}});
    hangup = !MainLoop();
  }
  if (hangup) PostHangup();
  PortHandle.Purge(true);
}

// True when the loop ended on the close event, false on a failure.
bool TReadThread::MainLoop() {
  const PortIo::WaitFor sources{.readable = true};
  for (;;) {
    switch (PortHandle.Wait(CloseEvent, sources)) {
      case PortIo::Wake::kClose:
        return true;
      case PortIo::Wake::kReadable:
        if (!FinishRead() || !StartRead()) return false;
        break;
      default:
        return false;
    }
  }
}

bool TReadThread::StartRead() {
  for (;;) {
    if (CloseEvent.IsSet()) return false;
    std::size_t count = 0;
    switch (PortHandle.Read(buffer_.data(), buffer_.size(), count)) {
      case PortIo::Io::kDone:
        if (!DeliverBlock(count)) return false;
        break;
      case PortIo::Io::kPending:
        return true;
      case PortIo::Io::kInvalidHandle:
        return false;
      case PortIo::Io::kFailed:
        PostHangup();
        return false;
    }
  }
}

// The completion of a pending read is the read that follows the port's
// readiness; a readiness that yields nothing leaves the read pending.
bool TReadThread::FinishRead() {
  std::size_t count = 0;
  switch (PortHandle.Read(buffer_.data(), buffer_.size(), count)) {
    case PortIo::Io::kDone:
      return DeliverBlock(count);
    case PortIo::Io::kPending:
      return true;
    case PortIo::Io::kInvalidHandle:
      return false;
    case PortIo::Io::kFailed:
      break;
  }
  PostHangup();
  return false;
}

// A read of 0 bytes is a hung-up line (an unplugged adapter, a closed far
// side of a pseudo-terminal) and ends the reader.
bool TReadThread::DeliverBlock(std::size_t count) {
  if (count == 0) return false;
  Notification data{MSG_COMM_DATA, static_cast<std::uint32_t>(count), 0, {}};
  data.data.reserve(count + 1);
  data.data.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
  data.data.push_back(0);
  return NotifyWindow.Post(std::move(data));
}

void TReadThread::PostHangup() { NotifyWindow.Post({MSG_REQUEST_HANGUP, 0, 0, {}}); }

// ---- Writer's backlog and message queue ----

void WriteBacklog::Add(std::size_t bytes) {
  ++requests_;
  bytes_ += bytes;
}

void WriteBacklog::Remove(std::size_t bytes) {
  --requests_;
  bytes_ -= bytes;
}

// The thread's message queue is a locked list of requests with a wake-up
// for the writer's poll. The wake-up is signalled only when the writer has
// nothing queued or in hand: otherwise it takes the next request on its own
// before it waits again.
bool WriterQueue::Enqueue(Message message) {
  const bool writer_idle = backlog_.empty();
  backlog_.Add(message.bytes.size());
  messages_.push_back(std::move(message));
  return writer_idle;
}

// An eventfd write fails only when its counter would overflow, which a
// drained wake-up never reaches; its result is not needed.
bool WriterQueue::Post(Message message) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || !wake_.valid() || !backlog_.Fits(message.bytes.size())) return false;
    wake = Enqueue(std::move(message));
  }
  if (wake) wake_.Signal();
  return true;
}

// The order on the line holds in every case. With the backlog empty the
// writer writes nothing until it is handed a request, and only this thread
// hands it any: bytes written here follow all earlier blocks (already on the
// line) and go before all later ones. A rest is queued under the same lock,
// so every later block is queued behind it and the writer sends them in
// turn. The lock also keeps the writer from ending in between, so a block is
// never half written and then refused.
bool WriterQueue::Submit(const std::uint8_t* bytes, std::size_t count, const DirectWrite& write_now) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || !wake_.valid() || !backlog_.Fits(count)) return false;
    std::size_t written = 0;
    if (backlog_.empty()) {
      written = std::min(write_now(bytes, count), count);
      if (written == count) return true;
    }
    wake = Enqueue({MSG_WRITE_REQUEST, std::vector<std::uint8_t>(bytes + written, bytes + count)});
  }
  if (wake) wake_.Signal();
  return true;
}

bool WriterQueue::Take(Message& message) {
  std::lock_guard lock(mutex_);
  if (messages_.empty()) return false;
  message = std::move(messages_.front());
  messages_.pop_front();
  return true;
}

void WriterQueue::Done(const Message& message) {
  std::lock_guard lock(mutex_);
  if (!closed_) backlog_.Remove(message.bytes.size());
}

void WriterQueue::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  messages_.clear();
  backlog_.Clear();
}

std::size_t WriterQueue::PendingBytes() {
  std::lock_guard lock(mutex_);
  return backlog_.bytes();
}

// ---- Writer ----

void TWriteThread::Execute() {
  if (!queue_.valid()) {
    PostHangup();
  } else {
    NotifyWindow.Post({MSG_THREAD_STARTED, 1, 0, {}});
    MessageLoop();
  }
  queue_.Close();
  PortHandle.Purge(false);
}

void TWriteThread::MessageLoop() {
  const PortIo::WaitFor sources{.message_fd = queue_.fd()};
  for (;;) {
    WriterQueue::Message message;
    if (!queue_.Take(message)) {
      switch (PortHandle.Wait(CloseEvent, sources)) {
        case PortIo::Wake::kClose:
          return;
        case PortIo::Wake::kMessage:
          queue_.ClearWake();
          continue;
        default:
          PostHangup();
          return;
      }
    }
    if (CloseEvent.IsSet()) return;
    if (message.code == MSG_WRITE_REQUEST && !WriteBlock(message.bytes)) return;
    queue_.Done(message);
  }
}

bool TWriteThread::WriteOrQueue(const std::uint8_t* bytes, std::size_t count) {
  return queue_.Submit(bytes, count, [this](const std::uint8_t* block, std::size_t size) -> std::size_t {
    std::size_t written = 0;
    return PortHandle.Write(block, size, written) == PortIo::Io::kDone ? written : 0;
  });
}

// The overlapped write becomes a non-blocking write; when the port takes no
// more, the writer waits in poll for the port to drain or the close event.
bool TWriteThread::WriteBlock(const std::vector<std::uint8_t>& block) {
  std::size_t offset = 0;
  do {
    std::size_t written = 0;
    switch (PortHandle.Write(block.data() + offset, block.size() - offset, written)) {
      case PortIo::Io::kDone:
        offset += written;
        if (written > 0 || offset == block.size()) continue;
        break;  // nothing taken: wait until the port drains
      case PortIo::Io::kInvalidHandle:
        return false;
      case PortIo::Io::kFailed:
        PostHangup();
        return false;
      case PortIo::Io::kPending:
        break;
    }
    switch (PortHandle.Wait(CloseEvent, {.writable = true})) {
      case PortIo::Wake::kClose:
        return false;
      case PortIo::Wake::kWritable:
        break;
      default:
        PostHangup();
        return false;
    }
  } while (offset < block.size());
  return true;
}

void TWriteThread::PostHangup() { NotifyWindow.Post({MSG_REQUEST_HANGUP, 0, 0, {}}); }

}  // namespace orvane::serial
