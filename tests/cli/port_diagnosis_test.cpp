#include "serial/port_diagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli/scan.h"
#include "l10n/l10n.h"

namespace orvane::serial {
namespace {

namespace fs = std::filesystem;
using Cause = PortDiagnosis::Cause;

class PortDiagnosisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("orvane-diagnosis-" + std::to_string(::getpid()));
    fs::create_directories(folder_ / "ports");
    setenv("ORVANE_PORT_DIR", (folder_ / "ports").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVANE_PORT_DIR");
    if (holder_ > 0) {
      ::kill(holder_, SIGKILL);
      ::waitpid(holder_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
    fs::remove_all(folder_);
  }

  // A pseudo-terminal whose port side stands for COMn.
  std::string Pty(const std::string& name) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master_);
    ::unlockpt(master_);
    fs::create_symlink(::ptsname(master_), folder_ / "ports" / name);
    return ::ptsname(master_);
  }

  // A child process that opens the port and locks it, as a program using it
  // would; it waits until the test ends it.
  void HoldInChild(const std::string& device) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    holder_ = ::fork();
    if (holder_ == 0) {
      const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
      ::flock(fd, LOCK_EX);
      ::write(ready[1], "x", 1);
      ::pause();
      _exit(0);
    }
    char byte;
    ::close(ready[1]);
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
  }

  fs::path folder_;
  int master_ = -1;
  pid_t holder_ = -1;
};

TEST_F(PortDiagnosisTest, EachCauseGetsItsReasonAndWhatToDo) {
  std::ofstream(folder_ / "ports" / "COM4") << "not a port";
  fs::create_symlink(folder_ / "nothing", folder_ / "ports" / "COM3");
  const std::string busy = Pty("COM5");
  HoldInChild(busy);

  const PortDiagnosis missing = DiagnosePort("COM3");
  EXPECT_EQ(missing.cause, Cause::kMissing);
  EXPECT_EQ(missing.Text(), (folder_ / "ports" / "COM3").string() + " does not exist; ports that exist: COM4 (" +
                                (folder_ / "ports" / "COM4").string() + "), COM5 (" +
                                (folder_ / "ports" / "COM5").string() + ")");
  l10n::SetUpFor(nullptr, "ru");
  EXPECT_EQ(DiagnosePort("COM3").Text(), (folder_ / "ports" / "COM3").string() + " не найден; есть: COM4 (" +
                                             (folder_ / "ports" / "COM4").string() + "), COM5 (" +
                                             (folder_ / "ports" / "COM5").string() + ")")
      << "the window's status bar names the same ports";
  const std::string held_in_russian = DiagnosePort("COM5").Text();
  l10n::SetUpFor(nullptr, "en");
  EXPECT_EQ(DiagnosePort("COM4").cause, Cause::kNotSerial);
  const PortDiagnosis held = DiagnosePort("COM5");
  EXPECT_EQ(held.cause, Cause::kBusy);
  EXPECT_NE(held.advice.find("(pid " + std::to_string(holder_) + ")"), std::string::npos) << held.Text();
  EXPECT_NE(held_in_russian.find("(pid " + std::to_string(holder_) + ")"), std::string::npos);
  EXPECT_EQ(DiagnosePort("").cause, Cause::kNoName);

  if (::geteuid() != 0) {
    std::ofstream(folder_ / "locked") << "";
    fs::permissions(folder_ / "locked", fs::perms::none);
    const PortDiagnosis denied = DiagnosePort((folder_ / "locked").string());
    EXPECT_EQ(denied.cause, Cause::kPermission);
    EXPECT_NE(denied.advice.find("usermod -aG"), std::string::npos) << denied.Text();
  }
}

TEST_F(PortDiagnosisTest, AFreePortOpensNowAndHoldersAreFoundInProc) {
  Pty("COM6");
  EXPECT_EQ(DiagnosePort("COM6").cause, Cause::kOpensNow);

  const fs::path proc = folder_ / "proc";
  const fs::path device = folder_ / "ports" / "COM6";
  for (const char* pid : {"100", "200", "self"}) fs::create_directories(proc / pid / "fd");
  fs::create_symlink(fs::canonical(device), proc / "100" / "fd" / "7");
  fs::create_symlink("/dev/null", proc / "200" / "fd" / "0");
  std::ofstream(proc / "100" / "comm") << "ModemManager\n";
  EXPECT_EQ(PortHolders(device.string(), proc.string()), std::vector<std::string>{"ModemManager (pid 100)"});
}

// The advice as a user without the right reads it: the port of group root
// is for root alone, one of another group names that group.
TEST_F(PortDiagnosisTest, APortTheUserMayNotOpenGetsAWholeAdvice) {
  const passwd* nobody = ::getpwnam("nobody");
  const group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || !nobody || !dialout) GTEST_SKIP() << "needs root to hand the port to nobody";
  const std::string device = Pty("COM7");
  const std::tuple<gid_t, const char*, const char*> table[] = {
      {0, "en", ": Permission denied; only root may open it; a udev rule can give it to the group dialout, whose "
                "members may then open it"},
      {dialout->gr_gid, "en", ": Permission denied; its group is dialout: add your user to it (sudo usermod -aG "
                              "dialout $USER) and log in again"},
      {0, "ru", ": нет доступа; открыть его может только root; правило udev может отдать его группе dialout, и "
                "тогда его смогут открывать члены этой группы"},
  };
  for (const auto& [gid, language, advice] : table) {
    ASSERT_EQ(::chown(device.c_str(), 0, gid), 0);
    ASSERT_EQ(::chmod(device.c_str(), gid == 0 ? 0600 : 0660), 0);
    int text[2];
    ASSERT_EQ(::pipe(text), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      l10n::SetUpFor(nullptr, language);
      if (::setgid(nobody->pw_gid) != 0 || ::setgroups(0, nullptr) != 0 || ::setuid(nobody->pw_uid) != 0) _exit(1);
      const std::string said = DiagnosePort("COM7").Text();
      _exit(::write(text[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 1);
    }
    ::close(text[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = ::read(text[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
    ::close(text[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(said, (folder_ / "ports" / "COM7").string() + advice) << language;
  }
}

// --port all: a port that refuses the link's settings is named on stderr and
// left out; the ports the scan opened are not opened again.
TEST_F(PortDiagnosisTest, APortThatRefusesTheSettingsIsLeftOutWithANote) {
  std::ofstream(folder_ / "ports" / "COM1") << "";
  Pty("COM2");
  std::ofstream(folder_ / "ports" / "ttyUSB8") << "";
  const std::string refusing = (folder_ / "ports" / "COM1").string();
  std::vector<std::string> probed;
  auto probe = [&](const std::string& device) {
    probed.push_back(device);
    return device == refusing ? LineCheck::kRefusesSettings : LineCheck::kCannotOpen;
  };
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* err = ::open_memstream(&text, &size);
  const std::vector<std::string> ports = cli::ScanForPorts(true, {.err = err}, probe);
  std::fclose(err);
  const std::string notes(text, size);
  std::free(text);

  EXPECT_EQ(ports, std::vector<std::string>{"COM2"});
  EXPECT_EQ(notes, "orvane-cli: COM1 (" + refusing +
                       ") is left out: it refuses the line settings (1000000 baud, 8 data bits, odd parity)\n");
  EXPECT_EQ(probed, (std::vector<std::string>{refusing, (folder_ / "ports" / "ttyUSB8").string()}));
}

}  // namespace
}  // namespace orvane::serial
