#include <cstdlib>

#include "tests/device/device_fixture.h"

namespace orvane::device {
namespace {

using ::testing::ElementsAre;

TEST_F(DeviceTest, ConstantsResponseFillsTheFieldsAndClearsTheQueue) {
  Bytes block = Block("", -60);
  const Bytes id{'K', 'V', 0xDE, 0xC3};  // "KVЮГ" in code page 1251
  block[13] = 4;
  std::copy(id.begin(), id.end(), block.begin() + 14);
  block[3] = 17;
  block[4] = 0x34, block[5] = 0x12;
  block[6] = 0xFE, block[7] = 0xFF, block[8] = 0xFF, block[9] = 0xFF;
  block[12] = 1;
  session.QueueReadConstants();
  link().Enqueue(link::kDirectory, {});
  Answer(Frame(link::kConstantsRead, block));
  const ConstantsFields& f = session.model().fields;
  EXPECT_EQ(f.identifier, "KVЮГ");
  EXPECT_EQ(f.time_zone, -60);
  EXPECT_EQ(f.summer_index, 1);
  EXPECT_EQ(f.local_address, 17);
  EXPECT_EQ(f.global_address, 0x1234);
  EXPECT_EQ(f.serial_number, -2);
  EXPECT_TRUE(queue().empty());
  EXPECT_THAT(host.log, ElementsAre(link::kLogQueueCleared)) << "the directory request behind it";
}

TEST_F(DeviceTest, ConstantsOfAnotherBlockLeaveTheFieldsButStillClear) {
  session.model().fields.identifier = "keep";
  Bytes block = Block("other");
  block[0] = 3;
  session.QueueReadConstants();
  Receive(Frame(link::kConstantsRead, block));
  EXPECT_EQ(session.model().fields.identifier, "keep");
  block = Block("other");
  block[2] = 30;
  Receive(Frame(link::kConstantsRead, block));
  EXPECT_EQ(session.model().fields.identifier, "keep");
  EXPECT_TRUE(queue().empty());
}

TEST_F(DeviceTest, OverlongIdentifierLengthShowsTwentyCharacters) {
  Bytes block = Block(std::string(20, 'A'));
  block[13] = 200;
  session.QueueReadConstants();
  Answer(Frame(link::kConstantsRead, block));
  EXPECT_EQ(session.model().fields.identifier, std::string(20, 'A'));
}

TEST_F(DeviceTest, SaveWritesVerifiesAndRefreshesWithTheBlockFromTheFields) {
  session.QueueReadConstants();
  Answer(Frame(link::kConstantsRead, Block("ABCDEFGHIJKLMNOPQRST")));
  ConstantsFields& f = session.model().fields;
  ASSERT_EQ(f.identifier, "ABCDEFGHIJKLMNOPQRST");
  session.SaveConstants();  // the block now holds the 20 characters
  link().ClearQueue();
  host.opens = 0;
  f.identifier = "xyz";
  f.time_zone = -60;
  f.summer_index = -1;
  f.local_address = 254;
  f.global_address = 65535;
  f.serial_number = 0x01020304;
  session.SaveConstants();
  EXPECT_EQ(host.opens, 1);
  ASSERT_EQ(queue().size(), 3u);
  EXPECT_EQ(queue().at(0).command, link::kConstantsWrite);
  EXPECT_EQ(queue().at(1).command, link::kConstantsVerify);
  EXPECT_EQ(queue().at(2).command, link::kDirectory);
  const Bytes sent = EntryData(0);
  EXPECT_EQ(sent, EntryData(1));
  EXPECT_EQ(queue().at(0).length, 35);
  const Bytes expected = {2,    0,    31,   254,  0xFF, 0xFF, 4,    3,    2,    1,   0xC4, 0xFF,
                          0xFF, 3,    'x',  'y',  'z',  'D',  'E',  'F',  'G',  'H', 'I',  'J',
                          'K',  'L',  'M',  'N',  'O',  'P',  'Q',  'R',  'S',  'T'};
  EXPECT_EQ(sent, expected) << "old identifier bytes stay behind the new length";
}

TEST_F(DeviceTest, SaveWithAFailingVerifyLogsTheErrorAndDropsTheRest) {
  session.SaveConstants();
  Poll();
  Poll();
  Receive(Frame(link::kConstantsWrite, {2}));
  Poll();
  host.log.clear();
  Receive(Frame(link::kConstantsVerify, {2, 0, 1}));
  EXPECT_THAT(host.log, ElementsAre(link::kLogVerifyError, link::kLogQueueCleared));
  EXPECT_TRUE(queue().empty());
  Poll();
  EXPECT_NE(host.written.back()[5], link::kDirectory) << "the refresh is not sent";
}

TEST_F(DeviceTest, IdentifierIsCutToTwentyCharactersInCodePage1251) {
  session.model().fields.identifier = "Пульт номер двадцать один";
  session.SaveConstants();
  const Bytes sent = EntryData(0);
  EXPECT_EQ(sent[13], 20);
  EXPECT_EQ(sent[14], 0xCF);  // П
  EXPECT_EQ(sent[33], 0xFC);  // the twentieth character, ь
}

TEST(AddressLimits, ClampAboveThenBelow) {
  EXPECT_EQ(LimitLocalAddress(300), 254);
  EXPECT_EQ(LimitLocalAddress(-5), 0);
  EXPECT_EQ(LimitLocalAddress(254), 254);
  EXPECT_EQ(LimitGlobalAddress(70000), 65535);
  EXPECT_EQ(LimitGlobalAddress(-1), 0);
  EXPECT_EQ(LimitGlobalAddress(65535), 65535);
}

TEST_F(DeviceTest, TimeZoneComesFromTheStandardOffset) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "MSK-3", 1);
  session.FillTimeZoneFromSystem();
  EXPECT_EQ(session.model().fields.time_zone, 180);
  setenv("TZ", "EST5EDT", 1);  // daylight saving is not used
  session.FillTimeZoneFromSystem();
  EXPECT_EQ(session.model().fields.time_zone, -300);
  setenv("TZ", "<+0530>-5:30", 1);
  session.FillTimeZoneFromSystem();
  EXPECT_EQ(session.model().fields.time_zone, 330);
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
}

}  // namespace
}  // namespace orvane::device
