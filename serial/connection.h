// The link port of a configurator run, the same for the window and the
// command-line tool: the serial component set up for the modem (1000000
// baud, odd parity, no flow control), the port operations with their log
// lines, the 10-second watchdog, and the path of received bytes into the
// link control. The port's name comes from a PortChoice: the port dialog's
// combo box in the window, the --port option in the tool.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/link_control.h"
#include "serial/link_port.h"
#include "serial/serial_comm.h"

namespace orvane::serial {

class Connection {
 public:
  static constexpr int kWatchdogMs = 10000;

  struct Events {
    std::function<void(const std::string&)> append_log;
    // The port would not open; the log has its one line, this says why.
    std::function<void(const std::string& port_name)> open_failed;
    // Bytes that crossed the line, either way (for a rate display).
    std::function<void(std::size_t)> bytes_moved;
    // Runs the link's work for one event of the port or the watchdog; the
    // window shows what escapes it in a message box.
    std::function<void(const std::function<void()>&)> guard;
  };

  explicit Connection(Events events);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The combo box or option that names the port; needed before any port
  // operation.
  void SetPortChoice(PortChoice& choice);
  // Received bytes go to the link, the watchdog's expiry ends its operation,
  // and closing the port empties its queue.
  void Attach(link::LinkControl& link);

  bool OpenLinkPort();  // true when the port is open afterwards
  // The watchdog counts only while the port is open: closed by the program
  // itself (an operation done, the port dialog's scan), no poll can come.
  void CloseLinkPort();
  void ScanPorts();
  bool WriteData(const std::uint8_t* bytes, std::uint16_t count);
  void StopWatchdog() { watchdog_.stop(); }
  // Arms the watchdog only on an open port, whoever asks: a poll handled
  // later in the delivery whose answer closed the port, or a re-arm after
  // the port dialog, cannot start it on a closed one.
  void StartWatchdog();

  LinkPort& port();  // load, save and scan
  TSerialComm& comm() { return comm_; }
  QTimer& watchdog() { return watchdog_; }

 private:
  void Guarded(const std::function<void()>& work);

  Events events_;
  QObject context_;
  QTimer watchdog_;
  TSerialComm comm_;
  std::unique_ptr<LinkPort> port_;
  link::LinkControl* link_ = nullptr;
};

}  // namespace orvane::serial
