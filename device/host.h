// The one owner interface of a configurator session: what the link needs
// (link::LinkHost: the log, the link port, the watchdog, the progress display
// and the end of each operation) and what the device actions need beside it
// (opening the port, questions, file choices and redrawing the model). The
// window and the command-line tool each implement it once.
#pragma once

#include <optional>
#include <string>

#include "device/model.h"
#include "link/link_control.h"

namespace orvane::device {

struct FileChoice {
  std::string filter;             // e.g. "Зашифрованные прошивки|*.mts"
  std::string default_extension;  // empty when none
};

class Host : public link::LinkHost {
 public:
  virtual void OpenLinkPort() = 0;

  // A warning with Yes and No; true only for Yes.
  virtual bool ConfirmWarning(const std::string& text) = 0;
  // An open dialog; nothing when the user cancels.
  virtual std::optional<std::string> ChooseFile(const FileChoice& choice) = 0;

  // The model changed in the given part; the window redraws it.
  virtual void ModelChanged(ModelPart part) = 0;
};

}  // namespace orvane::device
