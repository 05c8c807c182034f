// The station's day in pictures: units done and failed per hour, failures
// by step, the numbers of the range given today and left, and the running
// session's totals. Drawn with QPainter; the figures come from a function
// over the records, which holds all the logic.
#pragma once

#include <QDate>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/events.h"
#include "station/job.h"
#include "station/record_store.h"
#include "ui/station_session.h"

namespace orvane::ui {

struct DayFigures {
  std::array<int, 24> done_per_hour{};    // by the local hour the run ended
  std::array<int, 24> failed_per_hour{};
  // Each step at which a run failed, with how many, in the job's order.
  std::vector<std::pair<station::JobStep, int>> failures_by_step;
  int done = 0, failed = 0, interrupted = 0;
  int numbers_given = 0;  // the range's numbers that done runs got today
  std::optional<std::int64_t> numbers_left;
  bool operator==(const DayFigures&) const = default;
};

// The figures of one station on one local day; runs still running, of
// another station or of another day are left out.
DayFigures FiguresOfDay(const std::vector<station::RunRecord>& runs, const std::string& station, QDate day,
                        std::optional<station::SerialRange> range);

class StationCharts : public QWidget {
  Q_OBJECT

 public:
  explicit StationCharts(QWidget* parent = nullptr);

  void SetDay(const DayFigures& figures);
  void SetSession(const SessionTotals& totals);
  const DayFigures& Day() const { return day_; }

  QSize sizeHint() const override { return {900, 260}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PaintHours(QPainter& painter, QRect area) const;
  void PaintSteps(QPainter& painter, QRect area) const;
  void PaintFigures(QPainter& painter, QRect area) const;

  DayFigures day_;
  SessionTotals session_;
};

}  // namespace orvane::ui
