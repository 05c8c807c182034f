#include "tests/device/device_fixture.h"

namespace orvane::device {
namespace {

using ::testing::ElementsAre;

Bytes Details(std::uint8_t index, std::uint16_t type, std::uint16_t size, const Bytes& name) {
  Bytes data(7 + name.size());
  data[0] = index;
  data[2] = static_cast<std::uint8_t>(type);
  data[3] = static_cast<std::uint8_t>(type >> 8);
  data[4] = static_cast<std::uint8_t>(size);
  data[5] = static_cast<std::uint8_t>(size >> 8);
  data[6] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), data.begin() + 7);
  return data;
}

// A scripted two-file device answers every request the link sends.
TEST_F(DeviceTest, RefreshOfATwoFileDeviceFillsTableAndConstants) {
  session.ResetFileTable();
  Poll();  // first poll: connection and the automatic refresh
  std::vector<std::uint8_t> sent_codes;
  const Bytes name0{'C', ':', '\\', 'a', '.', 'y', 'p', '1', ' '};
  const Bytes name1{0xCF, 0xEB, 0xE0, 0xED};  // "План"
  for (int step = 0; step < 5; ++step) {
    Poll();
    const Bytes& frame = host.written.back();
    const std::uint8_t code = frame[5];
    sent_codes.push_back(code);
    switch (code) {
      case link::kDirectory: Receive(Frame(code, {2})); break;
      case link::kFileDetails:
        Receive(Frame(code, frame[6] == 0 ? Details(0, 2, 1500, name0)
                                          : Details(1, 0x1A, 7, name1)));
        break;
      case link::kFreeSpace: Receive(Frame(code, {0x39, 0x30})); break;
      case link::kConstantsRead: Receive(Frame(code, Block("KV80", 180))); break;
    }
  }
  EXPECT_THAT(sent_codes, ElementsAre(16, 17, 17, 18, 5));
  EXPECT_THAT(host.log, ElementsAre(link::kLogConnected, kLogRefresh, link::kLogDone));
  const FileTable& t = device::DisplayTable(session.model().directory);
  ASSERT_EQ(t.row_count(), 4);
  EXPECT_EQ(t.cell(0, 1), "Исходное местоположение файла");
  EXPECT_EQ(t.cell(1, 0), "1");
  EXPECT_EQ(t.cell(1, 1), "C:\\a.yp1 ");
  EXPECT_EQ(t.cell(1, 2), "Годовой план АСУДД");
  EXPECT_EQ(t.cell(1, 3), "1500 б.");
  EXPECT_EQ(t.cell(2, 1), "План");
  EXPECT_EQ(t.cell(2, 2), "Неизвестный тип 1Ah");
  EXPECT_EQ(t.cell(3, 1), "Свободно - 12345 байт");
  EXPECT_EQ(session.model().free_space, 12345);
  EXPECT_EQ(session.model().fields.identifier, "KV80");
  EXPECT_EQ(session.model().fields.time_zone, 180);
  EXPECT_EQ(host.closes, 1);
}

TEST_F(DeviceTest, EmptyDirectoryAsksOnlyForFreeSpaceAndConstants) {
  link().QueueRefresh();
  Answer(Frame(link::kDirectory, {0}));
  ASSERT_EQ(queue().size(), 2u);
  EXPECT_EQ(queue().at(0).command, link::kFreeSpace);
  EXPECT_EQ(queue().at(1).command, link::kConstantsRead);
  EXPECT_EQ(device::DisplayTable(session.model().directory).row_count(), 2);
  Answer(Frame(link::kFreeSpace, {0x10, 0x27}));
  EXPECT_EQ(device::DisplayTable(session.model().directory).cell(1, 1), "Свободно - 10000 байт");
}

TEST_F(DeviceTest, DirectoryEmptiesOldRowsAndQueuesBehindWhatWasWaiting) {
  session.model().directory.files = {FileRecord{1, "old", 2, 10}, std::nullopt};
  link().QueueRefresh();
  link().Enqueue(link::kEraseAll, {});
  Answer(Frame(link::kDirectory, {1}));
  EXPECT_EQ(device::DisplayTable(session.model().directory).cell(1, 1), "");
  ASSERT_EQ(queue().size(), 4u);
  EXPECT_EQ(queue().at(0).command, link::kEraseAll);
  EXPECT_EQ(EntryData(1), Bytes{0});
  EXPECT_EQ(SentFrame(1), (Bytes{0x5D, 0x59, 0x54, 0x57, 0x02, 0x11, 0x00, 0x8B}));
}

TEST_F(DeviceTest, FileDetailsForARowOutsideTheTableAreNotShown) {
  link().QueueRefresh();
  Answer(Frame(link::kDirectory, {1}));  // rows: header, file 0, free space
  Answer(Frame(link::kFileDetails, Details(1, 2, 5, {'x'})));
  EXPECT_EQ(device::DisplayTable(session.model().directory).cell(2, 1), "") << "the free-space row keeps its place";
  EXPECT_EQ(queue().head().command, link::kFreeSpace) << "the answer still pops";
}

TEST(FileTypeName, KnownAndUnknownCodes) {
  EXPECT_EQ(FileTypeName(1), "Годовой план ларвена-7 \"ТЕЛВАРИ\"");
  EXPECT_EQ(FileTypeName(2), "Годовой план АСУДД");
  EXPECT_EQ(FileTypeName(0x5256), "Организация перекрестка РВМ-8");
  EXPECT_EQ(FileTypeName(0x8000), "Программа");
  EXPECT_EQ(FileTypeName(0x1A), "Неизвестный тип 1Ah");
  EXPECT_EQ(FileTypeName(0), "Неизвестный тип 0h");
  EXPECT_EQ(FileTypeName(0xBEEF), "Неизвестный тип BEEFh");
}

TEST_F(DeviceTest, DeleteTakesOnlyFileRows) {
  link().QueueRefresh();
  Answer(Frame(link::kDirectory, {3}));  // 5 rows
  link().ClearQueue();
  session.DeleteFileAtRow(0);
  session.DeleteFileAtRow(4);
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(host.opens, 0);
  session.DeleteFileAtRow(3);
  ASSERT_EQ(queue().size(), 2u);
  EXPECT_EQ(queue().at(0).command, link::kDeleteFile);
  EXPECT_EQ(EntryData(0), Bytes{2});
  EXPECT_EQ(queue().at(1).command, link::kDirectory);
  EXPECT_EQ(host.opens, 1);
}

TEST_F(DeviceTest, EraseAllAsksFirstAndQueuesARefreshOnTheAnswer) {
  session.EraseAll();
  ASSERT_EQ(host.warnings.size(), 1u);
  EXPECT_EQ(host.warnings[0],
            "Вы собираетесь удалить все файлы из памяти пульта!\n\rПодтвердите Ваше желание:");
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(host.opens, 0);
  EXPECT_TRUE(host.log.empty());
  host.answers.push_back(true);
  session.EraseAll();
  EXPECT_EQ(host.opens, 1);
  EXPECT_THAT(host.log, ElementsAre(kLogErasing));
  Answer(Frame(link::kEraseAll));
  ASSERT_EQ(queue().size(), 1u);
  EXPECT_EQ(queue().head().command, link::kDirectory);
}

TEST_F(DeviceTest, RefreshOpensQueuesAndLogs) {
  session.Refresh();
  EXPECT_EQ(host.opens, 1);
  EXPECT_THAT(host.log, ElementsAre(kLogRefresh));
  EXPECT_EQ(SentFrame(0), (Bytes{0x5D, 0x59, 0x54, 0x57, 0x01, 0x10, 0x8D}));
}

}  // namespace
}  // namespace orvane::device
