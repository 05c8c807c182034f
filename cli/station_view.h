// The station on the terminal: a line per position (the port and where its
// line is: waiting, reading a unit, the step and its progress, done with
// the serial number, failed with the reason), redrawn in place; without a
// terminal, a line per event, each with its time and the position's name,
// and whatever a library said joined onto it. It renders the engine's typed
// events in the operator's words and decides nothing.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/console.h"
#include "station/events.h"

namespace orvane::cli {

class StationView {
 public:
  // `screen`: draw the lines in place on `out`; else one line per event
  // there (none at all with `quiet_events`).
  StationView(std::FILE* out, std::FILE* log, std::vector<std::string> ports, bool screen, bool quiet_events,
              bool quiet_log);

  using Now = std::function<std::chrono::system_clock::time_point()>;
  // Where the time stamps of the lines come from.
  void SetClock(Now now) { now_ = std::move(now); }

  void Event(const station::PositionEvent& event, const std::string& end_text = {});
  // A log line of a position, above the screen or on the log stream.
  void Log(std::size_t position, const std::string& line);
  // A line that stays, above the position lines or as an event line.
  void Say(const std::string& text);
  void Redraw();  // when something changed since the last draw
  void Close();   // the final drawing

  // The words of a line state; `end_text` is the end's own words (the
  // result, the exit status and the reason) for failed and stopped lines.
  static std::string StateText(const station::PositionEvent& event, const std::string& end_text);

 private:
  struct Line {
    bool seen = false;
    station::PositionEvent last;
    std::string end_text;
  };
  // Without a terminal: one line with its time, and the position's name.
  void PrintLine(std::FILE* to, const std::string& position, const std::string& text);
  void Erase();
  void Draw();

  std::FILE* out_;
  std::FILE* log_;
  std::vector<std::string> ports_;
  std::vector<Line> lines_;
  bool screen_, quiet_events_, quiet_log_;
  bool dirty_ = false;
  std::size_t drawn_ = 0;
  Now now_ = [] { return std::chrono::system_clock::now(); };
};

// "flash", "erase", "put", "constants": the step as the tool's commands name it.
const char* StepWord(station::JobStep step);
// "2026-12-09T17:49:03+03:00": the local time with its offset from UTC.
std::string LocalTimeStamp(std::chrono::system_clock::time_point when);
// The lines of a text (a record store's error, a log line) as one line,
// joined with "; ".
std::string OneLine(const std::string& text);

}  // namespace orvane::cli
