#include "station/station_engine.h"

#include <QSysInfo>
#include <algorithm>

#include "station/unit_trace.h"

namespace orvane::station {

struct StationEngine::Slot {
  QThread thread;
  QObject context;  // lives in the thread; runs the worker's calls there
  std::unique_ptr<PositionWorker> worker;
};

StationEngine::StationEngine(QObject* parent) : QObject(parent) {}

// Each worker is deleted in its own thread, where its port and store live.
StationEngine::~StationEngine() {
  for (auto& slot : slots_) {
    QMetaObject::invokeMethod(&slot->context, [&slot] { slot->worker.reset(); }, Qt::BlockingQueuedConnection);
    slot->thread.quit();
    slot->thread.wait();
  }
  lease_.reset();
}

template <class Work>
void StationEngine::OnWorker(Slot& slot, Work work) {
  QMetaObject::invokeMethod(&slot.context, [&slot, work] {
    if (slot.worker) work(*slot.worker);
  });
}

std::optional<std::string> StationEngine::Start(std::vector<StationPosition> positions,
                                                std::shared_ptr<const JobSnapshot> snapshot,
                                                std::string store_location, EngineOptions options) {
  SessionClaim claim;
  claim.host = QSysInfo::machineHostName().toStdString();
  claim.station = claim.host;
  for (const StationPosition& position : positions) claim.positions.push_back(position.port);
  auto lease = SessionLease::Claim(store_location, std::move(claim), options.lease,
                                   [this](const std::string& line) { emit LogLine(0, line); });
  if (!lease) return lease.error;
  lease_ = std::move(*lease.value);
  options.session = lease_->id();
  if (options.end_spool.empty()) options.end_spool = EndSpool::DefaultPath().value.value_or("");
  if (auto told = EndSpool(options.end_spool).FlushAndTell(lease_->store())) emit LogLine(0, *told);
  once_ = options.once;
  if (auto traces = TraceFolderFor(store_location)) PruneTraces(*traces.value);
  running_.assign(positions.size(), false);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    auto slot = std::make_unique<Slot>();
    slot->context.moveToThread(&slot->thread);
    slot->thread.setObjectName(QString::fromStdString("position " + positions[i].port));
    slot->thread.start();
    // The sinks run in the worker's thread and post to this one.
    PositionWorker::Sinks sinks{
        .event = [this](const PositionEvent& event) {
          QMetaObject::invokeMethod(this, [this, event] { Received(event); });
        },
        .unit_ended = [this](const UnitEnd& end) { QMetaObject::invokeMethod(this, [this, end] { Ended(end); }); },
        .log = [this, i](const std::string& line) {
          QMetaObject::invokeMethod(this, [this, i, line] { emit LogLine(i, line); });
        },
        .finished = [this] { QMetaObject::invokeMethod(this, [this] { Finished(); }); },
        .stop_taken = [this] { QMetaObject::invokeMethod(this, [this] { StopTaken(); }); },
    };
    Slot* raw = slot.get();
    QMetaObject::invokeMethod(&raw->context, [raw, i, position = positions[i], snapshot, store_location, options,
                                              sinks]() mutable {
      raw->worker = std::make_unique<PositionWorker>(i, std::move(position), snapshot, store_location, options,
                                                     std::move(sinks));
      raw->worker->Begin();
    });
    slots_.push_back(std::move(slot));
  }
  if (positions.empty()) QMetaObject::invokeMethod(this, [this] { EndIfIdle(); }, Qt::QueuedConnection);
  return std::nullopt;
}

void StationEngine::StopNewJobs() {
  stopping_ = true;
  stops_taken_ = 0;
  for (auto& slot : slots_) OnWorker(*slot, [](PositionWorker& worker) { worker.StopNewJobs(); });
  EndIfIdle();
}

void StationEngine::StopRunning(int signal, const std::string& why) {
  stopping_ = true;
  stops_taken_ = 0;
  for (auto& slot : slots_) {
    OnWorker(*slot, [signal, why](PositionWorker& worker) { worker.StopRunning(signal, why); });
  }
  EndIfIdle();
}

// A position runs from its first running event until its unit's end.
void StationEngine::Received(const PositionEvent& event) {
  if (event.position < running_.size() && event.state == LineState::kRunning) running_[event.position] = true;
  emit PositionChanged(event);
}

void StationEngine::Ended(const UnitEnd& end) {
  if (end.position < running_.size()) running_[end.position] = false;
  ends_.push_back(end);
  switch (end.state) {
    case LineState::kDone: ++totals_.done; break;
    case LineState::kAlreadyDone: ++totals_.already_done; break;
    case LineState::kStopped: ++totals_.interrupted; break;
    default: ++totals_.failed; break;
  }
  if (end.state == LineState::kDone && end.serial) {
    totals_.serials.insert(std::upper_bound(totals_.serials.begin(), totals_.serials.end(), *end.serial),
                           *end.serial);
  }
  emit UnitEnded(end);
  EndIfIdle();
}

void StationEngine::StopTaken() {
  ++stops_taken_;
  EndIfIdle();
}

void StationEngine::Finished() {
  ++finished_;
  EndIfIdle();
}

void StationEngine::EndIfIdle() {
  if (ended_) return;
  const bool through = once_ ? finished_ == slots_.size()
                             : stopping_ && stops_taken_ == slots_.size() &&
                                   std::none_of(running_.begin(), running_.end(), [](bool r) { return r; });
  if (!through) return;
  ended_ = true;
  lease_.reset();
  emit SessionEnded(totals_);
}

}  // namespace orvane::station
