#include "ui/station_charts.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace orvane::ui {
namespace {

using station::JobStep;
using station::RunRecord;
using station::RunResult;
using station::StepKind;

const QDate kDay(2026, 12, 9);
const std::string kStation = "Стенд 2";

// A record as the store keeps it: times in UTC, from a local day and time.
RunRecord Record(const std::string& station, QDate day, int hour, int minute, RunResult result,
              std::optional<std::int64_t> serial = {}, StepKind failed = StepKind::kNone) {
  RunRecord run;
  run.station = station;
  const QDateTime end(day, QTime(hour, minute), Qt::LocalTime);
  run.started = end.addSecs(-30).toUTC().toString(Qt::ISODateWithMs).toStdString();
  if (result != RunResult::kRunning) run.finished = end.toUTC().toString(Qt::ISODateWithMs).toStdString();
  run.result = result;
  run.serial = serial;
  run.failed_step = failed;
  return run;
}

TEST(StationChartsTest, TheDayIsCountedFromTheRecordsOfThisStation) {
  const std::vector<RunRecord> runs = {
      Record(kStation, kDay, 0, 0, RunResult::kDone, 100000),
      Record(kStation, kDay, 9, 10, RunResult::kDone, 100001),
      Record(kStation, kDay, 9, 50, RunResult::kDone, 100002),
      Record(kStation, kDay, 10, 5, RunResult::kFailed, {}, StepKind::kImage),
      Record(kStation, kDay, 10, 20, RunResult::kFailed, 100003, StepKind::kPlan),
      Record(kStation, kDay, 14, 0, RunResult::kFailed, {}, StepKind::kImage),
      Record(kStation, kDay, 11, 0, RunResult::kInterrupted, {}, StepKind::kErase),
      Record(kStation, kDay, 11, 30, RunResult::kRunning),
      Record(kStation, kDay, 23, 59, RunResult::kDone, 100003),  // given again after its failed run
      Record(kStation, kDay, 23, 58, RunResult::kDone, 200000),  // outside the range
      Record(kStation, kDay.addDays(1), 0, 0, RunResult::kDone, 100004),
      Record(kStation, kDay.addDays(-1), 23, 59, RunResult::kFailed, {}, StepKind::kCheck),
      Record("Стенд 1", kDay, 10, 0, RunResult::kFailed, {}, StepKind::kConstants),
  };
  const DayFigures figures = FiguresOfDay(runs, kStation, kDay, station::SerialRange{100000, 100999});
  std::array<int, 24> done{}, failed{};
  done[0] = 1;
  done[9] = 2;
  done[23] = 2;
  failed[10] = 2;
  failed[14] = 1;
  EXPECT_EQ(figures.done_per_hour, done);
  EXPECT_EQ(figures.failed_per_hour, failed);
  const std::vector<std::pair<JobStep, int>> by_step = {{JobStep::kImage, 2}, {JobStep::kPlan, 1}};
  EXPECT_EQ(figures.failures_by_step, by_step);
  EXPECT_EQ(figures.done, 5);
  EXPECT_EQ(figures.failed, 3);
  EXPECT_EQ(figures.interrupted, 1);
  EXPECT_EQ(figures.numbers_given, 4);
  EXPECT_EQ(figures.numbers_left, std::nullopt);  // the store's to say

  // Without a range no number is counted as given; another day is empty.
  EXPECT_EQ(FiguresOfDay(runs, kStation, kDay, std::nullopt).numbers_given, 0);
  EXPECT_EQ(FiguresOfDay(runs, kStation, kDay.addDays(5), std::nullopt), DayFigures{});
}

}  // namespace
}  // namespace orvane::ui
