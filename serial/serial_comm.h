// TSerialComm: one serial port with its line settings, its reader and writer
// threads, and events called on the Qt user-interface thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "serial/comm_defs.h"

namespace orvane::serial {

class CloseEvent;
class FdPort;
class NotifyWindow;
class TReadThread;
class TWriteThread;

class ECommsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TFlowControl { fcNone, fcHardware1, fcHardware2, fcSoftware };
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum TStopBits { sb1_0, sb1_5, sb2_0 };
enum TBytesize { sz_4, sz_5, sz_6, sz_7, sz_8 };

class TSerialComm {
 public:
  // Codes of EscapeFunction.
  static constexpr int SETXOFF = 1;
  static constexpr int SETXON = 2;
  static constexpr int SETRTS = 3;
  static constexpr int CLRRTS = 4;
  static constexpr int SETDTR = 5;
  static constexpr int CLRDTR = 6;
  static constexpr int RESETDEV = 7;
  static constexpr int SETBREAK = 8;
  static constexpr int CLRBREAK = 9;

  using TNotifyEvent = std::function<void()>;
  using TReceiveDataEvent = std::function<void(const std::uint8_t* buffer, std::uint16_t length)>;

  TSerialComm();  // on the Qt user-interface thread
  ~TSerialComm();  // closes an open port, so no thread outlives the component
  TSerialComm(const TSerialComm&) = delete;
  TSerialComm& operator=(const TSerialComm&) = delete;

  std::uint32_t BaudRate() const { return dcb_.BaudRate; }
  void SetBaudRate(std::uint32_t rate);
  TBytesize ByteSize() const { return static_cast<TBytesize>(dcb_.ByteSize - 4); }
  void SetByteSize(TBytesize size);
  TParity Parity() const { return static_cast<TParity>(dcb_.Parity); }
  void SetParity(TParity parity);
  TStopBits StopBits() const { return static_cast<TStopBits>(dcb_.StopBits); }
  void SetStopBits(TStopBits stop_bits);
  const std::string& CommPort() const { return comm_port_; }
  void SetCommPort(std::string name) { comm_port_ = std::move(name); }
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl flow);
  std::uint32_t RxQueue() const { return rx_queue_; }
  void SetRxQueue(std::uint32_t size);
  std::uint32_t TxQueue() const { return tx_queue_; }
  void SetTxQueue(std::uint32_t size);
  char EventChar() const { return dcb_.EvtChar; }
  void SetEventChar(char c);

  // Opens CommPort (COMn by the fixed table, any other name as it stands)
  // and starts the threads. Throws ECommsError; false only when the close
  // event cannot be created.
  bool Open();
  void Close();
  // Writes the block at once while the writer is idle, else hands a copy to
  // the writer (see TWriteThread::WriteOrQueue). True when all of it is on
  // the line or with the writer; false when nothing of it was taken: no
  // writer, the writer has ended, or its backlog is full (send again later).
  bool WriteData(const std::uint8_t* buffer, std::uint16_t length);
  bool EscapeFunction(int func);
  bool PortOpen() const { return port_open_; }

  // The notification handler; the threads' notifications arrive here on the
  // user-interface thread in posting order.
  void HandleNotification(const Notification& notification);

  const Dcb& dcb() const { return dcb_; }
  bool ReaderStarted() const { return reader_started_; }
  bool WriterStarted() const { return writer_started_; }
  std::size_t PendingWriteBytes() const;  // queued or in the writer's hand

  TReceiveDataEvent OnReceiveData;
  TNotifyEvent OnRequestHangup;

 private:
  void ApplyState();
  void ReleasePort();
  void StopReader();
  void StopWriter();

  std::unique_ptr<TReadThread> reader_;
  std::unique_ptr<TWriteThread> writer_;
  bool writer_started_ = false;
  bool reader_started_ = false;
  std::string comm_port_ = "COM2";
  std::unique_ptr<FdPort> port_;  // the port handle
  std::unique_ptr<CloseEvent> close_event_;
  std::unique_ptr<NotifyWindow> notify_window_;
  bool port_open_ = false;
  std::uint32_t rx_queue_ = 4096;
  std::uint32_t tx_queue_ = 4096;
  Dcb dcb_;
  // The port closed last and when: a reopen of it at once keeps its input.
  static constexpr std::chrono::milliseconds kQuickReopen{1000};
  std::string closed_device_;
  std::chrono::steady_clock::time_point closed_at_{};
};

}  // namespace orvane::serial
