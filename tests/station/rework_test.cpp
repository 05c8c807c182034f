// A unit sent back for rework: the image's verify pass runs first, and a
// unit that holds the image already is not written again.
#include <gtest/gtest.h>
#include <unistd.h>

#include "device/session.h"
#include "link/operation_end.h"
#include "sim/simulator.h"
#include "tests/station/station_run.h"
#include "tests/station/test_database.h"

namespace orvane::station {
namespace {

using testing::Bytes;
using testing::Pattern;
using testing::StationRun;
namespace fs = std::filesystem;

constexpr std::size_t kImageSize = 10 * device::kChunkSize;

struct ReworkCase {
  const char* name;
  std::function<Bytes(const Bytes& image)> held;  // what the unit holds when it comes
  ImageAction action;
};

// A held image with one more chunk behind it: a write pass would cut it
// back to the image, so its length tells whether the unit was written.
Bytes SameWithTail(const Bytes& image) {
  Bytes held = image;
  held.resize(image.size() + device::kChunkSize, 0x5A);
  return held;
}
Bytes Other(const Bytes&) { return Pattern(kImageSize, 90); }
Bytes LastChunkDiffers(const Bytes& image) {
  Bytes held = image;
  held.back() ^= 0x01;
  return held;
}

TEST(Rework, AUnitHoldingTheImageIsNotWrittenAgainAndTheOthersAre) {
  const fs::path folder = fs::temp_directory_path() / ("orvane-rework-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const Bytes image = Pattern(kImageSize, 3);
  Job job;
  job.file = testing::WriteFile(folder / "job.toml", Bytes{'#'});
  job.image = testing::WriteFile(folder / "main.mts", image);
  job.constants.identifier = "Pult";
  auto snapshot = JobSnapshot::Read(job);
  ASSERT_TRUE(snapshot) << snapshot.error;
  const auto shared = std::make_shared<JobSnapshot>(std::move(*snapshot.value));

  const ReworkCase cases[] = {
      {"holds the image", SameWithTail, ImageAction::kAlreadyHeld},
      {"holds another image", Other, ImageAction::kWritten},
      {"differs in the last chunk", LastChunkDiffers, ImageAction::kWritten},
  };
  std::vector<long> frames;
  for (const ReworkCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestDatabase database(Backend::kSqlite);
    ASSERT_TRUE(RecordStore::Open(database.location(), StoreMode::kCreate));
    sim::SimOptions options;
    options.poll_interval_us = 2000;
    sim::DeviceState unit;
    unit.firmware = c.held(image);
    sim::Simulator modem(options, unit);
    StationRun run({{modem.Start(), ""}}, shared, database.location());
    ASSERT_TRUE(run.WaitForEnds(1));
    ASSERT_EQ(run.ends[0].state, LineState::kDone) << run.ends[0].reason;
    frames.push_back(modem.Stats().frames_received);

    const Bytes expected = c.action == ImageAction::kAlreadyHeld ? SameWithTail(image) : image;
    EXPECT_EQ(modem.State().firmware, expected);
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), link::kLogVerifyError), 0);
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), link::kLogQueueCleared), 0);
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), device::kLogFlashing),
              c.action == ImageAction::kWritten ? 1 : 0);
    for (const PositionEvent& event : run.events) EXPECT_EQ(event.cause, FailureCause::kNone);

    auto store = RecordStore::Open(database.location(), StoreMode::kExisting);
    auto runs = (*store.value)->History({});
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs.value->size(), 1u);
    EXPECT_EQ((*runs.value)[0].image_action, c.action);
  }
  // The probe stops at the first chunk that differs.
  EXPECT_LT(frames[0], frames[1]);
  EXPECT_LT(frames[1], frames[2]);
  fs::remove_all(folder);
}

// Without an erase a plan replaces its older copy by stored name; a file
// of another name stays.
TEST(Rework, APlanReplacesItsOlderCopyAndOtherFilesStay) {
  const fs::path folder = fs::temp_directory_path() / ("orvane-replan-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const Bytes plan = Pattern(200, 5);
  Job job;
  job.file = testing::WriteFile(folder / "job.toml", Bytes{'#'});
  job.plans = {testing::WriteFile(folder / "p.yp1", plan)};
  auto snapshot = JobSnapshot::Read(job);
  ASSERT_TRUE(snapshot) << snapshot.error;
  TestDatabase database(Backend::kSqlite);
  ASSERT_TRUE(RecordStore::Open(database.location(), StoreMode::kCreate));

  const std::uint16_t type = device::FileTypeForPath(job.plans[0]);
  const sim::SimFile unrelated{type, device::DeviceFileName("other.yp1"), Pattern(50, 1)};
  sim::DeviceState unit;
  unit.files = {{type, device::DeviceFileName(job.plans[0]), Pattern(120, 9)}, unrelated};
  sim::SimOptions options;
  options.poll_interval_us = 2000;
  sim::Simulator modem(options, unit);
  StationRun run({{modem.Start(), ""}}, std::make_shared<JobSnapshot>(std::move(*snapshot.value)),
                 database.location());
  ASSERT_TRUE(run.WaitForEnds(1));
  std::string log;
  for (const std::string& line : run.log) log += line + "\n";
  ASSERT_EQ(run.ends[0].state, LineState::kDone) << run.ends[0].reason << "\n" << log;

  const auto files = modem.State().files;
  ASSERT_EQ(files.size(), 2u);
  const auto stored = [&](const Bytes& name) {
    return std::find_if(files.begin(), files.end(), [&](const sim::SimFile& f) { return f.name == name; });
  };
  ASSERT_NE(stored(unrelated.name), files.end());
  EXPECT_EQ(stored(unrelated.name)->data, unrelated.data);
  ASSERT_NE(stored(device::DeviceFileName(job.plans[0])), files.end());
  EXPECT_EQ(stored(device::DeviceFileName(job.plans[0]))->data, plan);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace orvane::station
