#include "link/cp1251.h"
#include "tests/device/device_fixture.h"

namespace orvane::device {
namespace {

using ::testing::ElementsAre;

class UploadTest : public DeviceTest {
 protected:
  // Runs AddFile from inside the test folder, so a relative path such as
  // C:\p.yp1 is a file name here and reaches the device as typed.
  void AddRelative(const std::string& name, const Bytes& bytes) {
    WriteFile(name, bytes);
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    session.AddFile(name);
    std::filesystem::current_path(old);
  }
};

TEST_F(UploadTest, ThePlanOnDriveCGivesTheKnownHeaderAndFrames) {
  AddRelative("C:\\p.yp1", {1, 2, 3});
  ASSERT_EQ(queue().size(), 2u);
  const Bytes header{0x02, 0x00, 0x13, 0x00, 0x09, 0x43, 0x3A, 0x5C,
                     0x70, 0x2E, 0x79, 0x70, 0x31, 0x20, 0x03, 0x00};
  EXPECT_EQ(EntryData(0), header);
  Bytes create{0x5D, 0x59, 0x54, 0x57, 0x11, 0x15};
  create.insert(create.end(), header.begin(), header.end());
  create.push_back(0xA6);
  EXPECT_EQ(SentFrame(0), create);
  EXPECT_EQ(SentFrame(1),
            (Bytes{0x5D, 0x59, 0x54, 0x57, 0x07, 0x16, 0x10, 0x00, 0x03, 0x01, 0x02, 0x03, 0x68}));
}

TEST(UploadNames, TypeComesFromTheUpperCasedExtension) {
  EXPECT_EQ(FileTypeForPath("plan.YP1"), 2);
  EXPECT_EQ(FileTypeForPath("plan.yp1"), 2);
  EXPECT_EQ(FileTypeForPath("plan.Yp1"), 2);
  EXPECT_EQ(FileTypeForPath("plan.yp1.bak"), 0);
  EXPECT_EQ(FileTypeForPath("/home/u/plan"), 0);
  EXPECT_EQ(FileTypeForPath("/home/u.yp1/plan"), 0) << "a dot before the last separator";
  EXPECT_EQ(FileTypeForPath("C:\\dir.yp1\\plan"), 0);
  EXPECT_EQ(FileTypeForPath("D:plan.l7q"), 1);
  EXPECT_EQ(FileTypeForPath("x.rvp"), 0x8000);
  EXPECT_EQ(FileTypeForPath("x.r0"), 0x5256);
  EXPECT_EQ(FileTypeForPath("x.R1"), 0x5256);
  EXPECT_EQ(FileTypeForPath("x.R10"), 0);
}

TEST(UploadNames, NamesArePaddedToAnOddLengthAndLongPathsShortened) {
  EXPECT_EQ(DeviceFileName("/a/b.yp1").size(), 9u);  // 8 + one space
  EXPECT_EQ(DeviceFileName("/a/bc.yp1").size(), 9u);
  EXPECT_EQ(DeviceFileName("/a/bc.yp1").back(), '1');
  const std::string dir199 = "/" + std::string(190, 'd') + "/";  // 192 characters
  const std::string path200 = dir199 + "abcd.yp1";
  ASSERT_EQ(path200.size(), 200u);
  EXPECT_EQ(DeviceFileName(path200).size(), 201u) << "200 characters are kept";
  const std::string path201 = dir199 + "abcde.yp1";
  const Bytes name = DeviceFileName(path201);
  EXPECT_EQ(std::string(name.begin(), name.end()), "abcde.yp1");
  EXPECT_EQ(link::Cp1251ToUtf8(DeviceFileName("/планы/год.yp1")), "/планы/год.yp1 ");
}

TEST_F(UploadTest, ChunksCoverTheDataAtTheirDeviceOffsets) {
  for (std::size_t d : {0u, 32u, 33u}) {
    link().ClearQueue();
    Bytes data(d);
    for (std::size_t i = 0; i < d; ++i) data[i] = static_cast<std::uint8_t>(i);
    const std::string path = WriteFile("f.yp1", data);
    session.AddFile(path);
    const std::size_t n = DeviceFileName(path).size();
    ASSERT_EQ(queue().size(), 1 + (d + 31) / 32) << d;
    const Bytes header = EntryData(0);
    EXPECT_EQ(header[2] | (header[3] << 8), static_cast<int>(7 + n + d));
    if (d == 33) {
      EXPECT_EQ(EntryData(1)[0] | (EntryData(1)[1] << 8), static_cast<int>(7 + n));
      EXPECT_EQ(EntryData(1)[2], 32);
      EXPECT_EQ(EntryData(2)[0] | (EntryData(2)[1] << 8), static_cast<int>(7 + n + 32));
      EXPECT_EQ(EntryData(2), (Bytes{static_cast<std::uint8_t>(7 + n + 32), 0, 1, 32}));
      EXPECT_EQ(queue().at(2).length, 5);
    }
  }
}

TEST_F(UploadTest, FreeSpaceCheckAcceptsEqualityAndRefusesOneByteLess) {
  const std::string path = WriteFile("f.yp1", Bytes(100));
  const std::int32_t needed = static_cast<std::int32_t>(7 + DeviceFileName(path).size() + 100 + 20);
  session.model().free_space = needed - 1;
  session.AddFile(path);
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(session.model().status_panel, "Файл слишком большой");
  session.model().free_space = needed;
  session.AddFile(path);
  EXPECT_EQ(queue().size(), 5u);
}

TEST_F(UploadTest, DefaultFreeSpaceRefusesLargeFiles) {
  session.AddFile(WriteFile("big.yp1", Bytes(9990)));
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(session.model().status_panel, kStatusFileTooBig);
}

TEST_F(UploadTest, CircularPlanIsReadAsARing) {
  Bytes file(1040);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7);
  file[1029] = 20;
  file[1030] = 0;
  Bytes expected(file.begin() + 1024, file.end());
  expected.insert(expected.end(), file.begin(), file.begin() + 4);
  EXPECT_EQ(ConvertCircularPlan(file), expected);
  file[1029] = 0;
  EXPECT_TRUE(ConvertCircularPlan(file).empty());
  file[1030] = 0x09;  // 2304 bytes: more than twice round the file
  const Bytes round = ConvertCircularPlan(file);
  ASSERT_EQ(round.size(), 2304u);
  for (std::size_t i = 0; i < round.size(); ++i) ASSERT_EQ(round[i], file[(1024 + i) % 1040]);

  for (const char* name : {"ring.R0", "ring.r1"}) {
    link().ClearQueue();
    file[1029] = 20, file[1030] = 0;
    session.AddFile(WriteFile(name, file));
    ASSERT_EQ(queue().size(), 2u);
    const Bytes header = EntryData(0);
    EXPECT_EQ(header[0] | (header[1] << 8), 0x5256);
    const Bytes chunk = EntryData(1);
    EXPECT_EQ(Bytes(chunk.begin() + 3, chunk.end()), expected);
  }
}

TEST_F(UploadTest, CircularPlanWithoutItsLengthFieldIsRefused) {
  Bytes file(1030, 0);
  session.AddFile(WriteFile("short.R0", file));
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(session.model().status_panel, kStatusPlanTooShort);
  file.push_back(0);  // 1031 bytes: length 0, empty data
  session.AddFile(WriteFile("short.R0", file));
  EXPECT_EQ(queue().size(), 1u);
}

TEST_F(UploadTest, NameThatWouldNotFitOneFrameIsRefused) {
  const std::string name = std::string(242, 'n') + ".yp1";  // 246 characters
  ASSERT_LE(name.size(), 255u);
  session.AddFile(WriteFile(name, {1}));
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(session.model().status_panel, kStatusNameTooLong);
  const std::string fits = std::string(237, 'n') + ".yp1";  // 241 characters
  session.AddFile(WriteFile(fits, {1}));
  ASSERT_EQ(queue().size(), 2u);
  EXPECT_EQ(queue().head().length, 249);  // 7 + 241 + 1
}

TEST_F(UploadTest, AddFileActionFlow) {
  session.AddFileAction();  // cancelled
  EXPECT_EQ(host.choices.at(0).filter, "Годовой план АСУДД (версия 1)|*.yp1");
  host.files.push_back((dir / "missing.yp1").string());
  session.AddFileAction();
  EXPECT_EQ(host.opens, 0);
  EXPECT_TRUE(host.log.empty());
  host.files.push_back(WriteFile("big.yp1", Bytes(20000)));
  session.AddFileAction();
  EXPECT_EQ(host.opens, 1);
  EXPECT_THAT(host.log, ElementsAre(kStatusFileTooBig)) << "the refusal, and no word of adding a file";
  EXPECT_TRUE(queue().empty());
}

TEST_F(UploadTest, UnreadableFileRaisesAfterOpeningThePort) {
  // A folder opens but cannot be read, whoever runs the test.
  host.files.push_back(dir.string());
  EXPECT_THROW(session.AddFileAction(), FileError);
  EXPECT_EQ(host.opens, 1);
  EXPECT_TRUE(queue().empty());
  EXPECT_TRUE(host.log.empty());
}

TEST_F(UploadTest, CreateAnswerQueuesARefreshBehindTheChunks) {
  session.AddFile(WriteFile("f.yp1", Bytes(40)));
  Answer(Frame(link::kCreateFile));
  ASSERT_EQ(queue().size(), 3u);
  EXPECT_EQ(queue().at(2).command, link::kDirectory);
}

}  // namespace
}  // namespace orvane::device
