// What the station window needs of a station session: start it with a job,
// stop it in two steps, and hear every position's line and the session's
// end. The station engine stands behind it through one adapter, so the
// window keeps no rule of the session's own.
#pragma once

#include <QObject>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/events.h"

namespace orvane::ui {

// A position of the bench, in the order of the hub's sockets.
struct StationPosition {
  std::string name;
  std::string socket;  // the hub socket's name; may be empty
  std::string device;  // the port's device file now; empty while unplugged
};

struct SessionTotals {
  int done = 0;
  int failed = 0;
  int interrupted = 0;
  std::optional<std::int64_t> first_serial, last_serial;  // the numbers given
  bool operator==(const SessionTotals&) const = default;
};

class StationSession : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  virtual std::vector<StationPosition> Positions() const = 0;
  // Starts the session with the job file; the refusal in the tool's words
  // when a check fails, and then nothing has reached a modem.
  virtual std::optional<std::string> Start(const std::string& job_file) = 0;
  // No new job starts; the running ones finish.
  virtual void StopNewJobs() = 0;
  // The running jobs are stopped; they end interrupted.
  virtual void StopRunning() = 0;

 signals:
  void PositionChanged(const orvane::station::PositionEvent& event);
  void SessionEnded(const orvane::ui::SessionTotals& totals);
};

}  // namespace orvane::ui
