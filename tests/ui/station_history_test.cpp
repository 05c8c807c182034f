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
    auto opened = station::RecordStore::Open(folder.filePath(QStringLiteral("station.sqlite")).toStdString());
    ASSERT_TRUE(opened) << opened.error;
    store = std::move(*opened.value);
    Run("COM5", RunResult::kDone, true);
    Run("COM6", RunResult::kFailed, false);
    Run("COM7", RunResult::kDone, true);
    Run("COM8", RunResult::kRunning, false);
    history.SetStore(store.get());
  }

  void Run(const std::string& port, RunResult end, bool numbered) {
    station::RunStart start;
    start.port = port;
    start.version = "1.0";
    const auto run = store->StartRun(start);
    ASSERT_TRUE(run) << run.error;
    if (numbered) ASSERT_TRUE(store->TakeSerial(*run.value, {100000, 100099}, std::nullopt));
    if (end != RunResult::kRunning) ASSERT_EQ(store->FinishRun(*run.value, end, end == RunResult::kFailed ? "image: no answer" : ""), std::nullopt);
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
      {"a serial number", {QStringLiteral(" 100001 ")}, {"COM7"}, nullptr},
      {"a number never given", {QStringLiteral("5")}, {}, nullptr},
      {"from today", {{}, today}, {"COM5", "COM6", "COM7", "COM8"}, nullptr},
      {"from tomorrow", {{}, today.addDays(1)}, {}, nullptr},
      {"a serial that is not a number", {QStringLiteral("10O001")}, {}, "Номер пульта должен быть числом"},
      {"days the wrong way round", {{}, today, today.addDays(-1)}, {}, "День «по» раньше дня «с»"},
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
  history.SetQuery({QStringLiteral("100000")});
  ASSERT_EQ(history.Refresh(), std::nullopt);
  const QString path = folder.filePath(QStringLiteral("out.csv"));
  ASSERT_EQ(history.ExportCsv(path), std::nullopt);
  QFile csv(path);
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().toStdString(), station::FormatHistoryCsv(history.Runs()));
  EXPECT_EQ(history.Runs().size(), 1u);
  EXPECT_TRUE(history.ExportCsv(folder.filePath(QStringLiteral("no/such/folder.csv"))).has_value());
}

}  // namespace
}  // namespace orvane::ui
