#include "ui/station_window.h"

#include <QCloseEvent>
#include <QDate>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <variant>

#include "device/session.h"
#include "station/job_check.h"
#include "ui/dialogs.h"
#include "ui/look.h"
#include "ui/station_charts.h"
#include "ui/station_history.h"
#include "ui/station_tile.h"

namespace orvane::ui {
namespace {

const QString kCaption = QStringLiteral("Станция");
const QString kStopRunningQuestion =
    QStringLiteral("Прервать работу на всех местах? Пульты, на которых идёт работа, нужно будет вернуть.");

QString Text(const std::string& text) { return QString::fromStdString(text); }
QString FileName(const std::string& path) { return QFileInfo(Text(path)).fileName(); }

QString ConstantsText(const station::Constants& constants) {
  QStringList parts;
  if (constants.identifier) parts << QStringLiteral("имя «%1»").arg(Text(*constants.identifier));
  if (constants.time_zone) parts << QStringLiteral("пояс %1").arg(*constants.time_zone);
  if (constants.summer_index) parts << QStringLiteral("летнее время %1").arg(*constants.summer_index);
  if (constants.local_address) parts << QStringLiteral("местный адрес %1").arg(*constants.local_address);
  if (constants.global_address) parts << QStringLiteral("общий адрес %1").arg(*constants.global_address);
  return parts.join(QStringLiteral(", "));
}

QString Quoted(const QString& what, const std::string& path) {
  return QStringLiteral("%1 «%2»").arg(what, FileName(path));
}

// The file named after the status bar's text, inside its brackets.
QString After(const QString& file) { return file.left(1).toLower() + file.mid(1); }

QString WhyNotRead(int error) {
  if (error == ENOENT) return QStringLiteral("такого файла нет");
  if (error == EACCES) return QStringLiteral("нет прав на чтение");
  return QString::fromLocal8Bit(std::strerror(error));
}

QString Worded(const QString& file, const device::FileLook& look) {
  if (look.access == device::FileAccess::kNotRegular) return QStringLiteral("%1 — не обычный файл").arg(file);
  return QStringLiteral("%1: не удаётся прочитать (%2)").arg(file, WhyNotRead(look.error));
}

QString Worded(const QString& file, const device::ImageVerdict& verdict) {
  switch (verdict.rule) {
    case device::ImageRule::kTooBig:
      return QStringLiteral("%1 (%2: размер %3 байт, самая большая прошивка — %4 байт)")
          .arg(QString::fromUtf8(device::kStatusFirmwareTooBig), After(file))
          .arg(verdict.size)
          .arg(verdict.limit);
    case device::ImageRule::kEmpty:
      return QStringLiteral("%1 пуста: после такой прошивки в пульте не останется основной программы").arg(file);
    case device::ImageRule::kNotNamed: return QStringLiteral("%1 — не файл прошивки (*.mts)").arg(file);
    case device::ImageRule::kAccepted: break;
  }
  return file;
}

QString Worded(const QString& file, const device::PlanVerdict& verdict) {
  switch (verdict.rule) {
    case device::PlanRule::kTooBig:
      return QStringLiteral("%1 (%2: размер %3 байт, отправить можно не больше %4)")
          .arg(QString::fromUtf8(device::kStatusFileTooBig), After(file))
          .arg(verdict.size)
          .arg(verdict.limit);
    case device::PlanRule::kNameMalformed: return QStringLiteral("%1: имя не в кодировке UTF-8").arg(file);
    case device::PlanRule::kNameNotCp1251:
      return QStringLiteral("%1: символа «%2» нет в кодовой странице 1251, пульт не сохранит имя")
          .arg(file, Text(verdict.character));
    case device::PlanRule::kRingTooShort:
      return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(device::kStatusPlanTooShort), After(file));
    case device::PlanRule::kNameTooLong:
      return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(device::kStatusNameTooLong), After(file));
    case device::PlanRule::kNoRoom:
      return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(device::kStatusFileTooBig), After(file));
    case device::PlanRule::kAccepted: break;
  }
  return file;
}

// The tool's file checks on a job (provision refuses the same), in the
// window's words.
QString Worded(const station::JobFileRefusal& refusal) {
  const bool image = refusal.part == station::JobFileRefusal::Part::kImage;
  const QString file = Quoted(image ? QStringLiteral("Прошивка") : QStringLiteral("План"), refusal.path);
  return std::visit([&file](const auto& why) { return Worded(file, why); }, refusal.why);
}

int ColumnsFor(std::size_t tiles) {
  if (tiles <= 4) return static_cast<int>(std::max<std::size_t>(tiles, 1));
  if (tiles <= 16) return 4;
  return static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tiles))));
}

}  // namespace

QStringList JobSummary(const station::Job& job, std::optional<std::int64_t> numbers_left) {
  QStringList lines;
  lines << QStringLiteral("Прошивка: %1").arg(job.image ? FileName(*job.image) : QStringLiteral("нет"));
  if (job.erase) lines << QStringLiteral("Стереть все файлы");
  QStringList plans;
  for (const std::string& plan : job.plans) plans << FileName(plan);
  lines << QStringLiteral("Планы: %1").arg(plans.isEmpty() ? QStringLiteral("нет") : plans.join(QStringLiteral(", ")));
  const QString constants = ConstantsText(job.constants);
  lines << QStringLiteral("Константы: %1").arg(constants.isEmpty() ? QStringLiteral("как есть") : constants);
  if (job.serial) {
    QString range = QStringLiteral("Номера: %1 – %2").arg(job.serial->first).arg(job.serial->last);
    if (numbers_left) range += QStringLiteral(", осталось %1").arg(*numbers_left);
    lines << range;
  }
  return lines;
}

StationWindow::StationWindow(StationSession& session, Dialogs& dialogs, StationWindowSetup setup, QWidget* parent)
    : QMainWindow(parent),
      session_(session),
      dialogs_(dialogs),
      setup_(std::move(setup)),
      job_name_(WrappedLabel(18, true, this)),
      summary_(WrappedLabel(13, false, this)),
      refusal_(WrappedLabel(16, true, this)),
      session_line_(WrappedLabel(16, true, this)),
      choose_(new QPushButton(QStringLiteral("Задание…"), this)),
      start_(new QPushButton(QStringLiteral("Начать"), this)),
      stop_(new QPushButton(QStringLiteral("Остановить"), this)),
      grid_(new QGridLayout),
      tabs_(new QTabWidget(this)),
      charts_(new StationCharts(this)),
      history_(new StationHistory(this)) {
  setWindowTitle(QStringLiteral("%1 «%2» — записи: %3")
                     .arg(kCaption, Text(setup_.station), Text(setup_.store_location)));
  refusal_->setStyleSheet(QStringLiteral("QLabel { background: #FFD0C8; color: #600000; border: 3px dashed #A00000; "
                                         "padding: 6px; }"));
  refusal_->hide();
  for (QPushButton* button : {choose_, start_, stop_}) {
    QFont font = WindowFont(true);
    font.setPixelSize(18);
    button->setFont(font);
    button->setMinimumHeight(44);
  }
  auto* top = new QHBoxLayout;
  auto* job = new QVBoxLayout;
  job->addWidget(job_name_);
  job->addWidget(summary_);
  top->addLayout(job, 1);
  top->addWidget(choose_);
  top->addWidget(start_);
  top->addWidget(stop_);

  auto* bench = new QWidget(this);
  auto* bench_layout = new QVBoxLayout(bench);
  bench_layout->addLayout(grid_, 1);
  bench_layout->addWidget(charts_);
  tabs_->addTab(bench, QStringLiteral("Места"));
  tabs_->addTab(history_, QStringLiteral("Записи"));

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->addLayout(top);
  layout->addWidget(refusal_);
  layout->addWidget(session_line_);
  layout->addWidget(tabs_, 1);
  setCentralWidget(central);
  FillBackground(central, kWindowColour);

  BuildTiles();
  history_->SetStore(setup_.store);
  connect(choose_, &QPushButton::clicked, this, [this] { ChooseJobPressed(); });
  connect(start_, &QPushButton::clicked, this, [this] { StartPressed(); });
  connect(stop_, &QPushButton::clicked, this, [this] { StopPressed(); });
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int tab) {
    if (tabs_->widget(tab) == history_) history_->Refresh();
  });
  connect(&session_, &StationSession::PositionChanged, this, &StationWindow::OnPosition);
  connect(&session_, &StationSession::SessionEnded, this, &StationWindow::OnEnded);
  ShowPhase();
  RefreshDay();
  if (!setup_.store_error.empty()) ShowRefusal(Text(setup_.store_error));
}

StationWindow::~StationWindow() = default;

void StationWindow::BuildTiles() {
  const std::vector<StationPosition> positions = session_.Positions();
  const int columns = ColumnsFor(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    auto* tile = new StationTile(Text(positions[i].name), Text(positions[i].socket), this);
    grid_->addWidget(tile, static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    tiles_.push_back(tile);
  }
  tally_.Reset(positions.size());
}

bool StationWindow::LoadJob(const std::string& path) {
  auto job = station::ReadJob(path);
  if (!job) {
    job_.reset();
    ShowRefusal(Text(job.error));
    ShowPhase();
    return false;
  }
  if (const auto refusal = station::CheckJobFiles(*job.value, /*force=*/false)) {
    job_.reset();
    ShowRefusal(Worded(*refusal));
    ShowPhase();
    return false;
  }
  job_ = std::move(*job.value);
  job_path_ = path;
  if (setup_.store_error.empty()) refusal_->hide();
  RefreshDay();
  ShowPhase();
  return true;
}

void StationWindow::ChooseJobPressed() {
  const auto path = dialogs_.OpenFile(this, {QStringLiteral("Задание станции (*.toml)")}, QStringLiteral("toml"));
  if (path) LoadJob(path->toStdString());
}

void StationWindow::StartPressed() {
  if (!control_.CanStart()) return;
  if (job_) {
    if (JobFilesRefused()) return;
    const char* warning = job_->image ? device::kReflashWarning : job_->erase ? device::kEraseWarning : nullptr;
    if (warning && !dialogs_.WarningYesNo(this, QString::fromUtf8(warning))) return;
  }
  StartConfirmed();
}

void StationWindow::StartConfirmed() {
  if (!control_.CanStart()) return;
  if (!job_) {
    ShowRefusal(QStringLiteral("Сначала выберите задание"));
    return;
  }
  if (!setup_.store_error.empty()) {
    ShowRefusal(Text(setup_.store_error));
    return;
  }
  if (JobFilesRefused()) return;
  if (const auto refusal = session_.Start(job_path_)) {
    ShowRefusal(Text(*refusal));
    return;
  }
  refusal_->hide();
  ended_totals_.reset();
  tally_.Reset(tiles_.size());
  charts_->SetSession(tally_.Totals());
  control_.Started();
  ShowPhase();
}

void StationWindow::StopPressed() {
  switch (control_.StopPressed()) {
    case StopAction::kNothing: return;
    case StopAction::kStopNewJobs: session_.StopNewJobs(); break;
    case StopAction::kAskThenStopRunning:
      if (dialogs_.ConfirmYesNo(this, kCaption, kStopRunningQuestion)) session_.StopRunning();
      break;
  }
  ShowPhase();
}

// The files may have changed since the job was chosen.
bool StationWindow::JobFilesRefused() {
  const auto refusal = station::CheckJobFiles(*job_, /*force=*/false);
  if (refusal) ShowRefusal(Worded(*refusal));
  return refusal.has_value();
}

void StationWindow::ShowRefusal(const QString& text) {
  refusal_->setText(QStringLiteral("✖ Отказ: %1").arg(text));
  refusal_->show();
}

void StationWindow::ShowPhase() {
  if (job_) {
    job_name_->setText(QStringLiteral("Задание: %1").arg(FileName(job_path_)));
  } else {
    job_name_->setText(QStringLiteral("Задание не выбрано"));
    summary_->clear();
  }
  start_->setEnabled(control_.CanStart() && job_.has_value());
  choose_->setEnabled(control_.CanStart());
  stop_->setEnabled(control_.CanStop());
  switch (control_.Phase()) {
    case SessionPhase::kIdle:
      session_line_->setText(QStringLiteral("Сессия не начата"));
      stop_->setText(QStringLiteral("Остановить"));
      break;
    case SessionPhase::kRunning:
      session_line_->setText(QStringLiteral("▶ Сессия идёт: пульты подключайте к любому свободному месту"));
      stop_->setText(QStringLiteral("Остановить"));
      break;
    case SessionPhase::kStopping:
      session_line_->setText(QStringLiteral("⏸ Новые пульты не берутся; идущая работа заканчивается"));
      stop_->setText(QStringLiteral("Прервать работу"));
      break;
    case SessionPhase::kEnded: {
      const SessionTotals& totals = ended_totals_.value_or(tally_.Totals());
      session_line_->setText(QStringLiteral("■ Сессия окончена: готово %1, ошибки %2, прервано %3")
                                 .arg(totals.done).arg(totals.failed).arg(totals.interrupted));
      stop_->setText(QStringLiteral("Остановить"));
      break;
    }
  }
}

void StationWindow::OnPosition(const station::PositionEvent& event) {
  if (event.position >= tiles_.size()) return;
  tiles_[event.position]->Show(event);
  const SessionTotals before = tally_.Totals();
  tally_.Add(event);
  if (tally_.Totals() == before) return;
  charts_->SetSession(tally_.Totals());
  RefreshDay();
}

void StationWindow::OnEnded(const SessionTotals& totals) {
  control_.Ended();
  // The engine's totals are the session's; the window's own count only
  // stood in for them while it ran.
  ended_totals_ = totals;
  charts_->SetSession(totals);
  ShowPhase();
  RefreshDay();
}

void StationWindow::RefreshDay() {
  std::optional<std::int64_t> left;
  if (setup_.store != nullptr && job_ && job_->serial) {
    if (auto numbers = setup_.store->NumbersLeft(*job_->serial)) left = *numbers.value;
  }
  if (job_) summary_->setText(JobSummary(*job_, left).join(QStringLiteral("\n")));
  if (setup_.store == nullptr) return;
  station::HistoryFilter today;
  today.since = QDate::currentDate().toString(Qt::ISODate).toStdString();
  auto runs = setup_.store->History(today);
  if (!runs) return;
  DayFigures figures = FiguresOfDay(*runs.value, setup_.station, QDate::currentDate(),
                                    job_ ? job_->serial : std::nullopt);
  figures.numbers_left = left;
  charts_->SetDay(figures);
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (control_.Phase() == SessionPhase::kRunning || control_.Phase() == SessionPhase::kStopping) {
    if (!dialogs_.ConfirmYesNo(this, kCaption, kStopRunningQuestion)) {
      event->ignore();
      return;
    }
    session_.StopNewJobs();
    session_.StopRunning();
  }
  event->accept();
}

}  // namespace orvane::ui
