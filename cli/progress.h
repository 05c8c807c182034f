// The progress line of a terminal: the queue's progress bar, its counter,
// the link's bytes per second and the time left, redrawn in place on stderr,
// in the messages' language:
//   [#########---------------------] Очередь команд: 2908.  23 051 Б/с, осталось 0:07
//   [#########---------------------] queue: 2908  23 051 B/s, 0:07 left
// Log lines are written above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace orvane::cli {

// One line of a terminal redrawn in place; what is written above it clears
// it first.
class TerminalLine {
 public:
  explicit TerminalLine(std::FILE* terminal) : terminal_(terminal) {}
  void Show(const std::string& text);
  void Clear();
  bool shown() const { return shown_; }
  std::FILE* terminal() const { return terminal_; }

 private:
  std::FILE* terminal_;
  bool shown_ = false;
};

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ProgressLine(std::FILE* terminal) : line_(terminal) {}

  void SetMaximum(int maximum);
  void SetPosition(int position);
  void CountBytes(std::size_t bytes) { bytes_ += bytes; }

  // Removes the line, writes one log line, and draws the line again below it.
  void WriteAbove(const std::string& line);
  void Clear();

  // The text of the line at a given moment (without terminal controls).
  std::string Text(Clock::time_point now) const;

 private:
  void Restart(Clock::time_point now, int queued);
  void Draw(bool forced);

  TerminalLine line_;
  int maximum_ = 0;
  int position_ = 0;
  std::size_t bytes_ = 0;
  std::size_t bytes_at_start_ = 0;
  int position_at_start_ = 0;
  Clock::time_point started_ = Clock::now();
  Clock::time_point drawn_{};
};

}  // namespace orvane::cli
