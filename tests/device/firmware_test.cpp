#include "tests/device/device_fixture.h"

namespace orvane::device {
namespace {

using ::testing::ElementsAre;

class FirmwareTest : public DeviceTest {
 protected:
  static Bytes Image(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return image;
  }
  std::size_t Offset(std::size_t i) { return EntryData(i)[0] | (EntryData(i)[1] << 8); }
};

TEST_F(FirmwareTest, ImageOfZerosGivesTheKnownFirstFrames) {
  session.UploadFirmware(WriteFile("zero.mts", Bytes(64, 0)));
  ASSERT_EQ(queue().size(), 4u);
  Bytes write{0x5D, 0x59, 0x54, 0x57, 0x24, 0x01, 0x00, 0x00, 0x20};
  write.insert(write.end(), 32, 0x00);
  write.push_back(0x59);
  EXPECT_EQ(SentFrame(0), write);
  Bytes verify = write;
  verify[5] = 0x02;
  verify.back() = 0x58;
  EXPECT_EQ(SentFrame(2), verify);
  EXPECT_EQ(SentFrame(0).size(), 42u);
  EXPECT_EQ(Offset(1), 32u);
  EXPECT_EQ(Offset(3), 32u);
}

TEST_F(FirmwareTest, PassesCoverTheImageWithIdenticalChunks) {
  struct Case {
    std::size_t size, chunks, last_offset;
  };
  for (const Case c : {Case{33, 2, 32}, Case{64, 2, 32}, Case{0, 1, 0}, Case{65505, 2048, 65504},
                       Case{65535, 2048, 65504}}) {
    link().ClearQueue();
    const Bytes image = Image(c.size);
    session.UploadFirmware(WriteFile("fw.mts", image));
    ASSERT_EQ(queue().size(), 2 * c.chunks) << c.size;
    EXPECT_EQ(Offset(c.chunks - 1), c.last_offset) << c.size;
    for (std::size_t i = 0; i < c.chunks; ++i) {
      const Bytes w = EntryData(i);
      ASSERT_EQ(queue().at(i).command, link::kFirmwareWrite);
      ASSERT_EQ(queue().at(c.chunks + i).command, link::kFirmwareVerify);
      ASSERT_EQ(w, EntryData(c.chunks + i)) << "verify carries the write chunk's bytes";
      ASSERT_EQ(w.size(), 35u);
      ASSERT_EQ(w[2], 32);
      const std::size_t offset = i * 32;
      for (std::size_t k = 0; k < 32 && offset + k < c.size; ++k) {
        ASSERT_EQ(w[3 + k], image[offset + k]) << c.size << " chunk " << i;
      }
    }
  }
}

TEST_F(FirmwareTest, VerifyAloneQueuesTheVerifyPassOfAReflashAndNothingElse) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{33}, std::size_t{65535}}) {
    link().ClearQueue();
    session.UploadFirmware(WriteFile("fw.mts", Image(size)));
    const std::size_t chunks = queue().size() / 2;
    std::vector<Bytes> verify_pass;
    for (std::size_t i = chunks; i < 2 * chunks; ++i) verify_pass.push_back(EntryData(i));
    link().ClearQueue();
    session.VerifyFirmware(WriteFile("fw.mts", Image(size)));
    ASSERT_EQ(queue().size(), chunks) << size;
    for (std::size_t i = 0; i < chunks; ++i) {
      ASSERT_EQ(queue().at(i).command, link::kFirmwareVerify);
      ASSERT_EQ(EntryData(i), verify_pass[i]) << size << " chunk " << i;
    }
  }
  link().ClearQueue();
  session.VerifyFirmware(WriteFile("fw.mts", Bytes(65536)));
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(session.model().status_panel, "Файл слишком большой!");
}

TEST_F(FirmwareTest, FillerIsDefinedForShortImages) {
  session.UploadFirmware(WriteFile("fw.mts", Bytes{}));
  Bytes empty_chunk{0, 0, 32};
  empty_chunk.insert(empty_chunk.end(), 32, kFirmwareFiller);
  EXPECT_EQ(EntryData(0), empty_chunk);
  link().ClearQueue();
  session.UploadFirmware(WriteFile("fw.mts", Bytes{7, 8}));
  const Bytes chunk = EntryData(0);
  EXPECT_EQ(chunk[3], 7);
  EXPECT_EQ(chunk[4], 8);
  for (std::size_t k = 5; k < chunk.size(); ++k) EXPECT_EQ(chunk[k], kFirmwareFiller);
}

TEST_F(FirmwareTest, LargestImageQueuesFourThousandNinetySevenEntries) {
  host.answers.push_back(true);
  host.files.push_back(WriteFile("fw.mts", Image(65535)));
  session.Reflash();
  ASSERT_EQ(queue().size(), 4097u);
  EXPECT_EQ(queue().at(4096).command, link::kDirectory);
  EXPECT_EQ(Offset(2047), 65504u);
  EXPECT_EQ(Offset(4095), 65504u);
  EXPECT_EQ(host.progress_maximum, 4097);
  EXPECT_EQ(host.counter, "Очередь команд: 4097.");
  EXPECT_THAT(host.log, ElementsAre(kLogFlashing));
  EXPECT_EQ(host.choices.at(0).filter, "Зашифрованные прошивки|*.mts");
  EXPECT_EQ(host.choices.at(0).default_extension, "*.mts");
  EXPECT_EQ(host.warnings.at(0), "Все данные в пульте будут утеряны!\n\rПодтвердите операцию");
}

// The refusal is in the log as in the status bar, and nothing follows it
// that would read as a reflash under way or done; the next action clears the
// status bar.
TEST_F(FirmwareTest, TooLargeImageIsRefusedInTheLogWithNothingQueued) {
  host.answers.push_back(true);
  host.files.push_back(WriteFile("fw.mts", Bytes(65536)));
  session.Reflash();
  EXPECT_TRUE(queue().empty());
  EXPECT_EQ(session.model().status_panel, "Файл слишком большой!");
  EXPECT_THAT(host.log, ElementsAre("Файл слишком большой!"));
  ASSERT_EQ(host.outcomes.size(), 1u);
  EXPECT_EQ(host.outcomes[0].kind, link::OperationEnd::Kind::kRefused);
  EXPECT_EQ(host.outcomes[0].refusal, link::Refusal::kFirmwareTooBig);
  session.Refresh();
  EXPECT_EQ(session.model().status_panel, "");
}

TEST_F(FirmwareTest, AnEmptyImageIsAskedAboutOnceMore) {
  const std::string empty = WriteFile("empty.mts", {});
  host.answers = {true, false};
  host.files.push_back(empty);
  session.Reflash();
  ASSERT_EQ(host.warnings.size(), 2u);
  EXPECT_EQ(host.warnings[1], kEmptyImageWarning);
  EXPECT_EQ(host.opens, 0);
  EXPECT_TRUE(queue().empty());
  host.answers = {true, true};
  host.files.push_back(empty);
  session.Reflash();
  EXPECT_EQ(queue().size(), 3u) << "one write chunk, one verify chunk, the refresh";
}

TEST_F(FirmwareTest, NoOrCancelDoesNothing) {
  session.Reflash();
  EXPECT_TRUE(host.choices.empty());
  host.answers.push_back(true);
  session.Reflash();
  EXPECT_EQ(host.choices.size(), 1u);
  EXPECT_EQ(host.opens, 0);
  EXPECT_TRUE(queue().empty());
  EXPECT_TRUE(host.log.empty());
}

TEST_F(FirmwareTest, MissingImageRaisesAfterOpeningWithNothingQueued) {
  host.answers.push_back(true);
  host.files.push_back((dir / "none.mts").string());
  EXPECT_THROW(session.Reflash(), FileError);
  EXPECT_EQ(host.opens, 1);
  EXPECT_TRUE(queue().empty());
  EXPECT_TRUE(host.log.empty());
}

TEST_F(FirmwareTest, AnswersPopByTheOffsetLowByteAndAFailedVerifyStops) {
  session.UploadFirmware(WriteFile("fw.mts", Image(0x140)));  // 10 chunks a pass
  for (int i = 0; i < 9; ++i) link().PopQueue();
  ASSERT_EQ(Offset(0), 0x120u);
  EXPECT_EQ(EntryData(0)[0], 0x20);
  Answer(Frame(link::kFirmwareWrite, {0x20}));
  EXPECT_EQ(queue().size(), 10u);
  Receive(Frame(link::kFirmwareVerify, {0x00, 0x00, 0x01}));
  EXPECT_THAT(host.log, ElementsAre(link::kLogVerifyError, link::kLogQueueCleared, link::kLogProgramDiffers));
  EXPECT_TRUE(queue().empty());
}

}  // namespace
}  // namespace orvane::device
