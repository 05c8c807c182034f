// The state file, the sample files and the 1251 names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/cp1251.h"
#include "sim/kv80_device.h"
#include "tests/sim/sim_rig.h"

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("orvane-sim-" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

bool SameState(const sim::DeviceState& a, const sim::DeviceState& b) {
  if (a.files.size() != b.files.size() || a.constants != b.constants || a.firmware != b.firmware) return false;
  for (std::size_t i = 0; i < a.files.size(); ++i) {
    if (a.files[i].type != b.files[i].type || a.files[i].name != b.files[i].name ||
        a.files[i].data != b.files[i].data) {
      return false;
    }
  }
  return true;
}

TEST(SimState, SavedStateLoadsBackByteForByte) {
  TempDir dir;
  sim::DeviceState state;
  state.files = sim::SampleFiles();
  state.files.push_back(sim::SimFile{0x8000, link::Utf8ToCp1251("Пр\"о\\г\tа.RVP"), {0x00, 0xFF, 0x0A, 0x5D}});
  state.files.push_back(sim::SimFile{0, {}, {}});
  state.constants[3] = 254;
  state.constants[33] = 0xC0;
  state.firmware = Pattern(100, 9);
  std::string error;
  ASSERT_TRUE(sim::SaveState(dir.File("state.json"), state, &error)) << error;

  const std::string text = ReadText(dir.File("state.json"));
  EXPECT_NE(text.find("\"name\": \"C:\\\\Планы\\\\Перекресток 12.yp1\""), std::string::npos) << text;
  sim::DeviceState loaded;
  ASSERT_TRUE(sim::LoadState(dir.File("state.json"), loaded, &error)) << error;
  EXPECT_TRUE(SameState(loaded, state));
}

TEST(SimState, MissingPartsKeepTheDefaults) {
  TempDir dir;
  WriteText(dir.File("s.json"), R"({"files":[{"type":2,"name_hex":"41","name":"ignored \u0416"}]})");
  sim::DeviceState loaded;
  std::string error;
  ASSERT_TRUE(sim::LoadState(dir.File("s.json"), loaded, &error)) << error;
  ASSERT_EQ(loaded.files.size(), 1u);
  EXPECT_EQ(loaded.files[0].name, Bytes{'A'});
  EXPECT_TRUE(loaded.files[0].data.empty());
  EXPECT_EQ(loaded.constants[0], 2);
  EXPECT_EQ(loaded.constants[2], 31);
}

TEST(SimState, BadStateFilesAreRefusedAndLeaveTheStateAlone) {
  TempDir dir;
  const std::string deep = std::string(200, '[') + std::string(200, ']');
  const std::string hostile = std::string(200000, '[');
  std::string many = R"({"files":[)";
  for (int i = 0; i < 256; ++i) many += std::string(i ? "," : "") + R"({"type":1,"name_hex":"41"})";
  many += "]}";
  const std::vector<std::string> bad{
      R"({"files":[{"type":2,"name_hex":"4G"}]})",
      R"({"files":[{"type":70000,"name_hex":"41"}]})",
      R"({"files":[{"type":1.5,"name_hex":"41"}]})",
      R"({"files":[{"type":2}]})",
      R"({"files":[{"type":2,"name_hex":")" + std::string(243 * 2, 'a') + R"("}]})",
      R"({"files":[{"type":2,"name_hex":"41","data_hex":")" + std::string(65529 * 2, '0') + R"("}]})",
      R"({"constants_hex":"0200"})",
      R"({"files":[)",
      R"({"files":{}})",
      "[]",
      deep,
      hostile,
      many,
  };
  for (const std::string& text : bad) {
    WriteText(dir.File("bad.json"), text);
    sim::DeviceState state;
    state.firmware = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(sim::LoadState(dir.File("bad.json"), state, &error)) << text.substr(0, 80);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(state.firmware, (Bytes{1, 2, 3}));
    EXPECT_TRUE(state.files.empty());
  }
  sim::DeviceState state;
  std::string error;
  EXPECT_FALSE(sim::LoadState(dir.File("does-not-exist.json"), state, &error));
}

TEST(SimState, SampleFilesAreSaneAndFitTheConsole) {
  const auto files = sim::SampleFiles();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].type, 2);
  EXPECT_EQ(files[1].type, 0x5256);
  EXPECT_EQ(files[2].type, 1);
  std::size_t total = 0;
  for (const auto& file : files) {
    EXPECT_EQ(file.name.size() % 2, 1u);
    EXPECT_LE(file.name.size(), sim::kMaxAnsweredName);
    EXPECT_EQ(std::count(file.name.begin(), file.name.end(), '?'), 0);
    EXPECT_FALSE(file.data.empty());
    total += sim::StoredSize(file);
  }
  EXPECT_LT(total, sim::SimOptions{}.capacity);
  EXPECT_EQ(link::Cp1251ToUtf8(files[0].name), "C:\\Планы\\Перекресток 12.yp1");
  EXPECT_EQ(link::Cp1251ToUtf8(files[1].name), "C:\\Планы\\Кольцо 3.R0 ");
  const Bytes& ring = files[1].data;
  EXPECT_EQ(ring[5] | ring[6] << 8, static_cast<int>(ring.size()));  // its own length at 5-6
  EXPECT_EQ(files[0].data.size(), 2u + 366u + 4u * 8u * 3u);
}

TEST(SimState, EveryByteOf1251SurvivesUtf8) {
  for (int byte = 0; byte < 256; ++byte) {
    const Bytes one{static_cast<std::uint8_t>(byte)};
    const Bytes back = link::Utf8ToCp1251(link::Cp1251ToUtf8(one));
    EXPECT_EQ(back, one) << byte;
  }
  EXPECT_EQ(link::Cp1251ToUtf8(Bytes{0xCF, 0xEB, 0xE0, 0xED, 0xA8, 0xB9}), "ПланЁ№");
  EXPECT_EQ(link::Utf8ToCp1251("a\xD0"), (Bytes{'a', '?'}));
  EXPECT_EQ(link::Utf8ToCp1251("漢"), Bytes{'?'});
}

// The console logic alone, where going through the port would only be slow.
TEST(SimDeviceLogic, TheDirectoryStopsAt255Files) {
  sim::Kv80Device device({}, 1 << 20, 0);
  const Bytes header = FileHeader(2, Ascii("x"), 0);
  for (int i = 0; i < 300; ++i) {
    Bytes frame{static_cast<std::uint8_t>(header.size() + 1), link::kCreateFile};
    frame.insert(frame.end(), header.begin(), header.end());
    frame.push_back(static_cast<std::uint8_t>(i));  // keeps each create distinct
    frame[0] += 1;
    ASSERT_TRUE(device.Answer(link::FrameView(frame)));
  }
  EXPECT_EQ(device.state().files.size(), sim::kMaxFiles);
}

TEST(SimDeviceLogic, OverlongStoredNamesAreCutToFitTheAnswerFrame) {
  sim::DeviceState state;
  state.files.push_back(sim::SimFile{2, Bytes(255, 'n'), {}});
  sim::Kv80Device device(state, 16384, 0);
  const Bytes request{2, link::kFileDetails, 0};
  const auto answer = device.Answer(link::FrameView(request));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->size(), link::kMaxLength + 6u);
  EXPECT_EQ((*answer)[6 + 6], sim::kMaxAnsweredName);
}

}  // namespace
}  // namespace orvane::testing
