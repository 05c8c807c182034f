#include "cli/console.h"

#include "cli/messages.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

// A yes in either of the answers a Russian or an English user would type.
bool IsYes(std::string answer) {
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' ')) {
    answer.pop_back();
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "д" ||
         answer == "Д" || answer == "да" || answer == "Да";
}

bool Answer(const std::string& prompt, const Console& console) {
  std::fputs(prompt.c_str(), console.err);
  std::fflush(console.err);
  char answer[64] = {};
  return std::fgets(answer, sizeof answer, console.in) != nullptr && IsYes(answer);
}

}  // namespace

bool AskOnTerminal(const std::string& warning, const Console& console) {
  // The box's line break is "\n\r"; a terminal wants "\n".
  std::string text;
  for (std::size_t i = 0; i < warning.size(); ++i) {
    if (warning[i] == '\r' && i > 0 && warning[i - 1] == '\n') continue;
    text += warning[i];
  }
  // The warning is the console's own text and stays Russian; the question
  // after it is the tool's.
  return Answer(l10n::Format(l10n::Tr("%s\nGo on? [y/N] "), text.c_str()), console);
}

std::optional<std::string> Confirm(const std::string& warning, bool yes, const Console& console,
                                   const std::function<void()>& before_asking) {
  if (yes) return std::nullopt;
  if (!console.in_is_terminal) return NotConfirmedWithoutTerminal();
  if (before_asking) before_asking();
  if (!AskOnTerminal(warning, console)) return NotConfirmed();
  return std::nullopt;
}

bool AskQuestionOnTerminal(const std::string& question, const Console& console) {
  return Answer(question + " " + l10n::Tr("[y/N]") + " ", console);
}

void PrintError(const Console& console, const std::string& text) {
  std::fprintf(console.err, "orvane-cli: %s\n", text.c_str());
  std::fflush(console.err);
}

}  // namespace orvane::cli
