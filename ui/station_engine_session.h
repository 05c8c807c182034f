// The station window's session on the station engine: the one adapter
// between the window and the engine that `orvane-cli provision --watch`
// runs. The job's files are read once at the start, as the tool reads them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "station/bench.h"
#include "station/job.h"
#include "station/station_engine.h"
#include "ui/station_session.h"

namespace orvane::ui {

class EngineSession : public StationSession {
  Q_OBJECT

 public:
  // The engine's records name the bench's station (the host's name when the
  // bench names none) and its positions, as the tool's do.
  EngineSession(station::Bench bench, std::string store_location, std::string version, QObject* parent = nullptr);

  std::vector<StationPosition> Positions() const override;
  std::optional<std::string> Start(const std::string& job_file) override;
  void StopNewJobs() override;
  void StopRunning() override;

 private:
  std::optional<std::string> CheckNumbersLeft(const station::Job& job) const;

  station::Bench bench_;
  std::string store_location_;
  std::string version_;
  std::unique_ptr<station::StationEngine> engine_;
};

// The engine's totals as the window shows them.
SessionTotals TotalsOf(const station::SessionTotals& totals);

}  // namespace orvane::ui
