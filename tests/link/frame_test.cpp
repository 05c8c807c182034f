#include <gtest/gtest.h>

#include <numeric>

#include "link/frame.h"
#include "tests/support/recording_host.h"

namespace orvane::link {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Collector {
  std::vector<Bytes> frames;  // each from the length byte, checksum excluded
  ReceiveBuffer::FrameSink sink() {
    return [this](const FrameView& v) { frames.emplace_back(v.bytes().begin(), v.bytes().end()); };
  }
};

void Feed(ReceiveBuffer& buffer, const Bytes& bytes, Collector& out) {
  buffer.Deliver(bytes.data(), bytes.size(), out.sink());
}

TEST(FrameCodec, BuildsTheKnownFramesByteForByte) {
  EXPECT_EQ(BuildFrame(0, {}), (Bytes{0x5D, 0x59, 0x54, 0x57, 0x01, 0x00, 0x9D}));
  EXPECT_EQ(BuildFrame(0x10, {}), (Bytes{0x5D, 0x59, 0x54, 0x57, 0x01, 0x10, 0x8D}));
  QueueEntry details;
  details.length = 2;
  details.command = 0x11;
  details.data[0] = 0;
  details.data[1] = 0x77;  // beyond L - 1: never sent
  EXPECT_EQ(BuildFrame(details), (Bytes{0x5D, 0x59, 0x54, 0x57, 0x02, 0x11, 0x00, 0x8B}));
}

TEST(FrameCodec, ChecksumIsTheComplementOfTheSum) {
  Bytes frame = BuildFrame(0x16, Bytes{0x10, 0x00, 0x03, 0x01, 0x02, 0x03});
  EXPECT_EQ(frame.back(), 0x68);
  const unsigned sum = std::accumulate(frame.begin(), frame.end() - 1, 0u);
  EXPECT_EQ(static_cast<std::uint8_t>(sum + frame.back()), 0xFF);
  EXPECT_TRUE(CheckFrame(frame.data()));
  Bytes bad{0x5D, 0x59, 0x54, 0x57, 0x01, 0x00, 0x9C};
  EXPECT_FALSE(CheckFrame(bad.data()));
}

TEST(FrameCodec, RefusesDataThatWouldNotFitTheSendBuffer) {
  EXPECT_EQ(BuildFrame(1, Bytes(249)).size(), 256u);
  EXPECT_THROW(BuildFrame(1, Bytes(250)), std::length_error);
}

TEST(ReceiveBuffer, DispatchesFramesOfOneDeliveryInOrder) {
  ReceiveBuffer buffer;
  Collector out;
  Bytes bytes = testing::kPollFrame;
  const Bytes dir = BuildFrame(0x10, Bytes{2});
  bytes.insert(bytes.end(), dir.begin(), dir.end());
  Feed(buffer, bytes, out);
  ASSERT_EQ(out.frames.size(), 2u);
  EXPECT_EQ(out.frames[0], (Bytes{1, 0}));
  EXPECT_EQ(out.frames[1], (Bytes{2, 0x10, 2}));
  EXPECT_EQ(buffer.fill(), 0u);
}

TEST(ReceiveBuffer, FrameSplitAtAnyByteIsDispatchedOnceWhenComplete) {
  const Bytes frame = BuildFrame(0x11, Bytes{1, 0, 2, 0, 0xDC, 0x05, 3, 'a', 'b', 'c'});
  for (std::size_t cut = 1; cut < frame.size(); ++cut) {
    ReceiveBuffer buffer;
    Collector out;
    Feed(buffer, Bytes(frame.begin(), frame.begin() + cut), out);
    EXPECT_TRUE(out.frames.empty()) << "cut " << cut;
    Feed(buffer, Bytes(frame.begin() + cut, frame.end()), out);
    EXPECT_EQ(out.frames.size(), 1u) << "cut " << cut;
  }
}

TEST(ReceiveBuffer, SkipsGarbageAndCorruptFramesButFindsFramesInside) {
  ReceiveBuffer buffer;
  Collector out;
  Bytes bytes{0x00, 0x5D, 0x59, 0x54, 0x13};  // junk with a partial sync
  Bytes corrupt = BuildFrame(0x16, Bytes{0x10, 0x00, 0x01, 0xAA});
  corrupt.back() ^= 0x01;
  // A good poll hidden inside the corrupt frame's data.
  corrupt.insert(corrupt.begin() + 7, testing::kPollFrame.begin(), testing::kPollFrame.end());
  corrupt[4] = static_cast<std::uint8_t>(corrupt.size() - 6);
  bytes.insert(bytes.end(), corrupt.begin(), corrupt.end());
  Feed(buffer, bytes, out);
  ASSERT_EQ(out.frames.size(), 1u);
  EXPECT_EQ(out.frames[0], (Bytes{1, 0}));
}

TEST(ReceiveBuffer, ZeroLengthFrameWaitsForASeventhByte) {
  ReceiveBuffer buffer;
  Collector out;
  Feed(buffer, Bytes{0x5D, 0x59, 0x54, 0x57, 0x00, 0x9E}, out);
  EXPECT_TRUE(out.frames.empty());
  Feed(buffer, Bytes{0x00}, out);
  ASSERT_EQ(out.frames.size(), 1u);
  EXPECT_EQ(out.frames[0], (Bytes{0}));
}

TEST(ReceiveBuffer, OverlongLengthWaitsThenIsRejected) {
  ReceiveBuffer buffer;
  Collector out;
  Bytes claim{0x5D, 0x59, 0x54, 0x57, 0xFA, 0x00};
  Feed(buffer, claim, out);
  Feed(buffer, testing::kPollFrame, out);
  EXPECT_TRUE(out.frames.empty()) << "the claimed frame is not complete yet";
  Feed(buffer, Bytes(250, 0x00), out);
  ASSERT_EQ(out.frames.size(), 1u) << "the poll inside is found once the claim is rejected";
}

TEST(ReceiveBuffer, DeliveryLargerThanTheBufferLosesNoFrame) {
  ReceiveBuffer buffer;
  Collector out;
  Bytes bytes{0x5D, 0x59};
  for (int i = 0; i < 300; ++i) {
    const Bytes f = BuildFrame(0x01, Bytes(35, static_cast<std::uint8_t>(i)));
    bytes.insert(bytes.end(), f.begin(), f.end());
  }
  ASSERT_GT(bytes.size(), kReceiveBufferSize * 3);
  Feed(buffer, bytes, out);
  ASSERT_EQ(out.frames.size(), 300u);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(out.frames[i][2], static_cast<std::uint8_t>(i));
  EXPECT_LT(buffer.fill(), kMinFrameSize);
}

TEST(ReceiveBuffer, NoiseThatFillsTheBufferStillLetsTheNextFrameThrough) {
  ReceiveBuffer buffer;
  Collector out;
  Bytes noise(5000, 0x5D);
  Feed(buffer, noise, out);
  EXPECT_LE(buffer.fill(), kReceiveBufferSize);
  Feed(buffer, testing::kPollFrame, out);
  EXPECT_EQ(out.frames.size(), 1u);
}

}  // namespace
}  // namespace orvane::link
