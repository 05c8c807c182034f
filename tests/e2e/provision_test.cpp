// orvane-cli provision against simulated modems, with the station records in
// SQLite and, when ORVANE_TEST_PG names a server, in PostgreSQL: modems at
// once, a plan that does not fit, a run killed outright, two tools on one
// database, and watch mode with ports that come and go.
#include <signal.h>

#include <QJsonArray>
#include <QSysInfo>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "device/session.h"
#include "link/cp1251.h"
#include "link/payloads.h"
#include "station/record_store.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/station/test_database.h"

namespace orvane::e2e {
namespace {

using station::Backend;
using namespace std::chrono_literals;

constexpr std::int64_t kFirst = 700000;

class Provision : public EndToEnd, public ::testing::WithParamInterface<Backend> {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (const std::string missing = station::BackendMissing(GetParam()); !missing.empty()) GTEST_SKIP() << missing;
    database_ = std::make_unique<station::TestDatabase>(GetParam());
    ASSERT_FALSE(database_->location().empty()) << database_->error();
    image_ = Pattern(2000, 7);
    plans_ = {{"a.yp1", Pattern(300, 8)}, {"b.l7q", Pattern(700, 9)}};
  }
  void TearDown() override {
    consoles_.clear();
    database_.reset();
    EndToEnd::TearDown();
  }

  // job.toml with the image, erase, the plans, constants and the range.
  std::string WriteJob() {
    WriteFile("main.mts", image_);
    std::string names;
    for (const auto& [name, data] : plans_) {
      WriteFile(name, data);
      names += (names.empty() ? "\"" : ", \"") + name + "\"";
    }
    std::ofstream(Path("job.toml")) << "image = \"main.mts\"\nerase = true\nplans = [" << names << "]\n"
                                    << "[constants]\nid = \"Пульт-7\"\ntz = 180\n[serial]\nfirst = " << kFirst
                                    << "\nlast = " << kFirst + 999 << "\n";
    return Path("job.toml");
  }

  std::vector<std::string> Tool(std::vector<std::string> arguments) const {
    std::vector<std::string> argv{ORVANE_CLI_PROGRAM, "--db", database_->location()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
  }
  Environment ToolEnvironment(Environment extra = {}) const {
    extra["XDG_CONFIG_HOME"] = Path("config");
    return extra;
  }
  RunResult Run(std::vector<std::string> arguments, Environment extra = {}) {
    return RunProgram(Tool(std::move(arguments)), ToolEnvironment(std::move(extra)), 60s);
  }
  std::vector<std::string> PortsOf(std::initializer_list<std::size_t> consoles) const {
    std::vector<std::string> options;
    for (std::size_t i : consoles) options.insert(options.end(), {"--port", consoles_[i]->port()});
    return options;
  }

  std::vector<QJsonObject> History() { return JsonLines(Run({"--json", "history"}).out); }

  static std::vector<QJsonObject> JsonLines(const std::string& text) {
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(text)) {
      objects.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    }
    return objects;
  }

  // The console holds exactly the job: the image, the two plans and the
  // constants with this serial number.
  void ExpectProvisioned(const sim::DeviceState& state, std::int64_t serial) {
    ASSERT_GE(state.firmware.size(), image_.size());
    EXPECT_TRUE(std::equal(image_.begin(), image_.end(), state.firmware.begin()));
    ASSERT_EQ(state.files.size(), plans_.size());
    for (std::size_t i = 0; i < plans_.size(); ++i) {
      EXPECT_EQ(state.files[i].name, device::DeviceFileName(Path(plans_[i].first)));
      EXPECT_EQ(state.files[i].type, device::FileTypeForPath(plans_[i].first));
      EXPECT_EQ(state.files[i].data, plans_[i].second);
    }
    const auto block = link::ConstantsBlock::Decode(state.constants);
    ASSERT_TRUE(block);
    EXPECT_EQ(link::Cp1251ToUtf8(block->Identifier()), "Пульт-7");
    EXPECT_EQ(block->time_zone, 180);
    EXPECT_EQ(block->serial_number, serial);
  }

  std::unique_ptr<station::TestDatabase> database_;
  Bytes image_;
  std::vector<std::pair<std::string, Bytes>> plans_;
};

TEST_P(Provision, ThreeModemsAtOnceGetConsecutiveNumbersTheWholeJobAndARecordEach) {
  for (std::size_t i = 0; i < 3; ++i) StartConsole(i);
  const std::string job = WriteJob();
  std::vector<std::string> arguments = PortsOf({0, 1, 2});
  arguments.insert(arguments.end(), {"--yes", "--json", "provision", "--new-records", job});
  const RunResult run = Run(arguments);
  ASSERT_EQ(run.exit_status, 0) << run.err << run.out;

  const auto results = JsonLines(run.out);
  ASSERT_EQ(results.size(), 3u) << run.out;
  std::set<std::int64_t> serials;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i]["port"].toString().toStdString(), consoles_[i]->port()) << "in the order of --port";
    EXPECT_EQ(results[i]["exit"].toInt(), 0);
    const std::int64_t serial = results[i]["serial"].toInteger();
    serials.insert(serial);
    ExpectProvisioned(StopConsole(i), serial);
  }
  EXPECT_EQ(serials, (std::set<std::int64_t>{kFirst, kFirst + 1, kFirst + 2}));

  const auto records = History();
  ASSERT_EQ(records.size(), 3u);
  const std::string image_sha = station::FileSha256(Path("main.mts")).value.value_or("?");
  for (const QJsonObject& record : records) {
    EXPECT_EQ(record["result"].toString(), "done");
    EXPECT_TRUE(serials.contains(record["serial"].toInteger()));
    EXPECT_EQ(record["image_sha256"].toString().toStdString(), image_sha);
    EXPECT_EQ(record["plans"].toArray().size(), 2);
    EXPECT_EQ(record["plans"].toArray()[1].toObject()["name"].toString(), "b.l7q");
    EXPECT_EQ(record["version"].toString(), ORVANE_VERSION);
  }
}

// A modem that cannot take the job is a failure of that unit (exit 1), its
// reason with the unit's free space and the space the plan needs; exit 2 is
// only for input refused before any modem is touched.
TEST_P(Provision, ASecondPlanThatDoesNotFitFailsThatModemAloneWithItsRecord) {
  constexpr std::int64_t kCapacity = 800;  // the first plan fits, the second does not
  StartConsole(0);
  StartConsole(1, {"--capacity", std::to_string(kCapacity)});
  StartConsole(2);
  std::vector<std::string> arguments = PortsOf({0, 1, 2});
  arguments.insert(arguments.end(), {"--yes", "provision", "--new-records", WriteJob()});
  const RunResult run = Run(arguments);
  EXPECT_EQ(run.exit_status, 1) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_TRUE(lines[0].starts_with("port ")) << run.out;
  EXPECT_NE(lines[1].find(" done "), std::string::npos) << run.out;
  const auto needed = [this](std::size_t plan) {
    return device::FileSpaceNeeded(device::DeviceFileName(Path(plans_[plan].first)).size(), plans_[plan].second.size());
  };
  const std::int64_t free = kCapacity - (needed(0) - 20);  // the console keeps no margin of its own
  const std::string figures = std::to_string(free) + " bytes free, the plan needs " + std::to_string(needed(1));
  EXPECT_TRUE(lines[2].ends_with(" failed  -       plan 2 (b.l7q): Файл слишком большой: " + figures +
                                 "; plans from 2 on not written: must come back"))
      << run.out;
  EXPECT_NE(lines[3].find(" done "), std::string::npos) << run.out;
  EXPECT_EQ(StopConsole(1).files.size(), 1u) << "the first plan went in, then the run stopped";

  const auto records = History();
  ASSERT_EQ(records.size(), 3u);
  for (const QJsonObject& record : records) {
    const bool small = record["port"].toString().toStdString() == consoles_[1]->port();
    EXPECT_EQ(record["result"].toString(), small ? "failed" : "done");
    EXPECT_EQ(record["serial"].isNull(), small) << "no number is taken before the constants";
  }
}

// Killed once as soon as its record holds a serial number, once early, and
// once as a watching station early, then run to the end, and another modem
// after it: the killed runs are marked abandoned by the next session, none
// is left running, and no number is on two modems or in two records done.
TEST_P(Provision, ARunKilledOutrightAndStartedAgainGivesNoNumberTwice) {
  StartConsole(0, {"--poll-interval-us", "5000"});
  StartConsole(1);
  const std::string job = WriteJob();
  auto store = station::RecordStore::Open(database_->location(), station::StoreMode::kCreate);
  ASSERT_TRUE(store) << store.error;
  const std::string ports = Path("ports");
  std::filesystem::create_directories(ports);
  std::filesystem::create_symlink(consoles_[0]->port(), ports + "/COM3");
  std::size_t kills = 0;
  for (const auto& [after_serial, watch] : {std::pair{true, false}, {false, false}, {false, true}}) {
    SCOPED_TRACE(after_serial ? "killed once it has a number" : watch ? "a watch killed early" : "killed early");
    Background tool(watch ? Tool({"--port", "all", "--yes", "provision", "--watch", job})
                          : Tool({"--port", consoles_[0]->port(), "--yes", "provision", job}),
                    ToolEnvironment({{"ORVANE_PORT_DIR", ports}}));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    // A unit's run is recorded once its job starts (the unit read, nothing
    // written before): killed early means killed in its job, before a number.
    // The run is this tool's: the rows before it are the killed tools'.
    for (bool ready = false; !ready && std::chrono::steady_clock::now() < deadline;) {
      std::this_thread::sleep_for(5ms);
      const auto runs = (*store.value)->History({});
      ASSERT_TRUE(runs) << runs.error;
      ready = runs.value->size() > kills && runs.value->back().result == station::RunResult::kRunning &&
              runs.value->back().serial.has_value() == after_serial;
    }
    ++kills;
    tool.Signal(SIGKILL);
    EXPECT_EQ(tool.Wait(10s).signal, SIGKILL);
  }
  ASSERT_EQ(Run({"--port", consoles_[0]->port(), "--yes", "-q", "provision", job}).exit_status, 0);
  ASSERT_EQ(Run({"--port", consoles_[1]->port(), "--yes", "-q", "provision", job}).exit_status, 0);

  const auto records = History();
  ASSERT_EQ(records.size(), 5u);
  // The killed tool's session held its positions; the next one on this host
  // finds its process gone, takes them and marks its runs abandoned.
  EXPECT_EQ(records[0]["result"].toString(), "abandoned");
  EXPECT_FALSE(records[0]["serial"].isNull());
  EXPECT_EQ(records[1]["result"].toString(), "abandoned");
  EXPECT_EQ(records[2]["result"].toString(), "abandoned");
  EXPECT_EQ(records[2]["position"].toString(), "COM3") << "the watch's run";
  std::set<std::int64_t> taken;
  for (const QJsonObject& record : records) {
    if (record["serial"].isNull() || record["result"].toString() != "done") continue;
    EXPECT_TRUE(taken.insert(record["serial"].toInteger()).second) << "twice";
  }
  // A number the killed run may have written is given again only to the
  // modem that carries it, the one on the same cable.
  if (records[3]["serial"] == records[0]["serial"]) {
    EXPECT_EQ(records[3]["port"], records[0]["port"]);
  }
  EXPECT_NE(records[4]["serial"], records[0]["serial"]);
  ExpectProvisioned(StopConsole(0), records[3]["serial"].toInteger());
  ExpectProvisioned(StopConsole(1), records[4]["serial"].toInteger());
}

TEST_P(Provision, TwoToolsAtOnceOnOneDatabaseNeverGiveANumberTwice) {
  for (std::size_t i = 0; i < 4; ++i) StartConsole(i);
  plans_.resize(1);
  const std::string job = WriteJob();
  std::vector<std::int64_t> serials;
  for (int round = 0; round < 3; ++round) {
    if (round > 0) {
      for (std::size_t i = 0; i < 4; ++i) {  // four new modems on the cables
        StopConsole(i);
        std::filesystem::remove(StateOf(i));
        StartConsole(i);
      }
    }
    std::vector<std::unique_ptr<Background>> tools;
    for (const auto& ports : {PortsOf({0, 1}), PortsOf({2, 3})}) {
      std::vector<std::string> arguments = ports;
      arguments.insert(arguments.end(), {"--yes", "--json", "-q", "provision", "--new-records", job});
      tools.push_back(std::make_unique<Background>(Tool(arguments), ToolEnvironment()));
    }
    for (auto& tool : tools) {
      const RunResult run = tool->Wait(60s);
      ASSERT_EQ(run.exit_status, 0) << run.err << run.out;
      for (const QJsonObject& result : JsonLines(run.out)) serials.push_back(result["serial"].toInteger());
    }
  }
  std::sort(serials.begin(), serials.end());
  ASSERT_EQ(serials.size(), 12u);
  for (std::size_t i = 0; i < serials.size(); ++i) EXPECT_EQ(serials[i], kFirst + static_cast<std::int64_t>(i));
  EXPECT_EQ(History().size(), 12u);
}

// Modems appear one after another; a port goes and comes back with another
// modem, which is provisioned; the first Ctrl-C lets a slow one go on and starts no new one, the
// second stops it; the totals close the session.
TEST_P(Provision, WatchRunsEachPortAsItAppearsAndEndsInTwoStepsOnCtrlC) {
  const std::string ports = Path("ports");
  std::filesystem::create_directories(ports);
  auto link = [&](const std::string& name) { return std::vector<std::string>{"--link", ports + "/" + name}; };
  Background tool(Tool({"--port", "all", "--yes", "provision", "--watch", "--new-records", WriteJob()}),
                  ToolEnvironment({{"ORVANE_PORT_DIR", ports}}));
  ASSERT_TRUE(tool.WaitForOutput("Ctrl-C stops\n", 10s)) << tool.out() << tool.err();

  StartConsole(0, link("COM3"));
  ASSERT_TRUE(tool.WaitForOutput("COM3: done, serial ", 20s)) << tool.out();
  // A second session on a position the watch holds is refused at its start.
  const RunResult rival = Run({"--port", "COM3", "--yes", "provision", WriteJob()}, {{"ORVANE_PORT_DIR", ports}});
  EXPECT_EQ(rival.exit_status, 2) << rival.err;
  EXPECT_NE(rival.err.find("COM3 already taken by the session on " + QSysInfo::machineHostName().toStdString()),
            std::string::npos)
      << rival.err;
  StartConsole(1, link("COM4"));
  ASSERT_TRUE(tool.WaitForOutput("COM4: done, serial ", 20s)) << tool.out();
  StopConsole(0);
  ASSERT_TRUE(tool.WaitForOutput("COM3: gone", 10s)) << tool.out();
  std::filesystem::remove(StateOf(0));  // another modem on that cable
  StartConsole(0, link("COM3"));
  ASSERT_TRUE(tool.WaitForOutput("COM3: done, serial ", 20s, 2)) << tool.out();

  StartConsole(2, {"--poll-interval-us", "20000", "--link", ports + "/COM5"});
  ASSERT_TRUE(tool.WaitForOutput("COM5: step 1/5 flash", 20s)) << tool.out();
  tool.Signal(SIGINT);
  ASSERT_TRUE(tool.WaitForOutput("stopping: no new job starts", 10s)) << tool.out();
  StartConsole(3, link("COM6"));
  std::this_thread::sleep_for(600ms);
  tool.Signal(SIGINT);
  const RunResult run = tool.Wait(30s);
  EXPECT_EQ(run.exit_status, 130) << run.out << run.err;
  EXPECT_EQ(run.out.find("COM6: started"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("COM5: interrupted (exit 130): image: stopped by SIGINT"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("4 jobs: 3 done, 0 failed, 1 interrupted; serial numbers given: " + std::to_string(kFirst) +
                         " to " + std::to_string(kFirst + 2) + "\n"),
            std::string::npos)
      << run.out;

  const auto records = History();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(std::count_if(records.begin(), records.end(), [](const auto& r) { return r["result"] == "done"; }), 3);
  EXPECT_EQ(std::count_if(records.begin(), records.end(), [](const auto& r) { return r["result"] == "interrupted"; }),
            1);
  ExpectProvisioned(StopConsole(0), records[2]["serial"].toInteger());
}

// Every bad input is refused before any modem is touched: exit 2, the reason,
// no record and a console left as it was.
TEST_P(Provision, BadInputIsRefusedBeforeAnyModemIsTouched) {
  StartConsole(0);
  const std::string job = WriteJob();
  const std::string port = consoles_[0]->port();
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(Path(name)) << text;
    return Path(name);
  };
  const std::string used_up = write("used.toml", "plans = [\"a.yp1\"]\n[serial]\nfirst = 5\nlast = 5\n");
  // No store at --db yet: refused, and history makes none either.
  for (const auto& arguments : {std::vector<std::string>{"--port", port, "--yes", "provision", job},
                                std::vector<std::string>{"history"}}) {
    const RunResult missing = Run(arguments);
    EXPECT_EQ(missing.exit_status, 2) << missing.err;
    EXPECT_NE(missing.err.find("there is no record store at "), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("--new-records"), std::string::npos) << missing.err;
  }
  ASSERT_EQ(Run({"--port", port, "-q", "provision", "--new-records", used_up}).exit_status, 0);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port", port, "provision", write("k.toml", "image = \"main.mts\"\ncolour = 3\n")}, "unknown key \"colour\""},
      {{"--port", port, "provision", write("n.toml", "image = \"a.yp1\"\n")}, "not named as a firmware image"},
      {{"--port", port, "provision", used_up}, "every serial number from 5 to 5 has been given"},
      {{"--port", port, "provision", write("twice.toml", "plans = [\"a.yp1\", \"b.l7q\", \"a.yp1\"]\n")},
       "plans[2]: \"a.yp1\" is listed twice (also plans[0])"},
      {{"--port", port, "provision", write("jp.toml", "plans = [\"план日.yp1\"]\n")}, "\"日\" has no code page 1251 form"},
      {{"--port", port, "provision", write("zero.toml", "erase = true\n[serial]\nfirst = 0\nlast = 9\n")},
       "serial.first must be from 1 to 2147483647, not 0"},
      {{"--port", port, "--db", Path("no/such/folder.sqlite"), "provision", job}, "does not exist"},
      {{"--port", port, "provision", job}, "not confirmed: give --yes"},
  };
  for (const auto& [arguments, reason] : cases) {
    const RunResult run = Run(arguments);
    EXPECT_EQ(run.exit_status, 2) << reason;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
  }
  EXPECT_EQ(History().size(), 1u) << "only the run that used the range up";
  const sim::DeviceState state = StopConsole(0);
  EXPECT_TRUE(state.firmware.empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, Provision, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) { return std::string(station::BackendName(info.param)); });

}  // namespace
}  // namespace orvane::e2e
