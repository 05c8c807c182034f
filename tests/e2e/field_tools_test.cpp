// The field tools of orvane-cli against the simulated console: verify, the
// trace of a run, constants profiles and the checks of its input.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/e2e/e2e_fixture.h"

namespace orvane::e2e {
namespace {

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool AnyLineMatches(const std::vector<std::string>& lines, const std::string& pattern) {
  const std::regex expression(pattern);
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return std::regex_search(line, expression); });
}

long CountMatching(const std::vector<std::string>& lines, const std::string& pattern) {
  const std::regex expression(pattern);
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return std::regex_search(line, expression); });
}

class FieldTools : public EndToEnd {};

TEST_F(FieldTools, VerifyComparesWithOnlyVerifyChunksAndNamesTheFirstChunkThatDiffers) {
  StartDevice({});
  const Bytes image = Pattern(4096, 40);
  const std::string path = WriteFile("image.mts", image);
  ASSERT_EQ(Cli({"--yes", "flash", path}).exit_status, 0);

  const RunResult same = Cli({"--trace", Path("verify.trace"), "verify", path});
  ASSERT_EQ(same.exit_status, 0) << same.err;
  EXPECT_NE(same.out.find("verify: the console's firmware equals \"" + path + "\" (4096 bytes)\n"), std::string::npos)
      << same.out;
  const auto trace = ReadLines(Path("verify.trace"));
  EXPECT_EQ(CountMatching(trace, " out 02 firmware-verify offset="), 128) << "one verify chunk per 32 bytes";
  EXPECT_EQ(CountMatching(trace, " out 01 "), 0) << "nothing is written";

  Bytes changed = image;
  changed[3000] ^= 0x01;  // in the chunk at 2976
  const RunResult differs = Cli({"verify", WriteFile("changed.mts", changed)});
  EXPECT_EQ(differs.exit_status, 1);
  EXPECT_NE(differs.err.find("Ошибка верификации записанных данных!"), std::string::npos) << differs.err;
  EXPECT_TRUE(InOrder(Lines(differs.out), {"verify: the console's firmware differs from \"" + Path("changed.mts") +
                                               "\" at offset 2976 (0x0BA0)"}))
      << differs.out;

  const RunResult json = Cli({"--json", "verify", Path("changed.mts")});
  EXPECT_EQ(json.exit_status, 1);
  const QJsonObject verify = Json(json)["verify"].toObject();
  EXPECT_FALSE(verify["equal"].toBool());
  EXPECT_EQ(verify["offset"].toInt(), 2976);
  EXPECT_EQ(verify["bytes"].toInt(), 4096);

  Bytes longer = image;
  longer.resize(4196, 0x5A);
  const RunResult beyond = Cli({"--json", "verify", WriteFile("longer.mts", longer)});
  EXPECT_EQ(beyond.exit_status, 1);
  EXPECT_EQ(Json(beyond)["verify"].toObject()["offset"].toInt(), 4096) << "the first chunk past the stored image";

  const RunResult too_big = Cli({"verify", WriteFile("big.mts", Pattern(65536, 41))});
  EXPECT_EQ(too_big.exit_status, 2);
  EXPECT_NE(too_big.err.find("Файл слишком большой!"), std::string::npos) << too_big.err;

  const sim::DeviceState state = StopDevice();
  ASSERT_EQ(state.firmware.size(), image.size());
  EXPECT_EQ(state.firmware, image) << "verify wrote nothing";
}

TEST_F(FieldTools, TheTraceOfARefreshDecodesEveryFrameOfIt) {
  sim::DeviceState initial;
  initial.files = {sim::SimFile{2, Cp1251Bytes("C:\\a.yp1 "), Pattern(1500, 42)}, sim::SimFile{0x8000, Cp1251Bytes("b"), {}}};
  initial.constants = {2, 0, 31, 5, 0x2C, 0x01, 0x40, 0xE2, 0x01, 0x00, 0xB4, 0x00, 1, 2, 'K', '7'};
  StartDevice({}, &initial);
  const std::string trace_path = Path("refresh.trace");
  const RunResult run = Cli({"--quiet", "--trace", trace_path, "status"});
  ASSERT_EQ(run.exit_status, 0) << run.err;

  const auto lines = ReadLines(trace_path);
  const std::string hex = R"( \| 5D 59 54 57( [0-9A-F]{2})+$)";
  for (const std::string& pattern : std::vector<std::string>{
           R"(^ *\d+ out 16 directory)" + hex,
           R"(^ *\d+ in  16 directory files=2)" + hex,
           R"(^ *\d+ out 17 file-details index=1)" + hex,
           R"(^ *\d+ in  17 file-details index=0 type=0x0002 \(Годовой план АСУДД\) size=1500 name="C:\\\\a\.yp1 ")" + hex,
           R"(^ *\d+ in  17 file-details index=1 type=0x8000 \(Программа\) size=0 name="b")" + hex,
           R"(^ *\d+ in  18 free-space free=\d+)" + hex,
           R"(^ *\d+ out 05 constants-read block=2 length=31 )" ,
           R"(^ *\d+ in  05 constants-read block=2 length=31 local=5 global=300 serial=123456 tz=180 summer=1 id="K7")" + hex,
           R"(^ *\d+ in  00 poll \| 5D 59 54 57 01 00 9D$)",
           R"(^ *\d+ log Операция успешно завершена\.$)",
       }) {
    EXPECT_TRUE(AnyLineMatches(lines, pattern)) << pattern;
  }
  // Microseconds since the start, never going back.
  long long last = -1;
  for (const std::string& line : lines) {
    const long long stamp = std::stoll(line);
    EXPECT_GE(stamp, last) << line;
    last = stamp;
  }
}

TEST_F(FieldTools, ConstantsFromAStatusFileWithTheCommandLineWinning) {
  sim::DeviceState initial;
  initial.constants = {2, 0, 31, 9, 0x10, 0x27, 1, 2, 3, 4, 0xB4, 0x00, 0, 3, 'O', 'L', 'D'};
  StartDevice({}, &initial);
  const std::string profile = WriteFile(
      "profile.json", Cp1251Bytes(R"({"constants":{"id":"NEW","tz":-60,"summer":1,"local":5,"global":300,"serial":77}})"));
  const RunResult run = Cli({"--json", "constants", "--from", profile, "--local", "7"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  // The console keeps its own serial number (1, 2, 3, 4): a profile never
  // carries one cabinet's number to another.
  const std::array<std::uint8_t, 34> expected = {2, 0, 31, 7, 0x2C, 0x01, 1, 2, 3, 4, 0xC4, 0xFF, 1, 3, 'N', 'E', 'W'};
  EXPECT_EQ(StopDevice().constants, expected);

  const RunResult bad = Cli({"constants", "--from", WriteFile("bad.json", Cp1251Bytes(R"({"constants":{"local":300}})"))});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_NE(bad.err.find("constants.local must be a whole number from 0 to 254, not 300"), std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find("Открытие"), std::string::npos);
}

TEST_F(FieldTools, InputThatCannotWorkIsRefusedOrExplainedBeforeAnythingIsSent) {
  StartDevice({});
  const std::string huge = Path("huge.yp1");
  std::filesystem::resize_file(WriteFile("huge.yp1", {}), std::uintmax_t{1} << 30);
  const RunResult big = Cli({"put", huge});
  EXPECT_EQ(big.exit_status, 2);
  EXPECT_NE(big.err.find("Файл слишком большой (\"" + huge + "\" has 1073741824 bytes; at most 65507 can be sent)"),
            std::string::npos)
      << big.err;
  EXPECT_EQ(big.err.find("Открытие"), std::string::npos) << "refused before the port is opened";
  EXPECT_LT(big.usage.ru_maxrss, 128 * 1024) << "kilobytes: the file was not read";

  std::filesystem::create_directories(Path("config/Veltranix"));
  WriteFile("config/Veltranix/Orvane.conf", Cp1251Bytes("[General\nComPort=COM3\n"));
  const RunResult unparsed = Cli({"status"});
  EXPECT_EQ(unparsed.exit_status, 0) << unparsed.err;
  EXPECT_NE(unparsed.err.find("orvane-cli: the settings file " + Path("config/Veltranix/Orvane.conf") +
                              " cannot be parsed"),
            std::string::npos)
      << unparsed.err;

  std::filesystem::remove(Path("config/Veltranix/Orvane.conf"));
  const RunResult no_port = CliWithoutPort({"status"});
  EXPECT_EQ(no_port.exit_status, 2);
  EXPECT_TRUE(InOrder(Lines(no_port.err),
                      {kPortFailed, "orvane-cli: no port chosen: give --port NAME (orvane-cli ports lists the ports found)"}))
      << no_port.err;
}

// As a user outside the port's group would run it: the pty is given to the
// group dialout, and the tool runs as nobody.
TEST_F(FieldTools, APortTheUserMayNotOpenNamesTheGroupToJoin) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  StartDevice({});
  const group* dialout = ::getgrnam("dialout");
  ASSERT_NE(dialout, nullptr);
  ASSERT_EQ(::chown(device_->port().c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(device_->port().c_str(), 0660), 0);
  std::filesystem::permissions(folder_, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  const RunResult run = RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                    ORVANE_CLI_PROGRAM, "--port", device_->port(), "status"},
                                   {{"XDG_CONFIG_HOME", Path("config")}}, std::chrono::seconds(30));
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_TRUE(InOrder(Lines(run.err), {kPortFailed, "orvane-cli: " + device_->port() +
                                                        ": Permission denied; its group is dialout: add your user to "
                                                        "it (sudo usermod -aG dialout $USER) and log in again"}))
      << run.err;
}

}  // namespace
}  // namespace orvane::e2e
