// The console's answers, driven through its pty with raw frames.
#include <gtest/gtest.h>

#include <thread>

#include "tests/sim/sim_rig.h"

namespace orvane::testing {
namespace {

using link::Command;

const Bytes kPoll{0x5D, 0x59, 0x54, 0x57, 0x01, 0x00, 0x9D};

Frame Answer(std::uint8_t command, Bytes data = {}) { return Frame{command, std::move(data)}; }

TEST(SimPolls, EveryPollIsTheFixedFrameAndCountsOnlyWhileThePortIsOpen) {
  sim::Simulator simulator(Responsive());
  const std::string path = simulator.Start();
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(simulator.Stats().polls, 0);

  auto options = Responsive();
  options.reply_window_us = 5'000;
  sim::Simulator quick(options);
  PcPort pc(quick.Start());
  const Bytes three = pc.ReadRaw(3 * kPoll.size(), milliseconds(2000));
  ASSERT_EQ(three.size(), 3 * kPoll.size());
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Bytes(three.begin() + i * 7, three.begin() + i * 7 + 7), kPoll);
  }
  EXPECT_GE(quick.Stats().polls, 3);
}

TEST(SimPolls, APcThatClosesAndReopensFindsNoPileOfOldPolls) {
  auto options = Responsive();
  options.reply_window_us = 5'000;
  sim::Simulator simulator(options);
  const std::string path = simulator.Start();
  {
    PcPort first(path);  // opened but never read: polls pile up
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_GT(simulator.Stats().polls, 3);
  }
  std::this_thread::sleep_for(milliseconds(100));
  ASSERT_TRUE(simulator.Running());
  PcPort again(path);
  EXPECT_LE(again.ReadRaw(1024, milliseconds(0)).size(), 2 * kPoll.size());
  EXPECT_TRUE(again.NextPoll(milliseconds(2000)));
}

TEST(SimAnswers, FirmwareChunksAreStoredAndVerifiedByRealComparison) {
  Rig rig;
  const Bytes first = Pattern(32, 1), second = Pattern(32, 99);
  EXPECT_EQ(rig.pc.Exchange(Command::kFirmwareWrite, Chunk(0, first)), Answer(1, {0x00}));
  EXPECT_EQ(rig.pc.Exchange(Command::kFirmwareWrite, Chunk(0x0120, second)), Answer(1, {0x20}));

  EXPECT_EQ(rig.pc.Exchange(Command::kFirmwareVerify, Chunk(0, first)), Answer(2, {0x00, 0x00, 0}));
  EXPECT_EQ(rig.pc.Exchange(Command::kFirmwareVerify, Chunk(0x0120, first)), Answer(2, {0x20, 0x01, 1}));
  EXPECT_EQ(rig.pc.Exchange(Command::kFirmwareVerify, Chunk(0x0140, second)), Answer(2, {0x40, 0x01, 1}));
  EXPECT_EQ(rig.pc.Exchange(Command::kFirmwareVerify, Chunk(0x0120, second)), Answer(2, {0x20, 0x01, 0}));

  const Bytes image = rig.simulator.State().firmware;
  ASSERT_EQ(image.size(), 0x0140u);
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 32), first);
  EXPECT_EQ(Bytes(image.begin() + 0x120, image.end()), second);

  // A new write pass starts at 0 and leaves nothing of the longer image.
  EXPECT_TRUE(rig.pc.Exchange(Command::kFirmwareWrite, Chunk(0, second)));
  EXPECT_EQ(rig.simulator.State().firmware, second);
}

TEST(SimAnswers, ConstantsBlockIsReadWrittenAndVerified) {
  Rig rig;
  Bytes block(34, 0);
  block[0] = 2;
  block[2] = 31;
  auto read = rig.pc.Exchange(Command::kConstantsRead, block);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->data, block);

  Bytes changed = block;
  changed[3] = 17;                   // local address
  changed[13] = 3;                   // identifier length
  changed[14] = 0xCA;                // 'К' in 1251
  EXPECT_EQ(rig.pc.Exchange(Command::kConstantsWrite, changed), Answer(3, {2}));
  EXPECT_EQ(rig.pc.Exchange(Command::kConstantsVerify, changed), Answer(4, {2, 0, 0}));
  EXPECT_EQ(rig.pc.Exchange(Command::kConstantsVerify, block), Answer(4, {2, 0, 1}));
  EXPECT_EQ(rig.pc.Exchange(Command::kConstantsRead, block)->data, changed);

  Bytes other_block = changed;
  other_block[0] = 3;
  EXPECT_EQ(rig.pc.Exchange(Command::kConstantsWrite, other_block), Answer(3, {3}));
  EXPECT_EQ(rig.pc.Exchange(Command::kConstantsVerify, other_block), Answer(4, {3, 0, 1}));
  const auto stored = rig.simulator.State().constants;
  EXPECT_EQ(Bytes(stored.begin(), stored.end()), changed);
}

TEST(SimAnswers, CreatedFileShowsInDirectoryDetailsAndFreeSpace) {
  Rig rig;
  const Bytes name = Ascii("C:\\p.yp1 ");
  EXPECT_EQ(rig.pc.Exchange(Command::kDirectory), Answer(16, {0}));
  EXPECT_EQ(rig.pc.Exchange(Command::kFreeSpace), Answer(18, {0x00, 0x40}));

  EXPECT_EQ(rig.pc.Exchange(Command::kCreateFile, FileHeader(2, name, 3)), Answer(21));
  EXPECT_EQ(rig.pc.Exchange(Command::kFileChunk, Chunk(16, {1, 2, 3})), Answer(22));

  EXPECT_EQ(rig.pc.Exchange(Command::kDirectory), Answer(16, {1}));
  Bytes details{0, 0, 2, 0, 3, 0, 9};
  details.insert(details.end(), name.begin(), name.end());
  EXPECT_EQ(rig.pc.Exchange(Command::kFileDetails, {0}), Answer(17, details));
  EXPECT_EQ(rig.pc.Exchange(Command::kFileDetails, {5}), Answer(17, {5, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(rig.pc.Exchange(Command::kFreeSpace), Answer(18, {0xED, 0x3F}));  // 16384 - 19

  const auto files = rig.simulator.State().files;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].type, 2);
  EXPECT_EQ(files[0].name, name);
  EXPECT_EQ(files[0].data, (Bytes{1, 2, 3}));
}

TEST(SimAnswers, ChunksLandOnlyInTheDataOfTheLastCreatedFile) {
  Rig rig;
  const Bytes name = Ascii("a.yp1");  // data start at 12
  ASSERT_TRUE(rig.pc.Exchange(Command::kCreateFile, FileHeader(2, name, 4)));
  ASSERT_TRUE(rig.pc.Exchange(Command::kFileChunk, Chunk(10, {0xA1, 0xA2, 0xA3, 0xA4})));
  ASSERT_TRUE(rig.pc.Exchange(Command::kFileChunk, Chunk(14, {0xB1, 0xB2, 0xB3})));
  // A refused create (wrong total length) leaves later chunks nowhere to go.
  Bytes malformed = FileHeader(2, name, 4);
  malformed[2] += 1;
  EXPECT_EQ(rig.pc.Exchange(Command::kCreateFile, malformed), Answer(21));
  ASSERT_TRUE(rig.pc.Exchange(Command::kFileChunk, Chunk(12, {9, 9, 9, 9})));

  const auto files = rig.simulator.State().files;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, name);
  EXPECT_EQ(files[0].data, (Bytes{0xA3, 0xA4, 0xB1, 0xB2}));
}

TEST(SimAnswers, CreateRefusesWhatDoesNotFitTheFreeSpace) {
  auto options = Responsive();
  options.capacity = 40;
  Rig rig(options);
  const Bytes name = Ascii("f.yp1");
  EXPECT_EQ(rig.pc.Exchange(Command::kCreateFile, FileHeader(2, name, 29)), Answer(21));  // 41 bytes
  EXPECT_EQ(rig.pc.Exchange(Command::kDirectory), Answer(16, {0}));
  EXPECT_EQ(rig.pc.Exchange(Command::kCreateFile, FileHeader(2, name, 28)), Answer(21));  // 40 bytes
  EXPECT_EQ(rig.pc.Exchange(Command::kDirectory), Answer(16, {1}));
  EXPECT_EQ(rig.pc.Exchange(Command::kFreeSpace), Answer(18, {0, 0}));
}

TEST(SimAnswers, DeleteAndEraseChangeTheDirectory) {
  sim::DeviceState state;
  state.files = {sim::SimFile{2, Ascii("one.yp1"), {1}}, sim::SimFile{1, Ascii("two.L7Q"), {2, 2}}};
  Rig rig(Responsive(), state);
  EXPECT_EQ(rig.pc.Exchange(Command::kDeleteFile, {7}), Answer(20));
  EXPECT_EQ(rig.simulator.State().files.size(), 2u);
  EXPECT_EQ(rig.pc.Exchange(Command::kDeleteFile, {0}), Answer(20));
  const auto left = rig.simulator.State().files;
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].name, Ascii("two.L7Q"));
  EXPECT_EQ(rig.pc.Exchange(Command::kEraseAll), Answer(19));
  EXPECT_TRUE(rig.simulator.State().files.empty());
  EXPECT_EQ(rig.pc.Exchange(Command::kFreeSpace), Answer(18, {0x00, 0x40}));
}

TEST(SimAnswers, UnknownCodesGetNoAnswer) {
  Rig rig;
  for (std::uint8_t code : {std::uint8_t{0}, std::uint8_t{7}, std::uint8_t{30}}) {
    EXPECT_FALSE(rig.pc.Exchange(code, {1, 2})) << int{code};
  }
  EXPECT_EQ(rig.simulator.Stats().answers, 0);
}

TEST(SimAnswers, AResendIsAnsweredAgainButNotAppliedTwice) {
  Rig rig;
  const Bytes header = FileHeader(2, Ascii("r.yp1"), 0);
  ASSERT_TRUE(rig.pc.Exchange(Command::kCreateFile, header));
  ASSERT_TRUE(rig.pc.Exchange(Command::kCreateFile, header));
  EXPECT_EQ(rig.simulator.State().files.size(), 1u);
  ASSERT_TRUE(rig.pc.Exchange(Command::kDirectory));
  ASSERT_TRUE(rig.pc.Exchange(Command::kCreateFile, header));  // a new command
  EXPECT_EQ(rig.simulator.State().files.size(), 2u);

  ASSERT_TRUE(rig.pc.Exchange(Command::kDeleteFile, {0}));
  ASSERT_TRUE(rig.pc.Exchange(Command::kDeleteFile, {0}));
  EXPECT_EQ(rig.simulator.State().files.size(), 1u);
}

TEST(SimAnswers, FailVerifyCountsDistinctChunksAndResendsKeepTheirStatus) {
  auto options = Responsive();
  options.fail_verify = 2;
  Rig rig(options);
  for (std::uint16_t offset : {0, 32, 64}) {
    ASSERT_TRUE(rig.pc.Exchange(Command::kFirmwareWrite, Chunk(offset, Pattern(32, offset & 0xFF))));
  }
  auto verify = [&](std::uint16_t offset) {
    auto answer = rig.pc.Exchange(Command::kFirmwareVerify, Chunk(offset, Pattern(32, offset & 0xFF)));
    return answer && answer->data.size() == 3 ? int{answer->data[2]} : -1;
  };
  EXPECT_EQ(verify(0), 0);
  EXPECT_EQ(verify(0), 0);   // resend, not counted
  EXPECT_EQ(verify(32), 1);  // the second distinct chunk
  EXPECT_EQ(verify(32), 1);  // its resend gets the same answer
  EXPECT_EQ(verify(64), 0);
}

TEST(SimTiming, EachAnsweredPollGivesOneTurnaroundSample) {
  Rig rig;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(rig.pc.Exchange(Command::kFileDetails, {static_cast<std::uint8_t>(i)}));
  ASSERT_TRUE(rig.pc.NextPoll(milliseconds(3000)));  // the console has done its counting
  const auto stats = rig.simulator.Stats();
  EXPECT_EQ(stats.answers, 5);
  ASSERT_EQ(stats.turnaround_us.size(), 5u);
  for (double sample : stats.turnaround_us) {
    EXPECT_GT(sample, 0);
    EXPECT_LT(sample, 2'000'000);
  }
  EXPECT_GE(stats.polls, 5);
}

TEST(SimTiming, IdleExitStopsTheConsoleOnceThePcFallsQuiet) {
  auto options = Responsive();
  options.exit_after_idle_ms = 100;
  Rig rig(options);
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_TRUE(rig.simulator.Running());  // nothing has come from the PC yet
  ASSERT_TRUE(rig.pc.Exchange(Command::kDirectory));
  const auto deadline = Clock::now() + milliseconds(1000);  // well inside a reply window
  while (rig.simulator.Running() && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(10));
  EXPECT_FALSE(rig.simulator.Running());
}

}  // namespace
}  // namespace orvane::testing
