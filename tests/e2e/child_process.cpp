#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orvane::e2e {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read = fds[0];
    write = fds[1];
  }
};

// fork and exec with the given stdio descriptors; environment = ours plus
// the extra entries.
pid_t Spawn(const std::vector<std::string>& argv, const Environment& extra, int in, int out, int err) {
  std::vector<std::string> environment_text;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (!extra.contains(text.substr(0, text.find('=')))) environment_text.push_back(text);
  }
  for (const auto& [name, value] : extra) environment_text.push_back(name + "=" + value);
  std::vector<char*> environment;
  for (std::string& text : environment_text) environment.push_back(text.data());
  environment.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  std::vector<char*> arguments;
  for (std::string& text : argv_copy) arguments.push_back(text.data());
  arguments.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(arguments[0], arguments.data(), environment.data());
    _exit(127);
  }
  return pid;
}

// Waits for the pid until the deadline; kills it by its pid after that.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int& status, rusage& usage) {
  for (;;) {
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) return true;
    if (Clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &usage);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const Environment& extra_environment,
                     std::chrono::milliseconds limit, const std::optional<SignalLater>& later) {
  Background child(argv, extra_environment);
  if (later && child.WaitForLog(later->after, limit)) {
    child.ReadFor(later->pause);
    child.Signal(later->signal);
  }
  return child.Wait(limit);
}

Background::Background(const std::vector<std::string>& argv, const Environment& extra_environment)
    : started_(Clock::now()) {
  const int null_input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  Pipe out, err;
  pid_ = Spawn(argv, extra_environment, null_input, out.write, err.write);
  ::close(null_input);
  ::close(out.write);
  ::close(err.write);
  fds_[0] = out.read;
  fds_[1] = err.read;
}

Background::~Background() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : fds_) {
    if (fd >= 0) ::close(fd);
  }
}

bool Background::Read(int timeout_ms) {
  pollfd watched[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
  if (fds_[0] < 0 && fds_[1] < 0) return false;
  if (::poll(watched, 2, timeout_ms) <= 0) return true;
  std::string* sinks[2] = {&result_.out, &result_.err};
  for (int i = 0; i < 2; ++i) {
    if (fds_[i] < 0 || !(watched[i].revents & (POLLIN | POLLHUP))) continue;
    char buffer[4096];
    const ssize_t got = ::read(fds_[i], buffer, sizeof buffer);
    if (got > 0) {
      sinks[i]->append(buffer, static_cast<std::size_t>(got));
    } else {
      ::close(fds_[i]);
      fds_[i] = -1;
    }
  }
  return true;
}

bool Background::WaitForOutput(const std::string& text, std::chrono::milliseconds limit, std::size_t count) {
  const auto deadline = Clock::now() + limit;
  auto found = [&] {
    std::size_t seen = 0;
    for (std::size_t at = 0; (at = result_.out.find(text, at)) != std::string::npos; at += text.size()) ++seen;
    return seen >= count;
  };
  while (!found()) {
    if (Clock::now() >= deadline || !Read(10)) return found();
  }
  return true;
}

bool Background::WaitForLog(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (result_.err.find(text) == std::string::npos) {
    if (Clock::now() >= deadline || !Read(10)) return result_.err.find(text) != std::string::npos;
  }
  return true;
}

void Background::ReadFor(std::chrono::milliseconds pause) {
  const auto until = Clock::now() + pause;
  while (Clock::now() < until && Read(5)) {
  }
}

void Background::Signal(int signal) const {
  if (!reaped_) ::kill(pid_, signal);
}

RunResult Background::Wait(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline && Read(10)) {
  }
  int status = 0;
  result_.timed_out = !WaitUntil(pid_, deadline, status, result_.usage);
  reaped_ = true;
  if (!result_.timed_out && WIFEXITED(status)) result_.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  result_.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  return result_;
}

Simulator::Simulator(const std::string& program, const std::vector<std::string>& options) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), options.begin(), options.end());
  Pipe out;
  const int null_input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = Spawn(argv, {}, null_input, out.write, 2);
  ::close(null_input);
  ::close(out.write);
  // The first line is the port path.
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  pollfd watched{out.read, POLLIN, 0};
  std::string line;
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    if (::poll(&watched, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t got = ::read(out.read, buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(out.read);
  if (line.find('\n') == std::string::npos) {
    Stop();
    throw std::runtime_error("orvane-sim printed no port path");
  }
  port_ = line.substr(0, line.find('\n'));
}

Simulator::~Simulator() { Stop(); }

int Simulator::Stop() {
  if (reaped_ || pid_ < 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  rusage usage{};
  reaped_ = true;
  if (!WaitUntil(pid_, Clock::now() + std::chrono::seconds(10), status, usage)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace orvane::e2e
