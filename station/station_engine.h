// The station's session: a worker per position, each in a thread of its
// own with its own event loop, port and record store connection, for as
// long as the session lasts. This object lives in the caller's thread; it
// starts the workers and hands on what they report, in order, as signals
// of this thread. The terminal view and the window render the same events.
#pragma once

#include <QObject>
#include <QThread>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/events.h"
#include "station/job_snapshot.h"
#include "station/position_worker.h"
#include "station/session_lease.h"

namespace orvane::station {

struct SessionTotals {
  std::size_t done = 0, already_done = 0, failed = 0, interrupted = 0;
  std::vector<std::int64_t> serials;  // given in this session, ascending
};

class StationEngine : public QObject {
  Q_OBJECT

 public:
  explicit StationEngine(QObject* parent = nullptr);
  ~StationEngine() override;

  // Claims the positions in the records first: a refusal (another live
  // session holds one of them, or the store cannot be used) starts nothing.
  std::optional<std::string> Start(std::vector<StationPosition> positions, std::shared_ptr<const JobSnapshot> snapshot,
                                   std::string store_location, EngineOptions options);
  // No new job starts; the running ones finish. The session ends once none
  // runs (with `once`, once every position is through).
  void StopNewJobs();
  // The running jobs stop and end interrupted; `why` goes into their records.
  void StopRunning(int signal, const std::string& why);

  const std::vector<UnitEnd>& ends() const { return ends_; }
  const SessionTotals& totals() const { return totals_; }
  bool ended() const { return ended_; }

 signals:
  void PositionChanged(const orvane::station::PositionEvent& event);
  void UnitEnded(const orvane::station::UnitEnd& end);
  void LogLine(std::size_t position, const std::string& line);
  void SessionEnded(const orvane::station::SessionTotals& totals);

 private:
  struct Slot;
  void Received(const PositionEvent& event);
  void Ended(const UnitEnd& end);
  void Finished();
  void StopTaken();
  void EndIfIdle();
  template <class Work>
  void OnWorker(Slot& slot, Work work);

  std::unique_ptr<SessionLease> lease_;  // released after the workers are gone
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<UnitEnd> ends_;
  SessionTotals totals_;
  std::vector<bool> running_;
  std::size_t finished_ = 0;
  std::size_t stops_taken_ = 0;  // workers that took the latest stop
  bool once_ = false;
  bool stopping_ = false;
  bool ended_ = false;
};

}  // namespace orvane::station
