// A live station session's hold on its positions in the records. A process
// id cannot be checked from another host sharing the database, so the
// session renews a lease instead: renewed every 10 s, it lapses 60 s after
// the last renewal. Five renewals may fail in a row (a store that hangs, a
// server restart) before another session may take the positions; a station
// that died has its running units marked abandoned by the next session
// started within a minute or so.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "station/outcome.h"
#include "station/record_store.h"

namespace orvane::station {

struct LeaseTimes {
  std::chrono::milliseconds renew{10000};
  std::chrono::milliseconds lapse{60000};
};

class SessionLease {
 public:
  using Log = std::function<void(const std::string&)>;

  // Opens its own store connection, marks the runs of lapsed sessions
  // abandoned and claims the positions; an error names the session that
  // holds one of them. The lease is renewed from the caller's event loop;
  // `log` hears of a renewal that failed.
  static Outcome<std::unique_ptr<SessionLease>> Claim(const std::string& store_location, SessionClaim claim,
                                                      LeaseTimes times, Log log);
  ~SessionLease();  // releases the session
  SessionLease(const SessionLease&) = delete;
  SessionLease& operator=(const SessionLease&) = delete;

  std::int64_t id() const { return id_; }
  RecordStore& store() { return *store_; }
  void Renew();

 private:
  SessionLease(std::unique_ptr<RecordStore> store, std::int64_t id, LeaseTimes times, Log log);

  std::unique_ptr<RecordStore> store_;
  std::int64_t id_;
  LeaseTimes times_;
  Log log_;
  QObject context_;
  QTimer timer_;
  bool lapse_told_ = false;
};

}  // namespace orvane::station
