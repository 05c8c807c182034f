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
    int out[2], err[2];
    if (::pipe(out) != 0) return;
    if (::pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    stdout_ = out[0];
    stderr_ = err[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
    if (stderr_ >= 0) ::close(stderr_);
  }

  // What it wrote to standard error, once it has ended.
  std::string ErrorText() {
    std::string text;
    char chunk[256];
    pollfd entry{stderr_, POLLIN, 0};
    ssize_t got;
    while (::poll(&entry, 1, 5000) > 0 && (got = ::read(stderr_, chunk, sizeof chunk)) > 0) {
      text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
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
  int stderr_ = -1;
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

TEST_F(SimProgram, RefusesBadValuesOfTheBehaviourLatencyAndLineFaultOptions) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"--answer", "sometimes"}, "bad value for --answer: sometimes (expected all, first, queue or flush)"},
      {{"--copies=twice"}, "bad value for --copies: twice (expected skip or apply)"},
      {{"--reply-window-us", "-5"}, "bad value for --reply-window-us: -5 (expected a whole number from 0 to"},
      {{"--reply-window-us", "86400000001"}, "bad value for --reply-window-us: 86400000001"},
      {{"--reply-window-ms", "86400001"}, "bad value for --reply-window-ms: 86400001"},
      {{"--latency-us", "1e3"}, "bad value for --latency-us: 1e3"},
      {{"--jitter-us", ""}, "bad value for --jitter-us: "},
      {{"--poll-jitter-us", "-1"}, "bad value for --poll-jitter-us: -1"},
      {{"--rx-drop", "2"}, "bad value for --rx-drop: 2 (expected a probability from 0 to 1)"},
      {{"--rx-corrupt", "x"}, "bad value for --rx-corrupt: x"},
      {{"--answer"}, "--answer needs a value"},
  };
  for (const Case& c : cases) {
    Program program(c.arguments);
    EXPECT_EQ(program.Wait(milliseconds(5000)), 2) << c.message;
    EXPECT_NE(program.ErrorText().find(c.message), std::string::npos) << c.message;
  }
}

TEST_F(SimProgram, RefusesValuesOfFlagsAndWordsThatAreNoOption) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"--poll-with-answer=yes"}, "--poll-with-answer takes no value"},
      {{"--seed", "3", "stray"}, "unknown option stray (see --help)"},
      {{"--seed", "3", "--seed=x"}, "bad value for --seed: x"},
  };
  for (const Case& c : cases) {
    Program program(c.arguments);
    EXPECT_EQ(program.Wait(milliseconds(5000)), 2) << c.message;
    EXPECT_NE(program.ErrorText().find(c.message), std::string::npos) << c.message;
  }
}

// The new options reach the console: a repeated create is applied twice, and
// the counts of the PC's frames are saved with the timings.
TEST_F(SimProgram, TakesTheBehaviourLatencyAndLineFaultOptions) {
  Program program({"--answer=queue", "--copies", "apply", "--reply-window-us", "2000000", "--latency-us", "1000",
                   "--jitter-us", "500", "--rx-drop", "0", "--rx-corrupt", "0", "--state", File("state.json"),
                   "--stats", File("stats.json")});
  {
    PcPort pc(program.FirstLine());
    const Bytes header = FileHeader(2, Ascii("twice.yp1"), 0);
    ASSERT_TRUE(pc.Exchange(Command::kCreateFile, header));
    ASSERT_TRUE(pc.Exchange(Command::kCreateFile, header));
  }
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(milliseconds(5000)), 0);
  sim::DeviceState saved;
  std::string error;
  ASSERT_TRUE(sim::LoadState(File("state.json"), saved, &error)) << error;
  EXPECT_EQ(saved.files.size(), 2u);

  std::ifstream in(File("stats.json"));
  std::stringstream text;
  text << in.rdbuf();
  const auto stats = nlohmann::json::parse(text.str(), nullptr, false);
  ASSERT_FALSE(stats.is_discarded()) << text.str();
  EXPECT_EQ(stats.value("frames_received", -1), 2);
  EXPECT_EQ(stats.value("rx_dropped", -1), 0);
  EXPECT_EQ(stats.value("answers", -1), 2);
  for (const char* key : {"polls_unheard", "answers_unheard", "rx_corrupted", "bytes_discarded", "bytes_overflowed"}) {
    EXPECT_TRUE(stats.contains(key)) << key;
  }
}

// True once nothing has come for `quiet`, false when bytes still come at `limit`.
bool FallsQuiet(PcPort& pc, milliseconds quiet, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (pc.ReadRaw(4096, quiet).empty()) return true;
  }
  return false;
}

// SIGUSR1 takes the modem off, SIGUSR2 puts the same one back, or with
// --plug-fresh one as the run started; the state saved is the last one's.
TEST_F(SimProgram, SignalsTakeTheModemOffAndConnectOneAgain) {
  struct Case {
    bool plug_fresh;
    std::size_t files_after;
  };
  for (const Case c : {Case{false, 4}, Case{true, 3}}) {
    SCOPED_TRACE(c.plug_fresh ? "--plug-fresh" : "the same modem");
    sim::DeviceState start;
    start.files = sim::SampleFiles();
    std::string error;
    ASSERT_TRUE(sim::SaveState(File("state.json"), start, &error)) << error;
    std::vector<std::string> arguments{"--state", File("state.json"), "--reply-window-ms", "2000",
                                       "--poll-interval-us=200"};
    if (c.plug_fresh) arguments.push_back("--plug-fresh");
    Program program(arguments);
    {
      PcPort pc(program.FirstLine());
      ASSERT_TRUE(pc.Exchange(Command::kCreateFile, FileHeader(2, Ascii("kept.yp1"), 0)));
      program.Signal(SIGUSR1);
      ASSERT_TRUE(FallsQuiet(pc, milliseconds(300), milliseconds(5000)));
      pc.Send(Command::kCreateFile, FileHeader(2, Ascii("lost.yp1"), 0));
      std::this_thread::sleep_for(milliseconds(100));
      program.Signal(SIGUSR2);
      const auto directory = pc.Insist(Command::kDirectory);
      ASSERT_TRUE(directory);
      EXPECT_EQ(directory->data, Bytes{static_cast<std::uint8_t>(c.files_after)});
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(milliseconds(5000)), 0);
    sim::DeviceState saved;
    ASSERT_TRUE(sim::LoadState(File("state.json"), saved, &error)) << error;
    EXPECT_EQ(saved.files.size(), c.files_after);
  }
}

TEST_F(SimProgram, StartsWithNoModemUntilSigusr2) {
  Program program({"--start-unplugged", "--poll-interval-us", "200"});
  PcPort pc(program.FirstLine());
  EXPECT_TRUE(pc.ReadRaw(1, milliseconds(300)).empty());
  program.Signal(SIGUSR2);
  EXPECT_TRUE(pc.NextPoll(milliseconds(3000)));
}

}  // namespace
}  // namespace orvane::testing
