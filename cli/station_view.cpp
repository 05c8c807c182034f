#include "cli/station_view.h"

#include <algorithm>
#include <ctime>

#include "l10n/l10n.h"

namespace orvane::cli {

using l10n::Format;
using l10n::Tr;
using station::LineState;

const char* StepWord(station::JobStep step) {
  switch (step) {
    case station::JobStep::kImage: return N_("flash");
    case station::JobStep::kErase: return N_("erase");
    case station::JobStep::kPlan: return N_("put");
    case station::JobStep::kConstants: return N_("constants");
    default: return N_("connecting");
  }
}

std::string LocalTimeStamp(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long minutes = local.tm_gmtoff / 60;
  const long magnitude = minutes < 0 ? -minutes : minutes;
  return Format("%s%c%02ld:%02ld", text, minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

std::string OneLine(const std::string& text) {
  std::string line;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    const std::string piece = text.substr(start, end - start);
    if (piece.find_first_not_of(" \t") != std::string::npos) line += (line.empty() ? "" : "; ") + piece;
    start = end + 1;
  }
  return line;
}

StationView::StationView(std::FILE* out, std::FILE* log, std::vector<std::string> ports, bool screen,
                         bool quiet_events, bool quiet_log)
    : out_(out),
      log_(log),
      ports_(std::move(ports)),
      lines_(ports_.size()),
      screen_(screen),
      quiet_events_(quiet_events),
      quiet_log_(quiet_log) {}

std::string StationView::StateText(const station::PositionEvent& e, const std::string& end_text) {
  const std::string serial = e.serial ? std::to_string(*e.serial) : "-";
  switch (e.state) {
    case LineState::kNoPort: return Tr("gone");
    case LineState::kNoModem: return Tr("waiting");
    case LineState::kArrived: return Tr("modem arrived: reading it");
    case LineState::kWaitingRecords:
      if (e.detail.empty()) return Tr("waiting for the records");
      return Format(Tr("waiting for the records: %s"), OneLine(e.detail).c_str());
    case LineState::kRunning:
      if (e.steps == 0) return Tr("connecting");
      return Format(Tr("step %1$zu/%2$zu %3$s %4$d%%"), static_cast<std::size_t>(e.step_index),
                    static_cast<std::size_t>(e.steps), Tr(StepWord(e.step)), e.percent);
    case LineState::kDone: return Format(Tr("done, serial %s"), serial.c_str());
    case LineState::kAlreadyDone:
      return Format(Tr("already done on %1$s, serial %2$s: nothing written"), e.done_at.c_str(), serial.c_str());
    case LineState::kFailed:
    case LineState::kStopped: return end_text;
  }
  return "";
}

void StationView::Event(const station::PositionEvent& event, const std::string& end_text) {
  if (event.position >= lines_.size()) return;
  Line& line = lines_[event.position];
  const station::PositionEvent before = line.last;
  const bool was_seen = line.seen;
  line.last = event;
  const bool ending = event.state == LineState::kFailed || event.state == LineState::kStopped;
  if (!ending) line.end_text.clear();
  if (!end_text.empty()) line.end_text = end_text;
  line.seen = line.seen || event.state != LineState::kNoPort;
  dirty_ = true;
  const std::string& port = ports_[event.position];
  if (!event.job_changed.empty()) {
    const std::string changed =
        Format(Tr("%s changed on disk; this session goes on with the files it read"), event.job_changed.c_str());
    if (screen_) {
      Say(port + ": " + changed);
    } else {
      PrintLine(out_, port, changed);
    }
  }
  if (screen_ || quiet_events_ || !line.seen) return;
  // An event line for each change of state or step, not for progress.
  const bool new_step = event.state == LineState::kRunning && (before.state != LineState::kRunning ||
                                                               before.step_index != event.step_index);
  // A failed or stopped line is told with its end's own words, which come
  // right after its state.
  if (ending && end_text.empty()) return;
  if (event.state == before.state && !new_step && was_seen && !(ending && !end_text.empty())) return;
  std::string text;
  if (event.state == LineState::kRunning) {
    if (before.state != LineState::kRunning) PrintLine(out_, port, Tr("started"));
    if (event.steps == 0) return;
    text = Format(Tr("step %1$zu/%2$zu %3$s"), static_cast<std::size_t>(event.step_index),
                  static_cast<std::size_t>(event.steps), Tr(StepWord(event.step)));
  } else {
    text = StateText(event, line.end_text);
  }
  PrintLine(out_, port, text);
}

void StationView::Log(std::size_t position, const std::string& text) {
  if (quiet_log_) return;
  const std::string port = position < ports_.size() ? ports_[position] : "";
  if (!screen_) return PrintLine(log_, port, text);
  const std::string line = ports_.size() > 1 && !port.empty() ? port + ": " + text : text;
  if (log_ == out_) return Say(line);
  std::fprintf(log_, "%s\n", OneLine(line).c_str());
  std::fflush(log_);
}

void StationView::Say(const std::string& text) {
  if (!screen_) return PrintLine(out_, "", text);
  Erase();
  std::fprintf(out_, "%s\n", OneLine(text).c_str());
  Draw();
}

void StationView::PrintLine(std::FILE* to, const std::string& position, const std::string& text) {
  const std::string line = LocalTimeStamp(now_()) + " " + (position.empty() ? "" : position + ": ") + OneLine(text);
  std::fprintf(to, "%s\n", line.c_str());
  std::fflush(to);
}

void StationView::Redraw() {
  if (screen_ && dirty_) Draw();
}

void StationView::Close() {
  if (screen_) Draw();
}

void StationView::Erase() {
  if (drawn_ > 0) std::fprintf(out_, "\033[%zuA\r\033[J", drawn_);
  drawn_ = 0;
}

void StationView::Draw() {
  Erase();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!lines_[i].seen) continue;
    std::string port = ports_[i];
    port.resize(std::max<std::size_t>(port.size(), 6), ' ');
    std::string state = OneLine(StateText(lines_[i].last, lines_[i].end_text));
    const LineState s = lines_[i].last.state;
    if (s == LineState::kDone || s == LineState::kAlreadyDone || s == LineState::kFailed ||
        s == LineState::kStopped) {
      state = Format(Tr("%s; remove the modem"), state.c_str());
    }
    std::fprintf(out_, "%s%s\033[K\n", port.c_str(), state.c_str());
    ++drawn_;
  }
  std::fflush(out_);
  dirty_ = false;
}

}  // namespace orvane::cli
