// Where a run writes and asks. The terminal flags decide the progress line
// and whether the erase and reflash questions can be asked.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace orvane::cli {

struct Console {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::FILE* in = stdin;
  bool out_is_terminal = false;  // provision --watch draws its screen there
  bool err_is_terminal = false;
  bool in_is_terminal = false;
};

// The window's warning box as a question on the terminal: the warning, then
// the tool's question in the messages' language; true for a yes in English
// or Russian.
bool AskOnTerminal(const std::string& warning, const Console& console);
// The one way the tool has a warning confirmed: --yes (`yes`) answers it;
// otherwise it is asked on the terminal (after `before_asking`, which clears
// a progress line). Nothing when confirmed, else why not: declined, or no
// terminal to ask on.
std::optional<std::string> Confirm(const std::string& warning, bool yes, const Console& console,
                                   const std::function<void()>& before_asking = {});
// A question of the tool's own, in the messages' language, then [y/N].
bool AskQuestionOnTerminal(const std::string& question, const Console& console);

// "orvane-cli: TEXT" on stderr.
void PrintError(const Console& console, const std::string& text);

}  // namespace orvane::cli
