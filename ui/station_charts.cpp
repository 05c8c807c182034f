#include "ui/station_charts.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <map>
#include <set>

#include "ui/look.h"
#include "ui/station_record_facts.h"
#include "ui/station_tile.h"

namespace orvane::ui {
namespace {

using station::JobStep;
using station::RunRecord;
using station::RunResult;

const QColor kDoneBar{0x2E, 0x9E, 0x3E};
const QColor kFailedBar{0xD0, 0x30, 0x20};
const QColor kAxis{0x40, 0x40, 0x40};

// The local time a run ended, or none while it runs or when unreadable.
std::optional<QDateTime> LocalEnd(const RunRecord& run) {
  if (run.finished.empty()) return std::nullopt;
  const QDateTime end = QDateTime::fromString(QString::fromStdString(run.finished), Qt::ISODateWithMs);
  if (!end.isValid()) return std::nullopt;
  return end.toLocalTime();
}

QFont Font(int pixels, bool bold = false) {
  QFont font = WindowFont(bold);
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

DayFigures FiguresOfDay(const std::vector<RunRecord>& runs, const std::string& station, QDate day,
                        std::optional<station::SerialRange> range) {
  DayFigures figures;
  std::map<JobStep, int> by_step;
  std::set<std::int64_t> given;
  for (const RunRecord& run : runs) {
    const RecordFacts facts = FactsOf(run);
    if (facts.station != station || run.result == RunResult::kRunning) continue;
    const std::optional<QDateTime> end = LocalEnd(run);
    if (!end || end->date() != day) continue;
    const int hour = end->time().hour();
    switch (run.result) {
      case RunResult::kDone:
        ++figures.done;
        ++figures.done_per_hour[hour];
        if (run.serial && range && range->Contains(*run.serial)) given.insert(*run.serial);
        break;
      case RunResult::kFailed:
      case RunResult::kRefused:
        ++figures.failed;
        ++figures.failed_per_hour[hour];
        ++by_step[facts.failed_step];
        break;
      case RunResult::kInterrupted:
      case RunResult::kAbandoned: ++figures.interrupted; break;
      case RunResult::kRunning: break;
    }
  }
  figures.failures_by_step.assign(by_step.begin(), by_step.end());
  figures.numbers_given = static_cast<int>(given.size());
  return figures;
}

StationCharts::StationCharts(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(220);
  setMaximumHeight(300);
  setAutoFillBackground(true);
  FillBackground(this, Qt::white);
}

void StationCharts::SetDay(const DayFigures& figures) {
  day_ = figures;
  update();
}

void StationCharts::SetSession(const SessionTotals& totals) {
  session_ = totals;
  update();
}

void StationCharts::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect area = rect().adjusted(8, 8, -8, -8);
  const int hours_width = area.width() * 5 / 10;
  const int steps_width = area.width() * 25 / 100;
  PaintHours(painter, QRect(area.left(), area.top(), hours_width, area.height()));
  PaintSteps(painter, QRect(area.left() + hours_width + 12, area.top(), steps_width - 12, area.height()));
  PaintFigures(painter, QRect(area.left() + hours_width + steps_width + 12, area.top(),
                              area.width() - hours_width - steps_width - 12, area.height()));
}

// Bars per hour: done in green, failed in red hatched beside them.
void StationCharts::PaintHours(QPainter& painter, QRect area) const {
  painter.setPen(kAxis);
  painter.setFont(Font(14, true));
  painter.drawText(area.left(), area.top() + 14, QStringLiteral("Сегодня по часам: готово ▮ и ошибки ▨"));
  const int most = std::max({1, *std::max_element(day_.done_per_hour.begin(), day_.done_per_hour.end()),
                             *std::max_element(day_.failed_per_hour.begin(), day_.failed_per_hour.end())});
  const QRect plot = area.adjusted(0, 28, 0, -18);
  const double slot = plot.width() / 24.0;
  const int bar = std::max(2, static_cast<int>(slot / 2) - 1);
  painter.setFont(Font(10));
  for (int hour = 0; hour < 24; ++hour) {
    const int x = plot.left() + static_cast<int>(hour * slot);
    const int done = plot.height() * day_.done_per_hour[hour] / most;
    const int failed = plot.height() * day_.failed_per_hour[hour] / most;
    painter.fillRect(x, plot.bottom() - done, bar, done, kDoneBar);
    painter.fillRect(x + bar, plot.bottom() - failed, bar, failed, QBrush(kFailedBar, Qt::BDiagPattern));
    painter.setPen(kFailedBar);
    if (failed > 0) painter.drawRect(x + bar, plot.bottom() - failed, bar, failed);
    painter.setPen(kAxis);
    if (hour % 3 == 0) painter.drawText(x, area.bottom(), QString::number(hour));
  }
  painter.drawLine(plot.bottomLeft(), plot.bottomRight());
  painter.drawText(plot.right() - 40, plot.top() + 10, QStringLiteral("макс. %1").arg(most));
}

void StationCharts::PaintSteps(QPainter& painter, QRect area) const {
  painter.setPen(kAxis);
  painter.setFont(Font(14, true));
  painter.drawText(area.left(), area.top() + 14, QStringLiteral("Ошибки по шагам"));
  painter.setFont(Font(12));
  if (day_.failures_by_step.empty()) {
    painter.drawText(area.left(), area.top() + 40, QStringLiteral("нет"));
    return;
  }
  int most = 1;
  for (const auto& [step, count] : day_.failures_by_step) most = std::max(most, count);
  int y = area.top() + 28;
  const int label_width = 110;
  for (const auto& [step, count] : day_.failures_by_step) {
    const QString name = step == JobStep::kPlan ? QStringLiteral("Планы") : StepName(step, 0);
    painter.setPen(kAxis);
    painter.drawText(QRect(area.left(), y, label_width, 18), Qt::AlignLeft | Qt::AlignVCenter,
                     name.isEmpty() ? QStringLiteral("Другое") : name);
    const int length = (area.width() - label_width - 30) * count / most;
    painter.fillRect(area.left() + label_width, y + 2, length, 14, QBrush(kFailedBar, Qt::BDiagPattern));
    painter.setPen(kFailedBar);
    painter.drawRect(area.left() + label_width, y + 2, length, 14);
    painter.setPen(kAxis);
    painter.drawText(area.left() + label_width + length + 4, y + 14, QString::number(count));
    y += 22;
  }
}

void StationCharts::PaintFigures(QPainter& painter, QRect area) const {
  painter.setPen(kAxis);
  painter.setFont(Font(14, true));
  painter.drawText(area.left(), area.top() + 14, QStringLiteral("Сегодня"));
  painter.setFont(Font(13));
  const QString left = day_.numbers_left ? QString::number(*day_.numbers_left) : QStringLiteral("—");
  const QStringList day_lines = {
      QStringLiteral("Готово: %1").arg(day_.done), QStringLiteral("Ошибки: %1").arg(day_.failed),
      QStringLiteral("Прервано: %1").arg(day_.interrupted), QStringLiteral("Номеров выдано: %1").arg(day_.numbers_given),
      QStringLiteral("Номеров осталось: %1").arg(left)};
  int y = area.top() + 34;
  for (const QString& line : day_lines) {
    painter.drawText(area.left(), y, line);
    y += 18;
  }
  painter.setFont(Font(14, true));
  painter.drawText(area.left(), y + 8, QStringLiteral("Эта сессия"));
  painter.setFont(Font(13));
  y += 28;
  painter.drawText(area.left(), y, QStringLiteral("Готово %1, ошибки %2, прервано %3")
                                       .arg(session_.done).arg(session_.failed).arg(session_.interrupted));
  if (session_.first_serial) {
    painter.drawText(area.left(), y + 18,
                     QStringLiteral("Номера %1 – %2").arg(*session_.first_serial).arg(*session_.last_serial));
  }
}

}  // namespace orvane::ui
