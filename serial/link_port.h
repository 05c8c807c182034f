// The link port operations of the main window, shared by the window and the
// command-line tool: load and save the port name, scan the ports, open and
// close the link port, each step written to the log.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "serial/serial_comm.h"

namespace orvane::serial {

// The one log line of a port that will not open.
inline constexpr const char* kLogPortFailed = "Порт связи не может быть открыт.";

// The port dialog's combo box: its text (the chosen name) and its list.
class PortChoice {
 public:
  virtual ~PortChoice() = default;
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual void ClearList() = 0;
  virtual void AddToList(const std::string& name) = 0;
};

class SimplePortChoice : public PortChoice {
 public:
  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override { text_ = text; }
  void ClearList() override { list_.clear(); }
  void AddToList(const std::string& name) override { list_.push_back(name); }
  const std::vector<std::string>& List() const { return list_; }

 private:
  std::string text_;
  std::vector<std::string> list_;
};

// The settings of the window's SerialComm1: 1000000 baud, odd parity, no
// flow control, event character 0, port COM2.
void ConfigureLinkComm(TSerialComm& comm);

class LinkPort {
 public:
  struct Hooks {
    std::function<void(const std::string&)> append_log;
    std::function<void()> clear_queue;     // the link control's ClearQueue
    std::function<void()> rearm_watchdog;  // stop and start the 10 s watchdog
  };

  // comm may be null; opening then asks for a restart.
  LinkPort(TSerialComm* comm, PortChoice& choice, Hooks hooks);

  void LoadPortSetting();  // may throw SettingsError
  void SavePortSetting();  // may throw SettingsError
  void ScanPorts();
  enum class Opened { kOpened, kWasOpen, kFailed, kNoComponent };
  Opened OpenLinkPort();
  void CloseLinkPort();
  TSerialComm* comm() { return comm_; }
  PortChoice& choice() { return choice_; }

 private:
  void Log(const std::string& line);
  bool TryOpen();
  static bool HeldElsewhere(const std::string& device);

  TSerialComm* comm_;
  PortChoice& choice_;
  Hooks hooks_;
};

}  // namespace orvane::serial
