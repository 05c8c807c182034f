#include "cli/progress.h"

#include <algorithm>

#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawPause = std::chrono::milliseconds(100);

std::string Duration(double seconds) {
  const long whole = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

// 23051 as "23 051": groups of three digits parted by spaces, as Russian
// writes numbers.
std::string Grouped(unsigned long long value) {
  std::string digits = std::to_string(value);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), 1, ' ');
  return digits;
}

}  // namespace

// A new maximum is a new run of commands: rates count from here, and the
// queue holds the new maximum of commands (its position follows at once).
void ProgressLine::SetMaximum(int maximum) {
  if (maximum > maximum_ || position_ == 0) Restart(Clock::now(), maximum);
  maximum_ = maximum;
}

void ProgressLine::Restart(Clock::time_point now, int queued) {
  started_ = now;
  bytes_at_start_ = bytes_;
  position_at_start_ = queued;
}

void ProgressLine::SetPosition(int position) {
  position_ = position;
  Draw(false);
}

std::string ProgressLine::Text(Clock::time_point now) const {
  using l10n::Format;
  using l10n::Tr;
  const int done = std::clamp(maximum_ - position_, 0, std::max(maximum_, 0));
  const int filled = maximum_ > 0 ? done * kBarWidth / maximum_ : 0;
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " +
                     Format(Tr("queue: %d"), position_);
  const double seconds = std::chrono::duration<double>(now - started_).count();
  if (seconds > 0.2) {
    const double rate = static_cast<double>(bytes_ - bytes_at_start_) / seconds;
    line += "  " + Format(Tr("%s B/s"), Grouped(static_cast<unsigned long long>(rate + 0.5)).c_str());
    const int popped = position_at_start_ - position_;
    if (popped > 0 && position_ > 0) {
      line += ", " + Format(Tr("%s left"), Duration(seconds / popped * position_).c_str());
    }
  }
  return line;
}

void TerminalLine::Show(const std::string& text) {
  std::fprintf(terminal_, "\r\033[K%s", text.c_str());
  std::fflush(terminal_);
  shown_ = true;
}

void TerminalLine::Clear() {
  if (shown_) std::fputs("\r\033[K", terminal_);
  shown_ = false;
  std::fflush(terminal_);
}

void ProgressLine::Draw(bool forced) {
  const auto now = Clock::now();
  if (!forced && line_.shown() && now - drawn_ < kRedrawPause) return;
  drawn_ = now;
  line_.Show(Text(now));
}

void ProgressLine::WriteAbove(const std::string& line) {
  const bool was_shown = line_.shown();
  line_.Clear();
  std::fprintf(line_.terminal(), "%s\n", line.c_str());
  if (was_shown) Draw(true);
  std::fflush(line_.terminal());
}

void ProgressLine::Clear() { line_.Clear(); }

}  // namespace orvane::cli
