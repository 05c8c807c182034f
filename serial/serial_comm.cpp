#include "serial/serial_comm.h"

#include <chrono>

#include "serial/comm_threads.h"
#include "serial/fd_port.h"
#include "serial/notify_window.h"
#include "serial/port_io.h"
#include "serial/port_names.h"

namespace orvane::serial {

// ---- NotifyWindow: PostMessage to the hidden window ----

NotifyWindow::NotifyWindow(std::function<void(const Notification&)> handler) : handler_(std::move(handler)) {
  if (!wake_.valid()) return;
  notifier_ = std::make_unique<QSocketNotifier>(wake_.fd(), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Deliver(); });
}

NotifyWindow::~NotifyWindow() = default;

// The eventfd is signalled only when the list goes from empty to not empty:
// a notification posted behind others is taken by the delivery that takes
// them, which runs until the list is empty.
bool NotifyWindow::Post(Notification notification) {
  if (!wake_.valid()) return false;
  bool was_empty = false;
  {
    std::lock_guard lock(mutex_);
    was_empty = pending_.empty();
    pending_.push_back(std::move(notification));
  }
  return !was_empty || wake_.Signal();
}

void NotifyWindow::Discard() {
  std::lock_guard lock(mutex_);
  pending_.clear();
}

bool NotifyWindow::TakeNext(Notification& notification, bool& more) {
  std::lock_guard lock(mutex_);
  if (pending_.empty()) return false;
  notification = std::move(pending_.front());
  pending_.pop_front();
  more = !pending_.empty();
  return true;
}

// One at a time, so a handler that runs the event loop itself (or closes the
// port) still sees the rest in order. For such a handler, the notifier is
// woken again while others wait behind the one being handled; the next
// delivery then finds them taken, or takes them itself.
void NotifyWindow::Deliver() {
  wake_.Drain();
  Notification notification;
  bool more = false;
  bool woken_again = false;
  while (TakeNext(notification, more)) {
    if (more && !woken_again) woken_again = wake_.Signal();
    handler_(notification);
  }
}

// ---- TSerialComm ----

TSerialComm::TSerialComm()
    : notify_window_(std::make_unique<NotifyWindow>(
          [this](const Notification& notification) { HandleNotification(notification); })) {}

TSerialComm::~TSerialComm() { Close(); }

void TSerialComm::ApplyState() {
  if (port_open_) port_->SetCommState(dcb_);
}

void TSerialComm::SetBaudRate(std::uint32_t rate) {
  dcb_.BaudRate = rate;
  ApplyState();
}

void TSerialComm::SetByteSize(TBytesize size) {
  dcb_.ByteSize = static_cast<std::uint8_t>(size + 4);
  ApplyState();
}

void TSerialComm::SetParity(TParity parity) {
  dcb_.Parity = static_cast<std::uint8_t>(parity);
  ApplyState();
}

void TSerialComm::SetStopBits(TStopBits stop_bits) {
  dcb_.StopBits = static_cast<std::uint8_t>(stop_bits);
  ApplyState();
}

void TSerialComm::SetEventChar(char c) {
  dcb_.EvtChar = c;
  ApplyState();
}

TFlowControl TSerialComm::FlowControl() const {
  const std::uint32_t rts = (dcb_.Flags & kRtsControlMask) >> kRtsControlShift;
  if (rts == RTS_CONTROL_TOGGLE) return fcHardware2;
  if (rts == RTS_CONTROL_HANDSHAKE) return fcHardware1;
  if ((dcb_.Flags & (kFlagOutX | kFlagInX)) == (kFlagOutX | kFlagInX)) return fcSoftware;
  return fcNone;
}

void TSerialComm::SetFlowControl(TFlowControl flow) {
  std::uint32_t flags = dcb_.Flags & ~(kFlagOutX | kFlagInX | kRtsControlMask);
  if (flow == fcSoftware) flags |= kFlagOutX | kFlagInX;
  if (flow == fcHardware1) flags |= RTS_CONTROL_HANDSHAKE << kRtsControlShift;
  if (flow == fcHardware2) flags |= RTS_CONTROL_TOGGLE << kRtsControlShift;
  dcb_.Flags = flags;
  ApplyState();
}

void TSerialComm::SetRxQueue(std::uint32_t size) {
  rx_queue_ = size;
  if (port_open_) port_->SetupComm(rx_queue_, tx_queue_);
}

void TSerialComm::SetTxQueue(std::uint32_t size) {
  tx_queue_ = size;
  if (port_open_) port_->SetupComm(rx_queue_, tx_queue_);
}

bool TSerialComm::Open() {
  if (port_) throw ECommsError("Заданный порт уже открыт!");
  std::unique_ptr<FdPort> port;
  const std::string device = DeviceFileForPort(comm_port_);
  switch (FdPort::Open(device, port)) {
    case FdPort::OpenResult::kCannotOpen:
      throw ECommsError("Невозможно открыть порт!");
    case FdPort::OpenResult::kNotCommPort:
      throw ECommsError("Задан не COM-порт");
    case FdPort::OpenResult::kOpened:
      break;
  }
  port_ = std::move(port);

  Dcb working = dcb_;
  port_->GetCommState(working);
  working.BaudRate = dcb_.BaudRate;
  working.Flags = dcb_.Flags | kFlagBinary;
  working.ByteSize = dcb_.ByteSize;
  working.Parity = dcb_.Parity;
  working.StopBits = dcb_.StopBits;
  working.EvtChar = dcb_.EvtChar;
  dcb_ = working;
  // The time-outs (first byte without limit, then 1 ms of quiet line) are
  // part of the raw settings SetCommState applies: VMIN = VTIME = 0 on a
  // non-blocking descriptor, with the reader woken by poll.
  port_open_ = true;
  if (!port_->SetCommState(dcb_)) {
    ReleasePort();
    throw ECommsError("Неверно заданы параметры порта!");
  }
  port_->SetupComm(rx_queue_, tx_queue_);
  // Whatever the driver received before this open (an answer to a frame of
  // an earlier session) is no answer to anything sent from now on. A port
  // this component closed a moment ago holds only what the console sent in
  // that gap: answers to frames the link still keeps records of, and polls,
  // which are kept, since a purged poll costs the console's whole reply
  // window.
  const bool reopened_at_once = device == closed_device_ && std::chrono::steady_clock::now() - closed_at_ < kQuickReopen;
  if (!reopened_at_once) port_->Purge(true);

  close_event_ = CloseEvent::Create();
  if (!close_event_) {
    ReleasePort();
    return false;
  }
  // A thread that cannot be created leaves nothing behind: the other thread
  // stopped, the close event and the port released.
  try {
    reader_ = std::make_unique<TReadThread>(*port_, *close_event_, *notify_window_);
    reader_->Start();
  } catch (const std::exception&) {
    reader_.reset();
    Close();
    throw ECommsError("Невозможно создать Read thread");
  }
  try {
    writer_ = std::make_unique<TWriteThread>(*port_, *close_event_, *notify_window_);
    writer_->Start();
  } catch (const std::exception&) {
    writer_.reset();
    Close();
    throw ECommsError("Невозможно создать Write thread");
  }
  return true;
}

void TSerialComm::ReleasePort() {
  port_.reset();
  port_open_ = false;
}

// Once both threads have ended, nothing they posted is delivered any more.
void TSerialComm::Close() {
  if (!port_) return;
  StopReader();
  StopWriter();
  notify_window_->Discard();
  close_event_.reset();
  ReleasePort();
  closed_device_ = DeviceFileForPort(comm_port_);
  closed_at_ = std::chrono::steady_clock::now();
}

// The close event ends the thread's body; releasing the thread object joins
// it, so no thread outlives the port it uses.
void TSerialComm::StopReader() {
  if (!reader_) return;
  close_event_->Set();
  port_->Purge(true);
  reader_.reset();
}

void TSerialComm::StopWriter() {
  if (!writer_) return;
  close_event_->Set();
  port_->Purge(false);
  writer_.reset();
}

// A queued request carries its own copy, so a block is never overwritten
// before the writer has sent it.
bool TSerialComm::WriteData(const std::uint8_t* buffer, std::uint16_t length) {
  return writer_ && writer_->WriteOrQueue(buffer, length);
}

std::size_t TSerialComm::PendingWriteBytes() const { return writer_ ? writer_->PendingBytes() : 0; }

bool TSerialComm::EscapeFunction(int func) { return port_ && port_->EscapeCommFunction(func); }

void TSerialComm::HandleNotification(const Notification& notification) {
  switch (notification.code) {
    case MSG_COMM_DATA:
      if (OnReceiveData)
        OnReceiveData(notification.data.data(), static_cast<std::uint16_t>(notification.wparam & 0xFFFF));
      break;
    case MSG_REQUEST_HANGUP:
      if (OnRequestHangup) OnRequestHangup();
      break;
    case MSG_THREAD_STARTED:
      (notification.wparam == 0 ? reader_started_ : writer_started_) = true;
      break;
    default:
      break;
  }
}

}  // namespace orvane::serial
