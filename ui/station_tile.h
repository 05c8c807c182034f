// One position of the bench as the operator reads it from a metre away: the
// last event of its line in large Russian words, a colour, and a symbol and
// a border pattern so that no state is told by colour alone.
#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <optional>

#include "station/events.h"

class QLabel;
class QProgressBar;

namespace orvane::ui {

// How a state is drawn besides its colour.
enum class TileBorder { kDotted, kDashed, kSolid, kDouble, kDashDot };

struct TileLook {
  QString symbol;    // a sign that names the state without colour
  QString headline;  // the state in one or three words
  QString detail;    // the step, the number given, the reason
  QString action;    // what the operator must do: take the unit off, bring it back
  QString facts;     // the adapter's serial number, the time the job took
  int percent = -1;  // the step's progress; -1 hides the bar
  QColor background;
  QColor text;
  TileBorder border = TileBorder::kSolid;
};

// The words and colours of a position's line state.
TileLook LookOf(const station::PositionEvent& event);

// The Russian name of a job step ("Прошивка", "План 2", ...).
QString StepName(station::JobStep step, int plan);
// The Russian reason of a failure; the engine's own words follow after a colon.
QString FailureText(station::FailureCause cause, const std::string& detail);
// What a run left on the unit, in Russian: each thing not as the job wants
// it ("Основная программа записана не полностью"), or that the whole job is.
QString HoldsWords(const station::UnitHolds& holds);
// The first of those, or "—" when the record does not say.
QString HoldsShortWords(const std::optional<station::UnitHolds>& holds);
// "12,3 с", "1 мин 05 с".
QString DurationText(std::chrono::milliseconds took);
// A UTC ISO 8601 time as the local "09.12.2026 14:49".
QString LocalTimeText(const std::string& utc_iso);

class StationTile : public QFrame {
  Q_OBJECT

 public:
  StationTile(const QString& name, const QString& socket, QWidget* parent = nullptr);

  void Show(const station::PositionEvent& event);
  const TileLook& Look() const { return look_; }
  QString Name() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Render();

  TileLook look_;
  QLabel* name_;
  QLabel* socket_;
  QLabel* symbol_;
  QLabel* headline_;
  QLabel* detail_;
  QProgressBar* progress_;
  QLabel* action_;
  QLabel* facts_;
};

}  // namespace orvane::ui
