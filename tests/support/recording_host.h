// A host that records everything the session asks of it, answers questions
// and file choices from scripted values, and can stand in for the window in
// tests and the fuzz target.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "device/host.h"
#include "device/session.h"
#include "link/frame.h"

namespace orvane::testing {

class RecordingHost : public device::Host {
 public:
  std::vector<std::string> log;
  std::vector<std::vector<std::uint8_t>> written;
  std::vector<std::string> warnings;
  std::vector<device::FileChoice> choices;
  std::deque<bool> answers;                        // ConfirmWarning replies, default No
  std::deque<std::optional<std::string>> files;    // ChooseFile replies, default cancel
  int opens = 0, closes = 0, watchdog_stops = 0, watchdog_starts = 0;
  bool watchdog_running = true;
  bool port_open = false;
  bool write_succeeds = true;
  int progress_maximum = 100, progress_position = 0;
  std::string counter = "Очередь команд:";
  std::vector<link::OperationEnd> outcomes;
  device::Session* session = nullptr;  // CloseLinkPort clears its queue, as the window's does

  void AppendLog(const std::string& line) override { log.push_back(line); }
  void OpenLinkPort() override {
    ++opens;
    port_open = true;
    StartWatchdog();
  }
  void CloseLinkPort() override {
    ++closes;
    port_open = false;
    if (session) session->link().ClearQueue();
  }
  bool WriteData(const std::uint8_t* bytes, std::uint16_t count) override {
    if (!write_succeeds) return false;
    written.emplace_back(bytes, bytes + count);
    return true;
  }
  void StopWatchdog() override {
    ++watchdog_stops;
    watchdog_running = false;
  }
  void StartWatchdog() override {
    ++watchdog_starts;
    watchdog_running = true;
  }
  void SetProgressMaximum(int maximum) override { progress_maximum = maximum; }
  void SetProgressPosition(int position) override { progress_position = position; }
  void SetQueueCounter(const std::string& text) override { counter = text; }
  bool ConfirmWarning(const std::string& text) override {
    warnings.push_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> ChooseFile(const device::FileChoice& choice) override {
    choices.push_back(choice);
    if (files.empty()) return std::nullopt;
    auto file = files.front();
    files.pop_front();
    return file;
  }
  void ModelChanged(device::ModelPart) override {}
  void OperationEnded(const link::OperationEnd& outcome) override { outcomes.push_back(outcome); }
};

inline std::vector<std::uint8_t> Frame(std::uint8_t command, std::vector<std::uint8_t> data = {}) {
  return link::BuildFrame(command, data);
}

inline const std::vector<std::uint8_t> kPollFrame = {0x5D, 0x59, 0x54, 0x57, 0x01, 0x00, 0x9D};

}  // namespace orvane::testing
