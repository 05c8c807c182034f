#include "ui/station_tile.h"

#include <algorithm>

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QStringList>
#include <QVBoxLayout>

#include "ui/look.h"

namespace orvane::ui {
namespace {

using station::FailureCause;
using station::JobStep;
using station::LineState;

const QColor kIdleColour{0xEE, 0xEE, 0xEE};
const QColor kArrivedColour{0xCF, 0xE8, 0xFF};
const QColor kRunningColour{0x9C, 0xCB, 0xFF};
const QColor kDoneColour{0x8F, 0xE3, 0x8F};
const QColor kAlreadyDoneColour{0xC8, 0xF0, 0xC0};
const QColor kFailedColour{0xFF, 0x8A, 0x80};
const QColor kStoppedColour{0xFF, 0xC8, 0x70};
const QColor kWaitingColour{0xFF, 0xF0, 0x80};
const QColor kDarkText{0x10, 0x10, 0x10};

const QString kTakeOff = QStringLiteral("Снимите пульт");
const QString kBringBack = QStringLiteral("Пульт нужно вернуть");

QString NumberText(const station::PositionEvent& event) {
  return event.serial ? QStringLiteral("Номер %1").arg(*event.serial) : QString();
}

QString Joined(const QString& first, const QString& second) {
  if (first.isEmpty()) return second;
  if (second.isEmpty()) return first;
  return first + QStringLiteral(" · ") + second;
}

QString FactsOf(const station::PositionEvent& event) {
  QString facts;
  if (!event.adapter_serial.empty()) facts = QStringLiteral("Адаптер %1").arg(QString::fromStdString(event.adapter_serial));
  const bool ended = event.state == LineState::kDone || event.state == LineState::kFailed;
  if (ended && event.took.count() > 0) facts = Joined(facts, QStringLiteral("за ") + DurationText(event.took));
  return facts;
}

QString FaultWords(station::HoldsFault fault, int plan) {
  using station::HoldsFault;
  switch (fault) {
    case HoldsFault::kMainInPart: return QStringLiteral("Основная программа записана не полностью");
    case HoldsFault::kMainNotVerified: return QStringLiteral("Основная программа записана, но не проверена");
    case HoldsFault::kMainWithErrors: return QStringLiteral("Основная программа записана с ошибками");
    case HoldsFault::kFileInPart: return QStringLiteral("План %1 записан не полностью").arg(plan);
    case HoldsFault::kNotErased: return QStringLiteral("Файлы не стёрты");
    case HoldsFault::kPlansMissing: return QStringLiteral("Не записаны планы с %1-го").arg(plan);
    case HoldsFault::kDiffer: return QStringLiteral("Файлы или константы не как в задании");
    case HoldsFault::kNothingWritten: return QStringLiteral("Ничего не записано");
    case HoldsFault::kConstantsNotWritten: return QStringLiteral("Константы не записаны");
  }
  return QString();
}

// The reason, and on a line of its own what the run left on the unit.
QString WithHolds(const QString& reason, const station::PositionEvent& event) {
  if (!event.holds || !station::MustComeBack(*event.holds)) return reason;
  return reason + QStringLiteral("\n") + HoldsWords(*event.holds);
}

QString FailedAt(const station::PositionEvent& event) {
  if (event.step == JobStep::kNone) return QString();
  return QStringLiteral("Шаг «%1»: ").arg(StepName(event.step, event.plan));
}

TileLook Base(LineState state, const station::PositionEvent& event) {
  TileLook look;
  switch (state) {
    case LineState::kNoPort:
      look = {QStringLiteral("⚠"), QStringLiteral("Нет адаптера"), QStringLiteral("Вставьте адаптер в гнездо"), {}, {}, -1,
              kIdleColour, kDarkText, TileBorder::kDotted};
      break;
    case LineState::kNoModem:
      look = {QStringLiteral("○"), QStringLiteral("Нет пульта"), QStringLiteral("Подключите пульт"), {}, {}, -1,
              kIdleColour, kDarkText, TileBorder::kDotted};
      break;
    case LineState::kArrived:
      look = {QStringLiteral("◐"), QStringLiteral("Пульт подключён"), QStringLiteral("Чтение констант"), {}, {}, -1,
              kArrivedColour, kDarkText, TileBorder::kDashed};
      break;
    case LineState::kRunning:
      look = {QStringLiteral("▶"), QStringLiteral("Шаг %1 из %2").arg(event.step_index).arg(event.steps),
              StepName(event.step, event.plan), QStringLiteral("Не отключайте пульт"), {},
              std::clamp(event.percent, 0, 100), kRunningColour, kDarkText, TileBorder::kSolid};
      break;
    case LineState::kWaitingRecords:
      look = {QStringLiteral("⏸"), QStringLiteral("Ждём базу записей"), FailureText(FailureCause::kRecords, event.detail),
              QStringLiteral("Не отключайте пульт"), {}, -1, kWaitingColour, kDarkText, TileBorder::kDashDot};
      break;
    case LineState::kDone:
      look = {QStringLiteral("✔"), QStringLiteral("Готово"), NumberText(event), kTakeOff, {}, -1, kDoneColour,
              kDarkText, TileBorder::kDouble};
      break;
    case LineState::kAlreadyDone:
      look = {QStringLiteral("✔"), QStringLiteral("Уже готов"),
              Joined(NumberText(event), QStringLiteral("сделан %1").arg(LocalTimeText(event.done_at))), kTakeOff, {}, -1,
              kAlreadyDoneColour, kDarkText, TileBorder::kDouble};
      break;
    case LineState::kFailed:
      look = {QStringLiteral("✖"), QStringLiteral("Ошибка"),
              WithHolds(FailedAt(event) + FailureText(event.cause, event.detail), event),
              kBringBack, {}, -1, kFailedColour, kDarkText, TileBorder::kDashed};
      break;
    case LineState::kStopped:
      look = {QStringLiteral("■"), QStringLiteral("Остановлен"),
              WithHolds(FailedAt(event) + QStringLiteral("работа прервана"), event),
              kBringBack, {}, -1, kStoppedColour, kDarkText, TileBorder::kDashDot};
      break;
  }
  return look;
}

Qt::PenStyle PenOf(TileBorder border) {
  switch (border) {
    case TileBorder::kDotted: return Qt::DotLine;
    case TileBorder::kDashed: return Qt::DashLine;
    case TileBorder::kDashDot: return Qt::DashDotLine;
    case TileBorder::kSolid:
    case TileBorder::kDouble: return Qt::SolidLine;
  }
  return Qt::SolidLine;
}

}  // namespace

QString StepName(JobStep step, int plan) {
  switch (step) {
    case JobStep::kNone: return QString();
    case JobStep::kConnect: return QStringLiteral("Подключение");
    case JobStep::kIdentify: return QStringLiteral("Чтение констант");
    case JobStep::kImage: return QStringLiteral("Прошивка");
    case JobStep::kErase: return QStringLiteral("Стирание файлов");
    case JobStep::kPlan: return QStringLiteral("План %1").arg(plan);
    case JobStep::kConstants: return QStringLiteral("Запись констант");
    case JobStep::kCheck: return QStringLiteral("Проверка");
  }
  return QString();
}

QString FailureText(FailureCause cause, const std::string& detail) {
  QString reason;
  switch (cause) {
    case FailureCause::kNone: break;
    case FailureCause::kLinkCleared: reason = QStringLiteral("Связь прервана"); break;
    case FailureCause::kModemLeft: reason = QStringLiteral("Пульт отключили во время работы"); break;
    case FailureCause::kPortLost: reason = QStringLiteral("Адаптер отключили во время работы"); break;
    case FailureCause::kRefused: reason = QStringLiteral("Пульт не может принять задание"); break;
    case FailureCause::kCheckFailed: reason = QStringLiteral("Пульт не показал всё задание"); break;
    case FailureCause::kForeignSerial: reason = QStringLiteral("Номер пульта выдан другой базой записей"); break;
    case FailureCause::kRecords: reason = QStringLiteral("База записей недоступна"); break;
    case FailureCause::kStopped: reason = QStringLiteral("Остановлено оператором"); break;
  }
  const QString words = QString::fromStdString(detail);
  if (words.isEmpty()) return reason;
  if (reason.isEmpty()) return words;
  return reason + QStringLiteral(": ") + words;
}

QString HoldsWords(const station::UnitHolds& holds) {
  if (!station::MustComeBack(holds)) return QStringLiteral("Всё задание записано");
  QStringList faults;
  for (station::HoldsFault fault : station::FaultsOf(holds)) faults << FaultWords(fault, holds.plan);
  return faults.join(QStringLiteral("; "));
}

QString HoldsShortWords(const std::optional<station::UnitHolds>& holds) {
  if (!holds) return QStringLiteral("—");
  if (!station::MustComeBack(*holds)) return QStringLiteral("Всё задание");
  return FaultWords(station::FaultsOf(*holds).front(), holds->plan);
}

QString DurationText(std::chrono::milliseconds took) {
  const long long tenths = took.count() / 100;
  if (tenths < 600) return QStringLiteral("%1,%2 с").arg(tenths / 10).arg(tenths % 10);
  const long long seconds = took.count() / 1000;
  return QStringLiteral("%1 мин %2 с").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
}

QString LocalTimeText(const std::string& utc_iso) {
  const QDateTime time = QDateTime::fromString(QString::fromStdString(utc_iso), Qt::ISODateWithMs);
  if (!time.isValid()) return QString::fromStdString(utc_iso);
  return time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

TileLook LookOf(const station::PositionEvent& event) {
  TileLook look = Base(event.state, event);
  look.facts = FactsOf(event);
  return look;
}

StationTile::StationTile(const QString& name, const QString& socket, QWidget* parent)
    : QFrame(parent),
      name_(WrappedLabel(20, true, this)),
      socket_(WrappedLabel(11, false, this)),
      symbol_(WrappedLabel(40, true, this)),
      headline_(WrappedLabel(30, true, this)),
      detail_(WrappedLabel(16, false, this)),
      progress_(new QProgressBar(this)),
      action_(WrappedLabel(22, true, this)),
      facts_(WrappedLabel(12, false, this)) {
  setAutoFillBackground(true);
  setMinimumSize(260, 220);
  name_->setText(name);
  socket_->setText(socket);
  socket_->setVisible(!socket.isEmpty());
  progress_->setRange(0, 100);
  progress_->setMinimumHeight(22);
  auto* top = new QHBoxLayout;
  auto* names = new QVBoxLayout;
  names->addWidget(name_);
  names->addWidget(socket_);
  top->addLayout(names, 1);
  top->addWidget(symbol_, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 12, 14, 12);
  layout->addLayout(top);
  layout->addWidget(headline_);
  layout->addWidget(detail_);
  layout->addWidget(progress_);
  layout->addStretch(1);
  layout->addWidget(action_);
  layout->addWidget(facts_);
  Show(station::PositionEvent{});
}

QString StationTile::Name() const { return name_->text(); }

void StationTile::Show(const station::PositionEvent& event) {
  look_ = LookOf(event);
  Render();
}

void StationTile::Render() {
  QPalette colours = palette();
  colours.setColor(QPalette::Window, look_.background);
  colours.setColor(QPalette::WindowText, look_.text);
  setPalette(colours);
  symbol_->setText(look_.symbol);
  headline_->setText(look_.headline);
  detail_->setText(look_.detail);
  detail_->setVisible(!look_.detail.isEmpty());
  progress_->setVisible(look_.percent >= 0);
  progress_->setValue(std::max(look_.percent, 0));
  action_->setText(look_.action);
  action_->setVisible(!look_.action.isEmpty());
  facts_->setText(look_.facts);
  update();
}

void StationTile::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  QPen pen(look_.text, 4, PenOf(look_.border));
  painter.setPen(pen);
  painter.drawRect(rect().adjusted(2, 2, -3, -3));
  if (look_.border == TileBorder::kDouble) painter.drawRect(rect().adjusted(9, 9, -10, -10));
}

}  // namespace orvane::ui
