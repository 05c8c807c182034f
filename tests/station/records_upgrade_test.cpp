// A store of the first layout opened by this program: upgraded in place with
// its rows intact and the new facts at their defaults, and a store of a
// newer layout refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "station/record_store.h"
#include "tests/station/store_version1.h"
#include "tests/station/test_database.h"

namespace orvane::station {
namespace {

using ::testing::HasSubstr;

class RecordsUpgradeTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (const std::string missing = BackendMissing(GetParam()); !missing.empty()) GTEST_SKIP() << missing;
    database_ = std::make_unique<TestDatabase>(GetParam());
    ASSERT_FALSE(database_->location().empty()) << database_->error();
    raw_ = std::make_unique<RawStore>(database_->location());
    ASSERT_TRUE(raw_->MakeVersion1()) << raw_->error();
  }
  std::unique_ptr<TestDatabase> database_;
  std::unique_ptr<RawStore> raw_;
};

TEST_P(RecordsUpgradeTest, AStoreOfTheFirstLayoutIsUpgradedInPlaceWithItsRows) {
  for (StoreMode mode : {StoreMode::kExisting, StoreMode::kCreate}) {  // the second open finds version 3
    auto opened = RecordStore::Open(database_->location(), mode);
    ASSERT_TRUE(opened) << opened.error;
  }
  EXPECT_EQ(raw_->Value("SELECT version FROM station_schema"), "3") << raw_->error();
  EXPECT_EQ(raw_->Value("SELECT COUNT(*) FROM station_schema"), "1") << raw_->error();
  auto store = std::move(*RecordStore::Open(database_->location(), StoreMode::kExisting).value);

  const auto runs = store->History({});
  ASSERT_TRUE(runs) << runs.error;
  ASSERT_EQ(runs.value->size(), 3u);
  const RunRecord& done = runs.value->at(0);
  EXPECT_EQ(done.port, "COM5");
  EXPECT_EQ(done.usb_serial, "A1");
  EXPECT_EQ(done.plans, (std::vector<PlanRecord>{{"p.yp1", "bb"}}));
  EXPECT_EQ(done.constants, Constants{.time_zone = 180});
  EXPECT_EQ(done.version, "0.9");
  EXPECT_EQ(done.finished, "2026-01-01T10:01:00.000Z");
  EXPECT_EQ(runs.value->at(1).reason, "plan 1 (p.yp1): no answer");
  const SerialKind kinds[] = {SerialKind::kFresh, SerialKind::kFresh, SerialKind::kAgain};
  const RunResult results[] = {RunResult::kDone, RunResult::kFailed, RunResult::kRunning};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const RunRecord& r = runs.value->at(i);
    EXPECT_EQ(r.id, static_cast<std::int64_t>(i) + 1);
    EXPECT_EQ(r.serial, i == 0 ? 100 : 101);
    EXPECT_EQ(r.serial_kind, kinds[i]);
    EXPECT_EQ(r.serial_again, kinds[i] == SerialKind::kAgain);
    EXPECT_EQ(r.result, results[i]);
    EXPECT_EQ(r.station, "");
    EXPECT_EQ(r.position, "");
    EXPECT_EQ(r.socket, "");
    EXPECT_EQ(r.trace, "");
    EXPECT_EQ(r.image_action, ImageAction::kNone);
    EXPECT_EQ(r.failed_step, StepKind::kNone);
    EXPECT_EQ(r.failed_plan, 0);
    EXPECT_EQ(r.holds_json, "{}");
    EXPECT_EQ(r.lease_until, "");
    EXPECT_EQ(r.session, 0);
  }

  // Nothing tells whether the tool of an old running run still lives.
  const auto abandoned = store->AbandonLapsedRuns();
  ASSERT_TRUE(abandoned) << abandoned.error;
  EXPECT_EQ(*abandoned.value, 0);
  EXPECT_EQ(store->History({}).value->at(2).result, RunResult::kRunning);

  // The counter goes on above the old numbers, and the old running run
  // still keeps 101 from being given again.
  EXPECT_EQ(store->FinishRun(3, RunResult::kInterrupted, "stopped"), std::nullopt);
  RunStart start;
  start.station = "bench-2";
  start.position = "Место 1";
  const auto run = store->StartRun(start);
  ASSERT_TRUE(run) << run.error;
  const auto grant = store->TakeSerial(*run.value, {100, 199}, 101);
  ASSERT_TRUE(grant) << grant.error;
  EXPECT_EQ(grant.value->serial, 101);
  EXPECT_EQ(grant.value->kind, SerialKind::kAgain);
  const auto next = store->StartRun(start);
  EXPECT_EQ(store->TakeSerial(*next.value, {100, 199}, std::nullopt).value->serial, 102);
  const auto last = store->History({}).value->back();
  EXPECT_EQ(last.station, "bench-2");
  EXPECT_EQ(last.position, "Место 1");
}

TEST_P(RecordsUpgradeTest, AStoreOfANewerLayoutIsRefused) {
  ASSERT_TRUE(RecordStore::Open(database_->location(), StoreMode::kExisting));
  ASSERT_TRUE(raw_->Execute("UPDATE station_schema SET version = 4")) << raw_->error();
  for (StoreMode mode : {StoreMode::kExisting, StoreMode::kCreate}) {
    const auto opened = RecordStore::Open(database_->location(), mode);
    ASSERT_FALSE(opened);
    EXPECT_THAT(opened.error, HasSubstr("are of version 4, and this program knows version 3 at most"));
  }
  EXPECT_EQ(raw_->Value("SELECT version FROM station_schema"), "4") << "left as it was";
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordsUpgradeTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

}  // namespace
}  // namespace orvane::station
