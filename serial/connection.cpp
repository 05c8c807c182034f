#include "serial/connection.h"

#include <stdexcept>

namespace orvane::serial {

// The watchdog counts from the moment the connection exists, as the window's
// timer counts from the window's creation.
Connection::Connection(Events events) : events_(std::move(events)) {
  ConfigureLinkComm(comm_);
  watchdog_.setObjectName(QStringLiteral("Timer1"));
  watchdog_.setInterval(kWatchdogMs);
  QObject::connect(&watchdog_, &QTimer::timeout, &context_, [this] {
    Guarded([this] {
      if (link_) link_->WatchdogExpired();
    });
  });
  comm_.OnReceiveData = [this](const std::uint8_t* bytes, std::uint16_t count) {
    if (events_.bytes_moved) events_.bytes_moved(count);
    Guarded([&] {
      if (link_) link_->ReceiveData(bytes, count);
    });
  };
  // A worker that failed (a pulled adapter hangs the line up) ends the
  // operation at once instead of after the watchdog's 10 s.
  comm_.OnRequestHangup = [this] {
    Guarded([this] {
      if (link_ && comm_.PortOpen()) link_->PortLost();
    });
  };
  watchdog_.start();
}

// Nothing the port still delivers may reach the link or the owner now.
Connection::~Connection() {
  watchdog_.stop();
  comm_.OnReceiveData = nullptr;
  comm_.OnRequestHangup = nullptr;
  comm_.Close();
}

void Connection::SetPortChoice(PortChoice& choice) {
  LinkPort::Hooks hooks;
  hooks.append_log = [this](const std::string& line) {
    if (events_.append_log) events_.append_log(line);
  };
  hooks.clear_queue = [this] {
    if (link_) link_->ClearQueue();
  };
  hooks.rearm_watchdog = [this] {
    StopWatchdog();
    StartWatchdog();
  };
  port_ = std::make_unique<LinkPort>(&comm_, choice, std::move(hooks));
}

void Connection::Attach(link::LinkControl& link) { link_ = &link; }

LinkPort& Connection::port() {
  if (!port_) throw std::logic_error("The port settings dialog is missing");
  return *port_;
}

bool Connection::OpenLinkPort() {
  const LinkPort::Opened opened = port().OpenLinkPort();
  if (opened == LinkPort::Opened::kFailed && events_.open_failed) events_.open_failed(port().choice().Text());
  return opened == LinkPort::Opened::kOpened || opened == LinkPort::Opened::kWasOpen;
}

void Connection::CloseLinkPort() {
  const bool was_open = comm_.PortOpen();
  port().CloseLinkPort();
  if (was_open) StopWatchdog();
}

void Connection::StartWatchdog() {
  if (comm_.PortOpen()) watchdog_.start();
}

void Connection::ScanPorts() {
  const bool was_open = comm_.PortOpen();
  port().ScanPorts();
  if (was_open) StopWatchdog();
}

bool Connection::WriteData(const std::uint8_t* bytes, std::uint16_t count) {
  const bool taken = comm_.WriteData(bytes, count);
  if (taken && events_.bytes_moved) events_.bytes_moved(count);
  return taken;
}

void Connection::Guarded(const std::function<void()>& work) {
  if (events_.guard) {
    events_.guard(work);
  } else {
    work();
  }
}

}  // namespace orvane::serial
