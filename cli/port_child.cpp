#include "cli/port_child.h"
#include "l10n/l10n.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace orvane::cli {

PortChild::PortChild(std::string port, Events events) : port_(std::move(port)), events_(std::move(events)) {}

PortChild::~PortChild() { ClosePipe(); }

void PortChild::Start(const std::string& program, Options options, bool own_group) {
  process_ = std::make_unique<QProcess>();
  QProcess& process = *process_;
  int pipe_ends[2] = {-1, -1};
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return End(Failed(l10n::Tr("cannot make a pipe for its result")));
  result_fd_ = pipe_ends[0];
  const int child_end = pipe_ends[1];
  options.result_fd = child_end;
  // Only the child's own end of its pipe stays open across its exec, and
  // the child ends when this process does, however it ends.
  const pid_t parent = ::getpid();
  process.setChildProcessModifier([child_end, parent, own_group] {
    ::fcntl(child_end, F_SETFD, 0);
    if (own_group) ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(kExitSignal + SIGTERM);
  });
  notifier_ = std::make_unique<QSocketNotifier>(result_fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadPipe(); });

  QStringList arguments;
  for (const std::string& word : ArgumentsOf(options)) arguments << QString::fromStdString(word);
  QObject::connect(&process, &QProcess::readyReadStandardError,
                   [this] { Relay(process_->readAllStandardError().toStdString()); });
  QObject::connect(&process, &QProcess::finished, [this](int code, QProcess::ExitStatus how) {
    Relay(process_->readAllStandardError().toStdString());
    if (!partial_line_.empty()) Relay("\n");
    while (result_fd_ >= 0) ReadPipe();
    if (const auto result = ParseResultLine(result_text_)) return End(*result);
    End(Failed(how != QProcess::NormalExit
                   ? std::string(l10n::Tr("its run was killed"))
                   : l10n::Format(l10n::Tr("its run ended with status %d and no result"), code)));
  });
  QObject::connect(&process, &QProcess::errorOccurred, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) {
      End(Failed(l10n::Format(l10n::Tr("cannot start %s"), process_->program().toStdString().c_str())));
    }
  });
  process.setStandardOutputFile(QProcess::nullDevice());
  process.start(QString::fromStdString(program), arguments);
  ::close(child_end);
  process.closeWriteChannel();
}

void PortChild::Signal(int signal) {
  if (!result_ && process_ && process_->processId() > 0) ::kill(static_cast<pid_t>(process_->processId()), signal);
}

// Whole lines: progress now and then, the result last.
void PortChild::ReadPipe() {
  char buffer[4096];
  const ssize_t got = ::read(result_fd_, buffer, sizeof buffer);
  if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return ClosePipe();
  if (got < 0) return;
  pipe_text_.append(buffer, static_cast<std::size_t>(got));
  for (std::size_t end; (end = pipe_text_.find('\n')) != std::string::npos;) {
    const std::string line = pipe_text_.substr(0, end);
    pipe_text_.erase(0, end + 1);
    if (auto progress = ParseProgressMessage(line)) {
      progress_ = std::move(progress);
      if (events_.progress && !result_) events_.progress(*progress_);
    } else {
      result_text_ = line;
    }
  }
}

void PortChild::ClosePipe() {
  notifier_.reset();
  if (result_fd_ >= 0) ::close(result_fd_);
  result_fd_ = -1;
}

// Whole lines only, so that lines of different modems never mix.
void PortChild::Relay(const std::string& bytes) {
  partial_line_ += bytes;
  for (std::size_t end; (end = partial_line_.find('\n')) != std::string::npos;) {
    const std::string line = partial_line_.substr(0, end);
    partial_line_.erase(0, end + 1);
    if (events_.log_line) events_.log_line(line);
  }
}

void PortChild::End(const PortResult& result) {
  if (result_) return;
  result_ = result;
  if (events_.ended) events_.ended(result, result_text_);
}

PortResult PortChild::Failed(const std::string& error) const {
  PortResult result;
  result.port = port_;
  result.end = RunEnding::Failed();
  result.error = error;
  return result;
}

void WriteLine(int fd, const std::string& line) {
  for (std::size_t written = 0; written < line.size();) {
    const ssize_t done = ::write(fd, line.data() + written, line.size() - written);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    written += static_cast<std::size_t>(done);
  }
}

void ReportProgressTo(int fd, OnePortRun& run) {
  auto last = std::make_shared<std::pair<std::chrono::steady_clock::time_point, std::size_t>>();
  run.SetProgressListener([fd, last](const RunProgress& progress) {
    const auto now = std::chrono::steady_clock::now();
    if (progress.step == last->second && progress.position != 0 && now - last->first < std::chrono::milliseconds(200)) {
      return;
    }
    *last = {now, progress.step};
    WriteLine(fd, ProgressMessage(progress));
  });
}

}  // namespace orvane::cli
