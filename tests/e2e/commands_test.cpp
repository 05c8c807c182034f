// Each command of orvane-cli against the simulated console: exit status,
// output, and what the console really stored afterwards.
#include <QJsonArray>
#include <filesystem>

#include "tests/e2e/e2e_fixture.h"

namespace orvane::e2e {
namespace {

constexpr std::size_t kCapacity = 16384;

// Header bytes of a stored file: type, total length, name length, the name
// and the data length.
std::size_t StoredSize(const sim::SimFile& file) { return 7 + file.name.size() + file.data.size(); }

sim::SimFile MakeFile(std::uint16_t type, const std::string& name, Bytes data) {
  return sim::SimFile{type, Cp1251Bytes(name), std::move(data)};
}

// The name the console must hold for a path: the path, padded with one
// space to an odd length.
Bytes ExpectedName(const std::string& path) {
  Bytes name(path.begin(), path.end());
  if (name.size() % 2 == 0) name.push_back(' ');
  return name;
}

sim::DeviceState ThreeFiles() {
  sim::DeviceState state;
  state.files = {MakeFile(2, "C:\\first.yp1 ", Pattern(100, 1)), MakeFile(1, "second.l7q", Pattern(33, 2)),
                 MakeFile(0x8000, "third.rvp", Pattern(7, 3))};
  return state;
}

TEST_F(EndToEnd, StatusShowsFilesFreeSpaceAndConstantsAsJsonAndTable) {
  sim::DeviceState initial;
  // "Пульт-7" in code page 1251.
  const std::string identifier = "\xCF\xF3\xEB\xFC\xF2-7";
  initial.files = {MakeFile(2, "C:\\a.yp1 ", Pattern(1500, 4)), MakeFile(0x1A, "x", Pattern(3, 5))};
  initial.constants = {2, 0, 31, 5, 0x2C, 0x01, 0x40, 0xE2, 0x01, 0x00, 0xB4, 0x00, 1,
                       static_cast<std::uint8_t>(identifier.size())};
  std::copy(identifier.begin(), identifier.end(), initial.constants.begin() + 14);
  StartDevice({}, &initial);

  const RunResult json = Cli({"--json", "status"});
  ASSERT_EQ(json.exit_status, 0) << json.err;
  const QJsonObject result = Json(json);
  const QJsonArray files = result["files"].toArray();
  ASSERT_EQ(files.size(), 2);
  EXPECT_EQ(files[0]["number"].toInt(), 1);
  EXPECT_EQ(files[0]["name"].toString().toStdString(), "C:\\a.yp1 ");
  EXPECT_EQ(files[0]["type"].toInt(), 2);
  EXPECT_EQ(files[0]["type_name"].toString().toStdString(), "Годовой план АСУДД");
  EXPECT_EQ(files[0]["size"].toInt(), 1500);
  EXPECT_EQ(files[1]["number"].toInt(), 2);
  EXPECT_EQ(files[1]["type"].toInt(), 0x1A);
  EXPECT_EQ(files[1]["type_name"].toString().toStdString(), "Неизвестный тип 1Ah");
  EXPECT_EQ(result["free"].toInt(), static_cast<int>(kCapacity - StoredSize(initial.files[0]) -
                                                     StoredSize(initial.files[1])));
  const QJsonObject constants = result["constants"].toObject();
  EXPECT_EQ(constants["id"].toString().toStdString(), "Пульт-7");
  EXPECT_EQ(constants["tz"].toInt(), 180);
  EXPECT_EQ(constants["summer"].toInt(), 1);
  EXPECT_EQ(constants["local"].toInt(), 5);
  EXPECT_EQ(constants["global"].toInt(), 300);
  EXPECT_EQ(constants["serial"].toInt(), 123456);

  EXPECT_TRUE(InOrder(Lines(json.err), {"Запуск программы", "Загрузка конфигурации...",
                                        "Загрузка конфигурации завершена.", "Открытие портa связи:",
                                        "Порт связи открыт. (" + device_->port() + ")",
                                        "Установлена связь с модемом.", "Запрос текущего состояния...", kDone,
                                        "Закрытие порта связи", "Порт связи закрыт"}))
      << json.err;

  const RunResult table = Cli({"status"});
  ASSERT_EQ(table.exit_status, 0) << table.err;
  EXPECT_NE(table.out.find("Годовой план АСУДД"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("1500 б."), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("Свободно - " + std::to_string(result["free"].toInt()) + " байт"), std::string::npos);
  EXPECT_NE(table.out.find("Идентификатор модема:     Пульт-7"), std::string::npos) << table.out;

  const RunResult quiet = Cli({"--quiet", "status"});
  EXPECT_EQ(quiet.exit_status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, table.out);
}

TEST_F(EndToEnd, PutStoresYearlyPlansWithAndWithoutThePaddingSpace) {
  StartDevice({});
  const std::string odd_path = PlanPathWithParity(".yp1", true);
  const std::string even_path = PlanPathWithParity(".YP1", false);
  const Bytes odd_data = Pattern(1500, 6), even_data = Pattern(33, 7);
  WriteFile(std::filesystem::path(odd_path).filename(), odd_data);
  WriteFile(std::filesystem::path(even_path).filename(), even_data);

  const RunResult first = Cli({"put", odd_path});
  ASSERT_EQ(first.exit_status, 0) << first.err;
  EXPECT_TRUE(InOrder(Lines(first.err), {kDone, "Открытие портa связи:", "Добавление файла...", kDone})) << first.err;
  const RunResult second = Cli({"--json", "put", even_path});
  ASSERT_EQ(second.exit_status, 0) << second.err;
  const QJsonArray shown = Json(second)["files"].toArray();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[1]["name"].toString().toStdString(), even_path + " ");
  EXPECT_EQ(shown[1]["size"].toInt(), 33);

  const sim::DeviceState state = StopDevice();
  ASSERT_EQ(state.files.size(), 2u);
  EXPECT_EQ(state.files[0].type, 2);
  EXPECT_EQ(state.files[0].name, ExpectedName(odd_path));
  EXPECT_EQ(state.files[0].name.size() % 2, 1u);
  EXPECT_EQ(state.files[0].data, odd_data);
  EXPECT_EQ(state.files[1].name, ExpectedName(even_path));
  EXPECT_EQ(state.files[1].name.back(), ' ');
  EXPECT_EQ(state.files[1].data, even_data);
}

TEST_F(EndToEnd, PutStoresTheRingOfACircularPlan) {
  StartDevice({});
  Bytes file = Pattern(1040, 8);
  file[1029] = 30;  // the payload length, wrapping 14 bytes round to the start
  file[1030] = 0;
  const std::string path = WriteFile("ring.R0", file);
  const RunResult run = Cli({"put", path});
  ASSERT_EQ(run.exit_status, 0) << run.err;

  Bytes expected(file.begin() + 1024, file.end());
  expected.insert(expected.end(), file.begin(), file.begin() + 14);
  const sim::DeviceState state = StopDevice();
  ASSERT_EQ(state.files.size(), 1u);
  EXPECT_EQ(state.files[0].type, 0x5256);
  EXPECT_EQ(state.files[0].name, ExpectedName(path));
  EXPECT_EQ(state.files[0].data, expected);
}

TEST_F(EndToEnd, PutRefusesMissingTooBigAndTooShortFilesWithStatusTwo) {
  StartDevice({"--capacity", "1000"});
  const RunResult missing = Cli({"put", Path("nothing.yp1")});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_EQ(missing.err.find("Открытие"), std::string::npos) << "no port for a missing file";

  const RunResult too_big = Cli({"put", WriteFile("big.yp1", Pattern(990, 9))});
  EXPECT_EQ(too_big.exit_status, 2);
  EXPECT_NE(too_big.err.find("Файл слишком большой"), std::string::npos) << too_big.err;
  EXPECT_EQ(too_big.out, "");

  const RunResult too_short = Cli({"put", WriteFile("short.R1", Pattern(1030, 10))});
  EXPECT_EQ(too_short.exit_status, 2);
  EXPECT_NE(too_short.err.find("Файл кольцевого плана слишком короткий"), std::string::npos) << too_short.err;

  EXPECT_TRUE(StopDevice().files.empty());
}

// A console whose file table is full answers the create and stores nothing;
// only the directory read afterwards shows it.
TEST_F(EndToEnd, PutToAFullFileTableExitsOneWithTheFileNotStored) {
  sim::DeviceState initial;
  for (int i = 0; i < 255; ++i) initial.files.push_back(MakeFile(2, "f" + std::to_string(100 + i), Pattern(2, i)));
  StartDevice({}, &initial);
  const std::string path = WriteFile("new.yp1", Pattern(40, 30));
  const RunResult run = Cli({"--json", "put", path});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Json(run)["exit"].toInt(), 1) << "--json says how a failed run ended";
  const Bytes stored_name = ExpectedName(path);
  const std::string message = "orvane-cli: the console did not store \"" +
                              std::string(stored_name.begin(), stored_name.end()) + "\" of 40 bytes: it shows 255 files";
  EXPECT_NE(run.err.find(message), std::string::npos)
      << run.err;
  EXPECT_TRUE(InOrder(Lines(run.err), {"Добавление файла...", kDone})) << run.err;
  EXPECT_EQ(StopDevice().files.size(), 255u);
}

TEST_F(EndToEnd, DeleteRemovesTheFileShownAsNumberN) {
  const sim::DeviceState initial = ThreeFiles();
  StartDevice({}, &initial);
  const RunResult outside = Cli({"delete", "4"});
  EXPECT_EQ(outside.exit_status, 2);
  EXPECT_NE(outside.err.find("no file number 4"), std::string::npos) << outside.err;

  const RunResult run = Cli({"--json", "delete", "2"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const QJsonArray shown = Json(run)["files"].toArray();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[1]["name"].toString().toStdString(), "third.rvp");

  const sim::DeviceState state = StopDevice();
  ASSERT_EQ(state.files.size(), 2u);
  EXPECT_EQ(state.files[0].name, initial.files[0].name);
  EXPECT_EQ(state.files[0].data, initial.files[0].data);
  EXPECT_EQ(state.files[1].name, initial.files[2].name);
  EXPECT_EQ(state.files[1].data, initial.files[2].data);
}

TEST_F(EndToEnd, EraseNeedsYesWithoutATerminalAndThenEmptiesTheConsole) {
  const sim::DeviceState initial = ThreeFiles();
  StartDevice({}, &initial);
  const RunResult unconfirmed = Cli({"erase"});
  EXPECT_EQ(unconfirmed.exit_status, 2);
  EXPECT_EQ(unconfirmed.err.find("Удаление файлов..."), std::string::npos) << unconfirmed.err;

  const RunResult run = Cli({"--yes", "--json", "erase"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_TRUE(InOrder(Lines(run.err), {"Удаление файлов...", kDone})) << run.err;
  EXPECT_TRUE(Json(run)["files"].toArray().isEmpty());
  EXPECT_EQ(Json(run)["free"].toInt(), static_cast<int>(kCapacity));
  EXPECT_TRUE(StopDevice().files.empty());
}

TEST_F(EndToEnd, FlashWritesImagesOfEverySizeAndVerifiesThem) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{33}, std::size_t{65535}}) {
    SCOPED_TRACE(size);
    sim::DeviceState initial;
    initial.firmware = Pattern(4000, 11);
    StartDevice({}, &initial);
    const Bytes image = Pattern(size, 12);
    const RunResult run = Cli({"--yes", "--force", "flash", WriteFile("image.mts", image)});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_TRUE(InOrder(Lines(run.err), {"Идет прошивка основной программы...", kDone})) << run.err;
    EXPECT_EQ(run.err.find(kVerifyError), std::string::npos);

    // The console keeps whole chunks: the image, then filler up to the next
    // multiple of 32 (one chunk for an empty image).
    const sim::DeviceState state = StopDevice();
    const std::size_t chunks = size == 0 ? 1 : (size + 31) / 32;
    ASSERT_EQ(state.firmware.size(), chunks * 32);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), state.firmware.begin()));
  }
}

TEST_F(EndToEnd, FlashRefusesAnImageOf64KiBBeforeTouchingTheConsole) {
  sim::DeviceState initial;
  initial.firmware = Pattern(64, 13);
  StartDevice({}, &initial);
  const RunResult run = Cli({"--yes", "flash", WriteFile("big.mts", Pattern(65536, 14))});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("Файл слишком большой!"), std::string::npos) << run.err;
  EXPECT_EQ(StopDevice().firmware, initial.firmware);
}

TEST_F(EndToEnd, ConstantsChangeOnlyTheGivenFieldsOfTheBlockReadByTheRefresh) {
  sim::DeviceState initial;
  const std::string old_identifier = "ABCDEFGHIJKLMNOPQRST";
  initial.constants = {2, 0, 31, 9, 0x10, 0x27, 1, 2, 3, 4, 0xB4, 0x00, 0, 20};
  std::copy(old_identifier.begin(), old_identifier.end(), initial.constants.begin() + 14);
  StartDevice({}, &initial);

  const RunResult run = Cli({"--json", "constants", "--id", "XYZ", "--tz", "-60", "--summer", "1"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const QJsonObject shown = Json(run)["constants"].toObject();
  EXPECT_EQ(shown["id"].toString().toStdString(), "XYZ");
  EXPECT_EQ(shown["tz"].toInt(), -60);
  EXPECT_EQ(shown["local"].toInt(), 9);

  const RunResult second = Cli({"constants", "--local", "254", "--global", "65535", "--serial", "-5"});
  ASSERT_EQ(second.exit_status, 0) << second.err;

  // Each run starts with a zero-filled block, so a shorter identifier is
  // followed by zeros, not by the console's old characters.
  const std::array<std::uint8_t, 34> expected = {2, 0, 31, 254, 0xFF, 0xFF, 0xFB, 0xFF, 0xFF, 0xFF, 0xC4, 0xFF, 1, 3,
                                                 'X', 'Y', 'Z'};
  EXPECT_EQ(StopDevice().constants, expected);
}

TEST_F(EndToEnd, RefusedArgumentsExitTwoWithoutTouchingTheConsole) {
  StartDevice({});
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"constants", "--local", "255"}, {"constants"}, {"delete", "x"}, {"frobnicate"},
        {"status", "--summer", "1"}, {"constants", "--id", "123456789012345678901"}, {"put"}}) {
    const RunResult run = Cli(arguments);
    EXPECT_EQ(run.exit_status, 2) << arguments[0];
    EXPECT_EQ(run.err.find("Открытие"), std::string::npos) << run.err;
  }
  EXPECT_EQ(StopDevice().constants, sim::DeviceState{}.constants);
}

TEST_F(EndToEnd, PortsListsTheFoundNamesAndTheStoredNameIsUsedWithoutPort) {
  StartDevice({});
  const std::string ports = Path("ports");
  std::filesystem::create_directories(ports);
  std::filesystem::create_symlink(device_->port(), ports + "/COM3");
  const Environment environment{{"ORVANE_PORT_DIR", ports}};

  const RunResult scan = CliWithoutPort({"ports"}, environment);
  ASSERT_EQ(scan.exit_status, 0) << scan.err;
  EXPECT_EQ(scan.out, "COM3\n");
  EXPECT_EQ(Lines(scan.err), (std::vector<std::string>{"Поиск доступных портов:", "  найден порт: COM3;",
                                                      "Поиск портов завершен."}));
  const RunResult json = CliWithoutPort({"--json", "ports"}, environment);
  ASSERT_EQ(json.exit_status, 0);
  EXPECT_NE(json.out.find("\"name\":\"COM3\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find(ports + "/COM3"), std::string::npos) << json.out;

  std::filesystem::create_directories(Path("no-ports"));
  const RunResult none = CliWithoutPort({"ports"}, {{"ORVANE_PORT_DIR", Path("no-ports")}});
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("orvane-cli: no port found"), std::string::npos) << none.err;

  const RunResult unset = CliWithoutPort({"status"}, environment);
  EXPECT_EQ(unset.exit_status, 2) << "no port chosen is input to give";
  EXPECT_NE(unset.err.find(kPortFailed), std::string::npos) << unset.err;

  std::filesystem::create_directories(Path("config/Veltranix"));
  WriteFile("config/Veltranix/Orvane.conf", Cp1251Bytes("[General]\nComPort=COM3\n"));
  const RunResult stored = CliWithoutPort({"status"}, environment);
  ASSERT_EQ(stored.exit_status, 0) << stored.err;
  EXPECT_TRUE(InOrder(Lines(stored.err), {"Загрузка конфигурации...", "  настройки порта;",
                                          "Загрузка конфигурации завершена.", "Порт связи открыт. (COM3)", kDone}))
      << stored.err;
}

}  // namespace
}  // namespace orvane::e2e
