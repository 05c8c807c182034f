#include "ui/station_engine_session.h"

#include <algorithm>

#include "serial/adapters.h"
#include "station/job.h"
#include "station/job_snapshot.h"

namespace orvane::ui {

EngineSession::EngineSession(station::Bench bench, std::string store_location, std::string version,
                             QObject* parent)
    : StationSession(parent),
      bench_(std::move(bench)),
      store_location_(std::move(store_location)),
      version_(std::move(version)) {}

// As the tool refuses a range whose every number has been given.
std::optional<std::string> EngineSession::CheckNumbersLeft(const station::Job& job) const {
  if (!job.serial) return std::nullopt;
  auto store = station::RecordStore::Open(store_location_, station::StoreMode::kExisting);
  if (!store) return store.error;
  auto left = store.value->get()->NumbersLeft(*job.serial);
  if (!left) return left.error;
  if (*left.value > 0) return std::nullopt;
  return "Все номера от " + std::to_string(job.serial->first) + " до " + std::to_string(job.serial->last) +
         " уже выданы в " + store.value->get()->Location().Describe();
}

std::vector<StationPosition> EngineSession::Positions() const {
  std::vector<StationPosition> shown;
  for (const station::Position& position : bench_.positions) shown.push_back({position.name, position.socket, position.device});
  return shown;
}

std::optional<std::string> EngineSession::Start(const std::string& job_file) {
  auto job = station::ReadJob(job_file);
  if (!job) return job.error;
  if (auto refusal = CheckNumbersLeft(*job.value)) return refusal;
  auto snapshot = station::JobSnapshot::Read(std::move(*job.value));
  if (!snapshot) return snapshot.error;
  const serial::DeviceFolders folders = serial::DeviceFolders::FromEnvironment();
  std::vector<station::StationPosition> lines;
  for (const station::Position& position : bench_.positions) lines.push_back(station::LineOf(position, folders));
  engine_ = std::make_unique<station::StationEngine>();
  connect(engine_.get(), &station::StationEngine::PositionChanged, this, &StationSession::PositionChanged);
  connect(engine_.get(), &station::StationEngine::SessionEnded, this,
          [this](const station::SessionTotals& totals) { emit SessionEnded(TotalsOf(totals)); });
  station::EngineOptions options;
  options.version = version_;
  options.station = bench_.station;
  engine_->Start(std::move(lines), std::make_shared<const station::JobSnapshot>(std::move(*snapshot.value)),
                 store_location_, options);
  return std::nullopt;
}

void EngineSession::StopNewJobs() {
  if (engine_) engine_->StopNewJobs();
}

void EngineSession::StopRunning() {
  // The records say what stopped the run, as the tool's signal does.
  if (engine_) engine_->StopRunning(0, "stopped from the station window");
}

SessionTotals TotalsOf(const station::SessionTotals& totals) {
  SessionTotals shown;
  shown.done = static_cast<int>(totals.done);
  shown.failed = static_cast<int>(totals.failed);
  shown.interrupted = static_cast<int>(totals.interrupted);
  if (!totals.serials.empty()) {
    shown.first_serial = totals.serials.front();
    shown.last_serial = totals.serials.back();
  }
  return shown;
}

}  // namespace orvane::ui
