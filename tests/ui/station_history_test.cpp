#include "ui/station_history.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane::ui {
namespace {

using station::RunResult;

// A store of a few runs: COM5 done with 100000, COM6 failed, COM7 done with
// 100001, COM8 still running.
class StationHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    auto opened = station::RecordStore::Open(folder.filePath(QStringLiteral("station.sqlite")).toStdString(),
                                             station::StoreMode::kCreate);
    ASSERT_TRUE(opened) << opened.error;
    store = std::move(*opened.value);
    QFile trace(folder.filePath(QStringLiteral("COM5.trace")));
    ASSERT_TRUE(trace.open(QIODevice::WriteOnly));
    trace.write("12 > 0x0B dir\n");
    trace.close();
    Run("COM5", RunResult::kDone, true, "Стенд 2", trace.fileName().toStdString());
    Run("COM6", RunResult::kFailed, false, "Стенд 1", "/srv/stand1/traces/COM6.trace");
    Run("COM7", RunResult::kDone, true, "Стенд 2", "");
    Run("COM8", RunResult::kRunning, false, "Стенд 2", "");
    history.SetStore(store.get());
  }

  void Run(const std::string& port, RunResult end, bool numbered, const std::string& station,
           const std::string& trace) {
    station::RunStart start;
    start.port = port;
    start.version = "1.0";
    start.station = station;
    start.position = "Место " + port.substr(3);
    start.trace = trace;
    const auto run = store->StartRun(start);
    ASSERT_TRUE(run) << run.error;
    if (numbered) {
      ASSERT_TRUE(store->TakeSerial(*run.value, {100000, 100099}, std::nullopt));
    }
    if (end == RunResult::kRunning) return;
    station::RunEnd run_end{end, end == RunResult::kFailed ? "image: no answer" : ""};
    if (end == RunResult::kFailed) run_end.failed_step = station::StepKind::kImage;
    run_end.holds_json = station::HoldsToJson(
        end == RunResult::kFailed ? station::UnitHolds{station::MainProgram::kWrittenInPart, station::UnitFiles::kUntouched}
                                  : station::UnitHolds{station::MainProgram::kWhole, station::UnitFiles::kAsJobWants, 0,
                                                       true, true, true});
    ASSERT_EQ(store->FinishRun(*run.value, run_end), std::nullopt);
  }

  QStringList Column(int column) const {
    QStringList cells;
    for (int row = 0; row < history.Table()->rowCount(); ++row) cells << history.Table()->item(row, column)->text();
    return cells;
  }

  QTemporaryDir folder;
  std::unique_ptr<station::RecordStore> store;
  StationHistory history;
};

TEST_F(StationHistoryTest, FilterChoosesTheRecordsShown) {
  const QDate today = QDate::currentDate();
  const struct {
    const char* what;
    HistoryQuery query;
    QStringList ports;  // empty with an error
    const char* error;
  } cases[] = {
      {"everything", {}, {"COM5", "COM6", "COM7", "COM8"}, nullptr},
      {"a serial number", {.serial = QStringLiteral(" 100001 ")}, {"COM7"}, nullptr},
      {"a number never given", {.serial = QStringLiteral("5")}, {}, nullptr},
      {"from today", {.from = today}, {"COM5", "COM6", "COM7", "COM8"}, nullptr},
      {"from tomorrow", {.from = today.addDays(1)}, {}, nullptr},
      {"to today", {.to = today}, {"COM5", "COM6", "COM7", "COM8"}, nullptr},
      {"to yesterday", {.to = today.addDays(-1)}, {}, nullptr},
      {"a station", {.station = QStringLiteral("Стенд 1")}, {"COM6"}, nullptr},
      {"a position", {.position = QStringLiteral(" Место 7 ")}, {"COM7"}, nullptr},
      {"a result", {.result = RunResult::kDone}, {"COM5", "COM7"}, nullptr},
      {"a station and a result", {.station = QStringLiteral("Стенд 2"), .result = RunResult::kRunning}, {"COM8"},
       nullptr},
      {"a serial that is not a number", {.serial = QStringLiteral("10O001")}, {}, "Номер пульта должен быть числом"},
      {"days the wrong way round", {.from = today, .to = today.addDays(-1)}, {}, "День «по» раньше дня «с»"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    history.SetQuery(c.query);
    const auto error = history.Refresh();
    EXPECT_EQ(error.has_value(), c.error != nullptr);
    if (c.error) {
      EXPECT_EQ(*error, c.error);
      EXPECT_TRUE(history.Status()->text().contains(QString::fromUtf8(c.error)));
    }
    EXPECT_EQ(Column(5), c.ports);
  }
}

TEST_F(StationHistoryTest, RowsSayTheResultInWordsAndExportIsTheToolsCsv) {
  ASSERT_EQ(history.Refresh(), std::nullopt);
  EXPECT_EQ(Column(8), QStringList({"Готово", "Ошибка", "Готово", "Идёт"}));
  EXPECT_EQ(Column(7), QStringList({"100000", "", "100001", ""}));
  EXPECT_EQ(Column(3), QStringList({"Стенд 2", "Стенд 1", "Стенд 2", "Стенд 2"}));
  EXPECT_EQ(Column(4), QStringList({"Место 5", "Место 6", "Место 7", "Место 8"}));
  EXPECT_EQ(Column(9), QStringList({"", "Прошивка", "", ""}));
  EXPECT_EQ(Column(11),
            QStringList({"Всё задание", "Основная программа записана не полностью", "Всё задание", "—"}));
  history.SetQuery({.serial = QStringLiteral("100000")});
  ASSERT_EQ(history.Refresh(), std::nullopt);
  const QString path = folder.filePath(QStringLiteral("out.csv"));
  ASSERT_EQ(history.ExportCsv(path), std::nullopt);
  QFile csv(path);
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().toStdString(), station::FormatHistoryCsv(history.Runs()));
  EXPECT_EQ(history.Runs().size(), 1u);
  EXPECT_TRUE(history.ExportCsv(folder.filePath(QStringLiteral("no/such/folder.csv"))).has_value());
}

// A trace on this machine is shown; one kept elsewhere says where it is.
TEST_F(StationHistoryTest, TraceOpensFromItsRow) {
  ASSERT_EQ(history.Refresh(), std::nullopt);
  history.OpenTrace(0);
  EXPECT_EQ(history.TraceText()->toPlainText(), "12 > 0x0B dir\n");
  EXPECT_TRUE(history.TraceText()->isReadOnly());
  history.OpenTrace(1);
  const QString elsewhere = history.TraceText()->toPlainText();
  EXPECT_TRUE(elsewhere.contains("/srv/stand1/traces/COM6.trace")) << elsewhere.toStdString();
  EXPECT_TRUE(elsewhere.contains("Стенд 1")) << elsewhere.toStdString();
  history.OpenTrace(2);
  EXPECT_EQ(history.TraceText()->toPlainText(), "Для этой записи журнал обмена не вёлся.");
}

}  // namespace
}  // namespace orvane::ui
