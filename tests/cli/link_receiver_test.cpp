#include "cli/link_receiver.h"

#include <gtest/gtest.h>

#include "tests/support/recording_host.h"

namespace orvane::cli {
namespace {

using testing::Frame;
using testing::kPollFrame;

class LinkReceiverTest : public ::testing::Test {
 protected:
  LinkReceiverTest() {
    host_.session = &session_;
    session_.link().ReceiveData(kPollFrame.data(), kPollFrame.size());  // connected; refresh queued
    session_.link().ClearQueue();
    for (std::uint8_t chunk = 0; chunk < 3; ++chunk) {
      const std::uint8_t data[] = {static_cast<std::uint8_t>(16 + chunk), 0, 1, chunk};
      session_.link().Enqueue(0x16, data);
    }
  }

  void Deliver(const std::vector<std::uint8_t>& frame) { receiver_.Receive(frame.data(), frame.size()); }
  std::size_t Queued() const { return session_.link().queue().size(); }

  testing::RecordingHost host_;
  device::Session session_{host_};
  LinkReceiver receiver_{session_.link()};
};

// The first answer is lost; the resend is answered and popped, and the next
// chunk's answer must pop that chunk instead of being taken for a copy.
TEST_F(LinkReceiverTest, ALostAnswerLeavesNoDebtBehind) {
  Deliver(kPollFrame);
  Deliver(kPollFrame);
  Deliver(Frame(0x16));
  EXPECT_EQ(Queued(), 2u);
  for (std::size_t left : {1u, 0u}) {
    Deliver(kPollFrame);
    Deliver(Frame(0x16));
    EXPECT_EQ(Queued(), left);
  }
  EXPECT_EQ(receiver_.held_back(), 0u);
}

// The head went out twice and both copies are answered; the second answer
// comes before the next chunk was sent and must not pop it.
TEST_F(LinkReceiverTest, ALateCopyBeforeTheNextSendIsKeptBack) {
  Deliver(kPollFrame);
  Deliver(kPollFrame);
  Deliver(Frame(0x16));
  Deliver(Frame(0x16));
  EXPECT_EQ(Queued(), 2u);
  EXPECT_EQ(receiver_.held_back(), 1u);
  Deliver(kPollFrame);
  Deliver(Frame(0x16));
  EXPECT_EQ(Queued(), 1u);
  EXPECT_EQ(host_.written.size(), 3u);
}

TEST_F(LinkReceiverTest, FramesSplitAcrossDeliveriesAndNoiseStillArrive) {
  std::vector<std::uint8_t> bytes = {0x00, 0x5D, 0x13};
  bytes.insert(bytes.end(), kPollFrame.begin(), kPollFrame.end());
  const auto answer = Frame(0x16);
  bytes.insert(bytes.end(), answer.begin(), answer.end());
  receiver_.Receive(bytes.data(), 5);
  receiver_.Receive(bytes.data() + 5, bytes.size() - 5);
  EXPECT_EQ(Queued(), 2u);
  ASSERT_EQ(host_.written.size(), 1u);
  EXPECT_EQ(host_.written[0][5], 0x16);
}

}  // namespace
}  // namespace orvane::cli
