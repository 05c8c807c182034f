// The connection's watchdog against one delivery that carries both the
// answer ending an operation and the console's next poll: the answer closes
// the port, and nothing later in that delivery may arm the watchdog again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/commands.h"
#include "link/frame.h"
#include "link/link_control.h"
#include "serial/connection.h"
#include "tests/serial/pty_pair.h"

namespace orvane::serial {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The link's host as the window and the tool are: every port and watchdog
// call goes to the connection.
class ConnectionHost : public link::LinkHost, public link::ResponseHandlers {
 public:
  ConnectionHost(Connection& connection, std::vector<std::string>& log) : log(log), connection_(connection) {}

  void AppendLog(const std::string& line) override { log.push_back(line); }
  void CloseLinkPort() override { connection_.CloseLinkPort(); }
  bool WriteData(const std::uint8_t* bytes, std::uint16_t count) override {
    return connection_.WriteData(bytes, count);
  }
  void StopWatchdog() override { connection_.StopWatchdog(); }
  void StartWatchdog() override { connection_.StartWatchdog(); }
  void SetProgressMaximum(int) override {}
  void SetProgressPosition(int) override {}
  void SetQueueCounter(const std::string&) override {}
  void OperationEnded(const link::OperationEnd& outcome) override { outcomes.push_back(outcome); }

  void Refresh() override {}
  void HandleConstants(const link::FrameView&) override {}
  void HandleDirectory(const link::FrameView&) override { ++directories; }
  void HandleFileDetails(const link::FrameView&) override {}
  void HandleFreeSpace(const link::FrameView&) override {}

  std::vector<std::string>& log;  // the link's lines and the port's, in order
  std::vector<link::OperationEnd> outcomes;
  int directories = 0;

 private:
  Connection& connection_;
};

Bytes Joined(std::vector<Bytes> frames) {
  Bytes all;
  for (const Bytes& frame : frames) all.insert(all.end(), frame.begin(), frame.end());
  return all;
}

class ConnectionWatchdogTest : public ::testing::Test {
 protected:
  ConnectionWatchdogTest()
      : connection_({.append_log = [this](const std::string& line) { log_.push_back(line); },
                     .open_failed = nullptr,
                     .bytes_moved = nullptr,
                     .guard = nullptr}),
        host_(connection_, log_),
        link_(host_, host_) {
    choice_.SetText(pty_.port());
    connection_.SetPortChoice(choice_);
    connection_.Attach(link_);
  }

  void Deliver(const Bytes& bytes) {
    connection_.comm().OnReceiveData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
  }

  // The port open, a refresh queued and sent at the console's poll.
  void RefreshInFlight() {
    ASSERT_TRUE(connection_.OpenLinkPort());
    ASSERT_TRUE(link_.Enqueue(link::kDirectory, Bytes{}, 1));
    Deliver(link::BuildFrame(link::kPoll, Bytes{}));
    ASSERT_TRUE(connection_.watchdog().isActive());
  }

  std::vector<std::string> log_;
  testing::PtyPair pty_;
  SimplePortChoice choice_;
  Connection connection_;
  ConnectionHost host_;
  link::LinkControl link_;
};

// However the closing answer and the polls after it arrive, the port ends
// closed with no watchdog counting, and the operation ends once.
TEST_F(ConnectionWatchdogTest, NoFrameAfterTheClosingAnswerArmsTheWatchdog) {
  const Bytes poll = link::BuildFrame(link::kPoll, Bytes{});
  const Bytes answer = link::BuildFrame(link::kDirectory, Bytes{0});
  const struct {
    const char* what;
    std::vector<Bytes> deliveries;
  } cases[] = {
      {"the answer and the next poll in one delivery", {Joined({answer, poll})}},
      {"the answer and three polls in one delivery", {Joined({answer, poll, poll, poll})}},
      {"the answer, then a poll delivered on its own", {answer, poll}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RefreshInFlight();
    host_.outcomes.clear();
    for (const Bytes& bytes : c.deliveries) Deliver(bytes);
    EXPECT_EQ(host_.outcomes.size(), 1u);
    EXPECT_FALSE(connection_.comm().PortOpen());
    EXPECT_FALSE(connection_.watchdog().isActive());
    ASSERT_GE(log_.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(log_.end() - 2, log_.end()),
              (std::vector<std::string>{"Закрытие порта связи", "Порт связи закрыт"}));
  }
  EXPECT_EQ(host_.directories, 3) << "the closing answer is handled in full every time";
}

// The rule does not keep the watchdog from counting where it should: the
// port opened again arms it, and a poll on the open port re-arms it.
TEST_F(ConnectionWatchdogTest, AnOpenPortArmsTheWatchdogAgain) {
  connection_.StopWatchdog();
  connection_.StartWatchdog();
  EXPECT_FALSE(connection_.watchdog().isActive()) << "never opened yet";
  ASSERT_TRUE(connection_.OpenLinkPort());
  EXPECT_TRUE(connection_.watchdog().isActive());
  connection_.StopWatchdog();
  Deliver(link::BuildFrame(link::kPoll, Bytes{}));
  EXPECT_TRUE(connection_.watchdog().isActive());
}

}  // namespace
}  // namespace orvane::serial
