// A session's job snapshot keeps the bytes it read and tells which file has
// changed on disk since.
#include "station/job_snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace orvane::station {
namespace {

namespace fs = std::filesystem;

TEST(JobSnapshot, KeepsTheBytesItReadAndSaysWhichFileChanged) {
  const fs::path folder = fs::temp_directory_path() / ("orvane-snapshot-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(folder / name, std::ios::binary) << text;
    return (folder / name).string();
  };
  Job job;
  job.file = write("job.toml", "image = \"main.mts\"\n");
  job.image = write("main.mts", "abc");
  job.plans = {write("a.yp1", "plan a"), write("b.yp1", "plan b")};

  auto snapshot = JobSnapshot::Read(job);
  ASSERT_TRUE(snapshot) << snapshot.error;
  EXPECT_EQ(snapshot.value->image->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const RunStart start = snapshot.value->RunStartFor("COM3", "A1", "1.0");
  ASSERT_EQ(start.plans.size(), 2u);
  EXPECT_EQ(start.plans[1].name, "b.yp1");
  EXPECT_EQ(start.plans[1].sha256, Sha256Hex({'p', 'l', 'a', 'n', ' ', 'b'}));
  EXPECT_EQ(start.image_sha256, snapshot.value->image->sha256);
  EXPECT_EQ(snapshot.value->ChangedOnDisk(), std::nullopt);

  for (const std::string& path : {job.plans[1], *job.image, job.file}) {
    auto again = JobSnapshot::Read(job);
    ASSERT_TRUE(again);
    std::ofstream(path, std::ios::app) << "more";
    EXPECT_EQ(again.value->ChangedOnDisk(), path);
  }
  fs::remove(job.plans[0]);
  EXPECT_EQ(snapshot.value->ChangedOnDisk(), job.file) << "the first of the changed files";
  EXPECT_EQ(std::string(snapshot.value->image->bytes.begin(), snapshot.value->image->bytes.end()), "abc");
  EXPECT_FALSE(JobSnapshot::Read(job)) << "a plan that is gone cannot be read";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace orvane::station
