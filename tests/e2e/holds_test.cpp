// What a unit holds after its run, end to end: a cable pulled mid-image, a
// second Ctrl-C mid-image, a clean run and a rework whose unit holds the
// image already. Each says the same in the record, in the tool's --json line
// (or its line while watching) and in `history --json` and its table; the first two leave no whole main
// program and the unit must come back.
#include <signal.h>

#include <QJsonDocument>
#include <filesystem>
#include <fstream>

#include "station/record_store.h"
#include "station/unit_holds.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/station/test_database.h"

namespace orvane::e2e {
namespace {

using namespace std::chrono_literals;
using station::MainProgram;

enum class Ending { kOnce, kWatchStoppedTwice };

struct HoldsRow {
  const char* name;
  Ending ending;
  std::vector<std::string> console;  // the simulator's options
  bool done_before = false;          // the unit was done with another job first
  int exit = 0;
  MainProgram main_program;
  station::ImageAction image;
  bool must_come_back;
};

void PrintTo(const HoldsRow& row, std::ostream* out) { *out << row.name; }

class UnitHoldsEnd : public EndToEnd, public ::testing::WithParamInterface<HoldsRow> {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    database_ = std::make_unique<station::TestDatabase>(station::Backend::kSqlite);
    ASSERT_TRUE(station::RecordStore::Open(database_->location(), station::StoreMode::kCreate));
    WriteFile("main.mts", Pattern(8000, 5));
    WriteFile("a.yp1", Pattern(300, 6));
  }
  void TearDown() override {
    consoles_.clear();
    EndToEnd::TearDown();
  }

  std::string Job(int tz) const {
    const std::string path = Path("job" + std::to_string(tz) + ".toml");
    std::ofstream(path) << "image = \"main.mts\"\nerase = true\nplans = [\"a.yp1\"]\n[constants]\ntz = " << tz
                        << "\n[serial]\nfirst = 900000\nlast = 900099\n";
    return path;
  }

  std::vector<std::string> Tool(std::vector<std::string> arguments) const {
    std::vector<std::string> argv{ORVANE_CLI_PROGRAM, "--db", database_->location()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
  }
  Environment ToolEnvironment() const { return {{"XDG_CONFIG_HOME", Path("config")}, {"ORVANE_PORT_DIR", Path("ports")}}; }

  // The unit's --json line.
  RunResult Once(const std::string& job) {
    return RunProgram(Tool({"--port", consoles_[0]->port(), "--yes", "--json", "provision", job}), ToolEnvironment(),
                      60s);
  }

  // Watching: the job starts writing the image, then Ctrl-C twice; a line
  // per event.
  RunResult StoppedTwice(const std::string& job) {
    Background tool(Tool({"--port", "all", "--yes", "provision", "--watch", job}), ToolEnvironment());
    EXPECT_TRUE(tool.WaitForLog("Идет прошивка основной программы...", 30s)) << tool.err();
    tool.ReadFor(300ms);
    tool.Signal(SIGINT);
    tool.ReadFor(200ms);
    tool.Signal(SIGINT);
    return tool.Wait(30s);
  }

  static QJsonObject LastJsonLine(const std::string& text) {
    const auto lines = Lines(text);
    return lines.empty() ? QJsonObject() : QJsonDocument::fromJson(QByteArray::fromStdString(lines.back())).object();
  }

  std::unique_ptr<station::TestDatabase> database_;
};

TEST_P(UnitHoldsEnd, RecordJsonLineAndHistorySayWhatTheUnitHolds) {
  const HoldsRow& row = GetParam();
  std::filesystem::create_directories(Path("ports"));
  std::vector<std::string> options = row.console;
  options.insert(options.end(), {"--link", Path("ports/COM5")});
  if (row.done_before) {
    StartConsole(0, {"--link", Path("ports/COM5")});
    ASSERT_EQ(Once(Job(60)).exit_status, 0);
    StopConsole(0);
  }
  StartConsole(0, options);
  const RunResult run = row.ending == Ending::kOnce ? Once(Job(180)) : StoppedTwice(Job(180));
  ASSERT_EQ(run.exit_status, row.exit) << run.out << run.err;

  auto store = station::RecordStore::Open(database_->location(), station::StoreMode::kExisting);
  ASSERT_TRUE(store) << store.error;
  const auto runs = (*store.value)->History({});
  ASSERT_TRUE(runs && !runs.value->empty());
  const station::RunRecord& record = runs.value->back();
  EXPECT_EQ(record.image_action, row.image) << record.reason;
  const auto holds = station::HoldsFromJson(record.holds_json);
  ASSERT_TRUE(holds) << record.holds_json;
  EXPECT_EQ(holds->main_program, row.main_program) << record.holds_json << " " << record.reason;
  EXPECT_EQ(station::MustComeBack(*holds), row.must_come_back) << record.holds_json;

  const QJsonObject kept = QJsonDocument::fromJson(QByteArray::fromStdString(record.holds_json)).object();
  if (row.ending == Ending::kOnce) {
    EXPECT_EQ(LastJsonLine(run.out)["holds"].toObject(), kept) << run.out;
  } else {
    EXPECT_NE(run.out.find("COM5: interrupted (exit 130): image: stopped by SIGINT; " + station::HoldsText(*holds) + "\n"),
              std::string::npos)
        << run.out;
  }
  const RunResult history = RunProgram(Tool({"--json", "history"}), ToolEnvironment(), 30s);
  EXPECT_EQ(LastJsonLine(history.out)["holds"].toObject(), kept) << history.out;
  const auto table = Lines(RunProgram(Tool({"history"}), ToolEnvironment(), 30s).out);
  ASSERT_FALSE(table.empty());
  EXPECT_TRUE(table.back().ends_with("  " + station::HoldsShortText(holds))) << table.back();
}

INSTANTIATE_TEST_SUITE_P(
    Ends, UnitHoldsEnd,
    ::testing::Values(
        HoldsRow{"CablePulledMidImage", Ending::kOnce, {"--hangup-after", "120"}, false, 1, MainProgram::kWrittenInPart,
                 station::ImageAction::kWritten, true},
        HoldsRow{"SecondCtrlCMidImage", Ending::kWatchStoppedTwice, {"--poll-interval-us", "20000"}, false, 130,
                 MainProgram::kWrittenInPart, station::ImageAction::kWritten, true},
        HoldsRow{"Done", Ending::kOnce, {}, false, 0, MainProgram::kWhole, station::ImageAction::kWritten, false},
        HoldsRow{"ReworkAlreadyHeld", Ending::kOnce, {}, true, 0, MainProgram::kWhole,
                 station::ImageAction::kAlreadyHeld, false}),
    [](const ::testing::TestParamInfo<HoldsRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvane::e2e
