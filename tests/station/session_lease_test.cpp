// Station sessions in the records: who holds which positions, what a lapsed
// lease gives up, and what becomes of the runs of a station that died.
#include "station/session_lease.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>

#include "tests/station/store_fixture.h"

namespace orvane::station {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;

enum class Holder { kLive, kLapsed, kEnded };

class SessionLeaseTest : public StoreOnEachBackend {
 protected:
  // A session whose lease runs for `lapse` (a negative one has lapsed).
  std::int64_t Claim(const std::string& station, std::vector<std::string> positions,
                     std::chrono::milliseconds lapse = 60s) {
    const auto id = store_->ClaimSession({station, std::move(positions), "host-" + station, lapse});
    EXPECT_TRUE(id) << id.error;
    return id.value.value_or(-1);
  }

  std::int64_t Run(std::int64_t session) {
    RunStart start;
    start.port = "COM5";
    start.session = session;
    const auto run = store_->StartRun(start);
    EXPECT_TRUE(run) << run.error;
    return run.value.value_or(-1);
  }

  RunRecord Record(std::int64_t run) {
    const auto runs = store_->History({});
    EXPECT_TRUE(runs) << runs.error;
    for (const RunRecord& r : runs.value.value_or(std::vector<RunRecord>{})) {
      if (r.id == run) return r;
    }
    ADD_FAILURE() << "no run " << run;
    return {};
  }

};

TEST_P(SessionLeaseTest, ASecondSessionIsRefusedOnlyWhereALiveOneHoldsAPosition) {
  struct Case {
    const char* name;
    std::vector<std::string> held;
    Holder holder;
    bool same_station;
    std::vector<std::string> wanted;
    bool refused;
  };
  const Case cases[] = {
      {"same position", {"COM5", "COM6"}, Holder::kLive, true, {"COM6"}, true},
      {"one of several", {"COM5"}, Holder::kLive, true, {"COM4", "COM5", "COM7"}, true},
      {"other positions", {"COM5", "COM6"}, Holder::kLive, true, {"COM7", "COM8"}, false},
      {"other station", {"COM5"}, Holder::kLive, false, {"COM5"}, false},
      {"lapsed lease", {"COM5"}, Holder::kLapsed, true, {"COM5"}, false},
      {"ended session", {"COM5"}, Holder::kEnded, true, {"COM5"}, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string station = "bench-" + std::to_string(++n);
    const std::int64_t held = Claim(station, c.held, c.holder == Holder::kLapsed ? -1s : 60s);
    if (c.holder == Holder::kEnded) {
      ASSERT_EQ(store_->ReleaseSession(held), std::nullopt);
    }
    const auto second = store_->ClaimSession({c.same_station ? station : station + "-b", c.wanted, "other", 60s});
    EXPECT_EQ(!second, c.refused) << second.error;
    if (!c.refused) continue;
    // The refusal names the holder: its host, its start and its lease.
    EXPECT_THAT(second.error, AllOf(HasSubstr("host-" + station), HasSubstr("started at 20"),
                                    HasSubstr("running until 20")));
    for (const std::string& position : c.wanted) {
      const bool shared = std::find(c.held.begin(), c.held.end(), position) != c.held.end();
      EXPECT_EQ(second.error.find(position) != std::string::npos, shared) << position << ": " << second.error;
    }
  }
}

TEST_P(SessionLeaseTest, RunsOfALapsedSessionAreAbandonedAndOthersLeftAlone) {
  const std::int64_t dead = Claim("bench-1", {"COM5"}, -1s);
  const std::int64_t live = Claim("bench-1", {"COM6"});
  const std::int64_t dead_running = Run(dead);
  const std::int64_t dead_done = Run(dead);
  ASSERT_EQ(store_->FinishRun(dead_done, RunResult::kDone, ""), std::nullopt);
  const std::int64_t live_running = Run(live);
  const std::int64_t old_running = Run(0);  // a tool from before sessions

  const auto abandoned = store_->AbandonLapsedRuns();
  ASSERT_TRUE(abandoned) << abandoned.error;
  EXPECT_EQ(*abandoned.value, 1);
  const RunRecord gone = Record(dead_running);
  EXPECT_EQ(gone.result, RunResult::kAbandoned);
  EXPECT_EQ(gone.session, dead);
  EXPECT_THAT(gone.reason, AllOf(HasSubstr("host-bench-1"), HasSubstr("stopped renewing its lease at 20")));
  EXPECT_FALSE(gone.finished.empty());
  EXPECT_EQ(Record(dead_done).result, RunResult::kDone);
  EXPECT_EQ(Record(live_running).result, RunResult::kRunning);
  EXPECT_EQ(Record(old_running).result, RunResult::kRunning);
  EXPECT_EQ(*store_->AbandonLapsedRuns().value, 0);

  // The real end, written late, replaces the guess; the history can ask for it.
  HistoryFilter only_abandoned;
  only_abandoned.result = RunResult::kAbandoned;
  EXPECT_EQ(store_->History(only_abandoned).value->size(), 1u);
  ASSERT_EQ(store_->FinishRun(dead_running, RunResult::kFailed, "plan 1: no answer"), std::nullopt);
  EXPECT_EQ(Record(dead_running).result, RunResult::kFailed);
}

TEST_P(SessionLeaseTest, ALeaseIsRenewedWhileLiveAndNotOnceItLapsedOrEnded) {
  const std::int64_t live = Claim("bench-1", {"COM5"});
  EXPECT_EQ(store_->RenewSession(live, 60s), std::nullopt);
  const std::int64_t lapsed = Claim("bench-2", {"COM5"}, -1s);
  EXPECT_THAT(store_->RenewSession(lapsed, 60s).value_or(""), HasSubstr("lapsed at 20"));
  ASSERT_EQ(store_->ReleaseSession(live), std::nullopt);
  EXPECT_TRUE(store_->RenewSession(live, 60s)) << "an ended session stays ended";
  EXPECT_TRUE(store_->RenewSession(9999, 60s));
}

// The lease object renews from the event loop and lets go when it ends.
TEST_P(SessionLeaseTest, ALiveLeaseKeepsItsPositionsPastItsLapseAndFreesThemAtItsEnd) {
  const SessionClaim claim{"bench-1", {"COM5"}, "host-1"};
  std::vector<std::string> told;
  auto lease = SessionLease::Claim(database_->location(), claim, {50ms, 1s},
                                   [&](const std::string& line) { told.push_back(line); });
  ASSERT_TRUE(lease) << lease.error;
  const auto until = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < until) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(store_->ClaimSession(claim)) << "renewed past its first lapse";
  auto refused = SessionLease::Claim(database_->location(), claim, {}, nullptr);
  EXPECT_THAT(refused.error, HasSubstr("host-1"));
  lease.value->reset();
  EXPECT_TRUE(store_->ClaimSession(claim));
  EXPECT_TRUE(told.empty()) << told.front();
}

INSTANTIATE_TEST_SUITE_P(Backends, SessionLeaseTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

}  // namespace
}  // namespace orvane::station
