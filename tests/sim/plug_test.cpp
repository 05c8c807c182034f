// The modem taken off its cable and put back while the port stays.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "tests/sim/sim_rig.h"

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;
using link::Command;

constexpr milliseconds kQuiet(300);

sim::DeviceState WithFiles(std::size_t count) {
  sim::DeviceState state;
  for (std::size_t i = 0; i < count; ++i) state.files.push_back(sim::SimFile{2, Ascii("f" + std::to_string(i)), {1}});
  return state;
}

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = Clock::now() + milliseconds(3000);
  while (!done() && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
  return done();
}

enum class Modem { kSame, kFresh, kOther };

struct PlugCase {
  const char* name;
  Modem modem;
  std::size_t files_after;  // the same modem keeps the one the PC added
};

class SimPlug : public ::testing::TestWithParam<PlugCase> {};

TEST_P(SimPlug, AnUnpluggedModemIsSilentAndDeafAndComesBackAsPlugged) {
  const PlugCase& c = GetParam();
  const std::string link = (fs::temp_directory_path() / ("orvane-sim-plug-" + std::to_string(::getpid()))).string();
  auto options = Responsive();
  options.link_path = link;
  Rig rig(options, WithFiles(3));
  const std::string port = fs::read_symlink(link).string();
  ASSERT_TRUE(rig.pc.Exchange(Command::kCreateFile, FileHeader(2, Ascii("kept.yp1"), 0)));

  rig.simulator.Unplug();
  EXPECT_FALSE(rig.simulator.Plugged());
  rig.pc.ReadRaw(4096, milliseconds(100));  // what was written before
  const long polls = rig.simulator.Stats().polls;
  rig.pc.Send(Command::kCreateFile, FileHeader(2, Ascii("lost.yp1"), 0));
  rig.pc.SendRaw(Bytes{0x5D, 0x59, 0x54});  // and the start of a frame
  EXPECT_TRUE(rig.pc.ReadRaw(1, kQuiet).empty());
  EXPECT_EQ(rig.simulator.Stats().polls, polls);
  EXPECT_FALSE(rig.pc.WaitHangup(milliseconds(20)));
  EXPECT_TRUE(rig.simulator.Running());

  switch (c.modem) {
    case Modem::kSame: rig.simulator.Plug(); break;
    case Modem::kFresh: rig.simulator.Plug({}); break;
    case Modem::kOther: rig.simulator.Plug(WithFiles(1)); break;
  }
  EXPECT_TRUE(rig.simulator.Plugged());
  EXPECT_EQ(fs::read_symlink(link).string(), port);
  const auto directory = rig.pc.Insist(Command::kDirectory);
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->data, Bytes{static_cast<std::uint8_t>(c.files_after)});
  const auto state = rig.simulator.State();
  ASSERT_EQ(state.files.size(), c.files_after);
  for (const auto& file : state.files) EXPECT_NE(file.name, Ascii("lost.yp1"));
}

INSTANTIATE_TEST_SUITE_P(Table, SimPlug,
                         ::testing::Values(PlugCase{"SameModem", Modem::kSame, 4},
                                           PlugCase{"FreshModem", Modem::kFresh, 0},
                                           PlugCase{"OtherModem", Modem::kOther, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimPlug, APortWithNoModemYetPollsOnlyOncePlugged) {
  sim::Simulator simulator(Responsive());
  simulator.Unplug();
  PcPort pc(simulator.Start());
  EXPECT_FALSE(simulator.Plugged());
  EXPECT_TRUE(pc.ReadRaw(1, kQuiet).empty());
  simulator.Plug();
  EXPECT_TRUE(pc.NextPoll(milliseconds(2000)));
}

// Once the console has hung up there is no device thread to make the change.
TEST(SimPlug, ChangesAfterAHangUpDoNotWaitForTheEndedConsole) {
  auto options = Responsive();
  options.hangup_after = 1;
  options.reply_window_us = 5'000;
  Rig rig(options);
  ASSERT_TRUE(rig.pc.WaitHangup(milliseconds(3000)));
  ASSERT_TRUE(WaitFor([&] { return !rig.simulator.Running(); }));
  rig.simulator.Unplug();
  EXPECT_FALSE(rig.simulator.Plugged());
  rig.simulator.Plug(WithFiles(2));
  EXPECT_TRUE(rig.simulator.Plugged());
  EXPECT_EQ(rig.simulator.State().files.size(), 2u);
}

}  // namespace
}  // namespace orvane::testing
