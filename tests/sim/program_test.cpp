// The orvane-sim program as a child process.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/sim/sim_rig.h"

extern char** environ;

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;
using link::Command;

class Program {
 public:
  explicit Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), ORVANE_SIM_PROGRAM);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    stdout_ = out[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }

  std::string FirstLine() {
    std::string line;
    char c;
    pollfd entry{stdout_, POLLIN, 0};
    while (::poll(&entry, 1, 5000) > 0 && ::read(stdout_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  // Exit status, or -1 when it has not ended in time.
  int Wait(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (Clock::now() < deadline) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    return -1;
  }
  void Signal(int number) { ::kill(pid_, number); }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

class SimProgram : public ::testing::Test {
 protected:
  SimProgram() : dir_(fs::temp_directory_path() / ("orvane-sim-program-" + std::to_string(::getpid()))) {
    fs::create_directories(dir_);
  }
  ~SimProgram() override { fs::remove_all(dir_); }
  std::string File(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(SimProgram, SavesWhatThePcStoredWhenTerminated) {
  sim::DeviceState start;
  start.files = sim::SampleFiles();
  std::string error;
  ASSERT_TRUE(sim::SaveState(File("state.json"), start, &error)) << error;

  Program program({"--state", File("state.json"), "--stats", File("stats.json"), "--link", File("port"),
                   "--reply-window-ms", "2000", "--poll-interval-us=200"});
  const std::string port = program.FirstLine();
  ASSERT_EQ(port.rfind("/dev/pts/", 0), 0u) << port;
  EXPECT_EQ(fs::read_symlink(File("port")).string(), port);
  {
    PcPort pc(File("port"));
    EXPECT_EQ(pc.Exchange(Command::kDirectory), (Frame{16, {3}}));
    ASSERT_TRUE(pc.Exchange(Command::kCreateFile, FileHeader(2, Ascii("new.yp1"), 2)));
    ASSERT_TRUE(pc.Exchange(Command::kFileChunk, Chunk(14, {0xAB, 0xCD})));
  }
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(milliseconds(5000)), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(File("port"))));

  sim::DeviceState saved;
  ASSERT_TRUE(sim::LoadState(File("state.json"), saved, &error)) << error;
  ASSERT_EQ(saved.files.size(), 4u);
  EXPECT_EQ(saved.files[0].data, start.files[0].data);
  EXPECT_EQ(saved.files[3].name, Ascii("new.yp1"));
  EXPECT_EQ(saved.files[3].data, (Bytes{0xAB, 0xCD}));

  std::ifstream in(File("stats.json"));
  std::stringstream text;
  text << in.rdbuf();
  const auto stats = nlohmann::json::parse(text.str());
  EXPECT_EQ(stats["answers"], 3);
  EXPECT_EQ(stats["turnaround_us"].size(), 3u);
  EXPECT_GE(stats["polls"].get<long>(), 3);
}

TEST_F(SimProgram, ExitsOnItsOwnWhenThePcFallsIdle) {
  Program program({"--state", File("fresh.json"), "--exit-after-idle-ms", "100", "--reply-window-ms", "2000"});
  PcPort pc(program.FirstLine());
  ASSERT_TRUE(pc.Exchange(Command::kEraseAll));
  EXPECT_EQ(program.Wait(milliseconds(1500)), 0);  // well inside a reply window
  sim::DeviceState saved;
  std::string error;
  EXPECT_TRUE(sim::LoadState(File("fresh.json"), saved, &error)) << error;
}

TEST_F(SimProgram, RejectsBadOptionsAndBadStateFiles) {
  EXPECT_EQ(Program({"--help"}).Wait(milliseconds(5000)), 0);
  EXPECT_EQ(Program({"--drop", "1.5"}).Wait(milliseconds(5000)), 2);
  EXPECT_EQ(Program({"--hangup-after", "-1"}).Wait(milliseconds(5000)), 2);
  EXPECT_EQ(Program({"--no-such-option"}).Wait(milliseconds(5000)), 2);
  std::ofstream(File("broken.json")) << "{";
  EXPECT_EQ(Program({"--state", File("broken.json")}).Wait(milliseconds(5000)), 1);
}

}  // namespace
}  // namespace orvane::testing
