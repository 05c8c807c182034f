#include "station/session_lease.h"

namespace orvane::station {

Outcome<std::unique_ptr<SessionLease>> SessionLease::Claim(const std::string& store_location, SessionClaim claim,
                                                           LeaseTimes times, Log log) {
  using Claimed = Outcome<std::unique_ptr<SessionLease>>;
  auto store = RecordStore::Open(store_location, StoreMode::kExisting);
  if (!store) return Claimed::Failed(store.error);
  RecordStore& records = **store.value;
  if (auto abandoned = records.AbandonLapsedRuns(); !abandoned) return Claimed::Failed(abandoned.error);
  claim.lapse = times.lapse;
  auto id = records.ClaimSession(claim);
  if (!id) return Claimed::Failed(id.error);
  // A session found dead on this host was ended by the claim: its units too.
  if (auto abandoned = records.AbandonLapsedRuns(); !abandoned) return Claimed::Failed(abandoned.error);
  return Claimed::Done(std::unique_ptr<SessionLease>(
      new SessionLease(std::move(*store.value), *id.value, times, std::move(log))));
}

SessionLease::SessionLease(std::unique_ptr<RecordStore> store, std::int64_t id, LeaseTimes times, Log log)
    : store_(std::move(store)), id_(id), times_(times), log_(std::move(log)) {
  QObject::connect(&timer_, &QTimer::timeout, &context_, [this] { Renew(); });
  timer_.start(static_cast<int>(times_.renew.count()));
}

SessionLease::~SessionLease() {
  timer_.stop();
  // A connection the server dropped (a restart since the last renewal)
  // fails its first statement and opens again for the next.
  auto error = store_->ReleaseSession(id_);
  if (error) error = store_->ReleaseSession(id_);
  if (error && log_) log_(*error);
}

// A failed renewal is told once until one succeeds again.
void SessionLease::Renew() {
  const auto error = store_->RenewSession(id_, times_.lapse);
  if (!error) {
    lapse_told_ = false;
    return;
  }
  if (!lapse_told_ && log_) log_(*error);
  lapse_told_ = true;
}

}  // namespace orvane::station
