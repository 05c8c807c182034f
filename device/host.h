// What the device operations and the link need from the program that runs
// them (the window or the command-line tool): the log, the link port, the
// watchdog, the progress display, questions and file choices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/model.h"

namespace orvane::device {

struct FileChoice {
  std::string filter;             // e.g. "Зашифрованные прошивки|*.mts"
  std::string default_extension;  // empty when none
};

class Host {
 public:
  virtual ~Host() = default;

  virtual void AppendLog(const std::string& line) = 0;
  virtual void OpenLinkPort() = 0;
  virtual void CloseLinkPort() = 0;
  virtual bool WriteData(const std::uint8_t* bytes, std::uint16_t count) = 0;
  virtual void StopWatchdog() = 0;
  virtual void StartWatchdog() = 0;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetQueueCounter(const std::string& text) = 0;

  // A warning with Yes and No; true only for Yes.
  virtual bool ConfirmWarning(const std::string& text) = 0;
  // An open dialog; nothing when the user cancels.
  virtual std::optional<std::string> ChooseFile(const FileChoice& choice) = 0;

  // The model changed in the given part; the window redraws it.
  virtual void ModelChanged(ModelPart part) = 0;
};

}  // namespace orvane::device
