#include "cli/messages.h"

#include "cli/signals.h"
#include "l10n/l10n.h"

namespace orvane::cli {

std::string NoPortChosen() { return l10n::Tr("no port chosen: give --port NAME (orvane-cli ports lists the ports found)"); }

std::string NotConfirmed() { return l10n::Tr("not confirmed"); }

std::string NotConfirmedWithoutTerminal() {
  return l10n::Tr("not confirmed: give --yes to run this without a terminal");
}

std::string NoPortFoundForAll() { return l10n::Tr("--port all: the scan of COM1 to COM16 found no port that opens"); }

std::string StoppedBy(int signal) { return l10n::Format(l10n::Tr("stopped by %s"), SignalName(signal).c_str()); }

}  // namespace orvane::cli
