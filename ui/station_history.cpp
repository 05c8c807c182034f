#include "ui/station_history.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/station_record_facts.h"
#include "ui/station_tile.h"

namespace orvane::ui {
namespace {

using station::RunRecord;
using station::RunResult;

// A trace larger than this is shown by its end, where a failure is.
constexpr qint64 kTraceShown = 4 << 20;

const RunResult kResults[] = {RunResult::kDone, RunResult::kFailed, RunResult::kInterrupted, RunResult::kRunning};

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString SerialText(const RunRecord& run) { return run.serial ? QString::number(*run.serial) : QString(); }

QStringList RowOf(const RunRecord& run) {
  const RecordFacts facts = FactsOf(run);
  return {QString::number(run.id),  LocalTimeText(run.started), LocalTimeText(run.finished),
          Text(facts.station),      Text(facts.position),       Text(run.port),
          Text(run.usb_serial),     SerialText(run),            ResultText(run.result),
          StepName(facts.failed_step, facts.failed_plan), Text(run.reason), HoldsShortWords(facts.holds)};
}

const QStringList kColumns = {QStringLiteral("№"),       QStringLiteral("Начало"),   QStringLiteral("Конец"),
                              QStringLiteral("Станция"), QStringLiteral("Место"),    QStringLiteral("Порт"),
                              QStringLiteral("Адаптер"), QStringLiteral("Номер"),    QStringLiteral("Итог"),
                              QStringLiteral("Шаг"),     QStringLiteral("Причина"),  QStringLiteral("В пульте")};

QString DayText(QDate day) { return day.toString(Qt::ISODate); }

}  // namespace

station::Outcome<station::HistoryFilter> FilterOf(const HistoryQuery& query) {
  station::HistoryFilter filter;
  const QString serial = query.serial.trimmed();
  if (!serial.isEmpty()) {
    bool number = false;
    const qlonglong value = serial.toLongLong(&number);
    if (!number) return station::Outcome<station::HistoryFilter>::Failed("Номер пульта должен быть числом");
    filter.serial = value;
  }
  if (query.from && query.to && *query.to < *query.from) {
    return station::Outcome<station::HistoryFilter>::Failed("День «по» раньше дня «с»");
  }
  if (query.from) filter.since = DayText(*query.from).toStdString();
  // The store's "until" is the start of the day given: the next day's start
  // takes the whole "to" day.
  // PENDING the store's filter by end day, station, position and result.
  return station::Outcome<station::HistoryFilter>::Done(filter);
}

bool Matches(const HistoryQuery& query, const RunRecord& record) {
  if (query.to) {
    const QDateTime started = QDateTime::fromString(Text(record.started), Qt::ISODateWithMs);
    if (started.isValid() && started.toLocalTime().date() > *query.to) return false;
  }
  const RecordFacts facts = FactsOf(record);
  if (!query.station.trimmed().isEmpty() && Text(facts.station) != query.station.trimmed()) return false;
  if (!query.position.trimmed().isEmpty() && Text(facts.position) != query.position.trimmed()) return false;
  return !query.result || record.result == *query.result;
}

QString ResultText(RunResult result) {
  switch (result) {
    case RunResult::kDone: return QStringLiteral("Готово");
    case RunResult::kFailed:
    case RunResult::kRefused: return QStringLiteral("Ошибка");
    case RunResult::kInterrupted: return QStringLiteral("Прервано");
    case RunResult::kRunning: return QStringLiteral("Идёт");
    case RunResult::kAbandoned: return QStringLiteral("Не завершено");
  }
  return QString();
}

TraceView TraceOf(const RunRecord& record) {
  const RecordFacts facts = FactsOf(record);
  const QString path = Text(facts.trace);
  if (path.isEmpty()) return {false, QStringLiteral("Для этой записи журнал обмена не вёлся.")};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    const QString station = facts.station.empty() ? QStringLiteral("не названа") : Text(facts.station);
    return {false, QStringLiteral("Журнал обмена не на этом компьютере.\nФайл: %1\nСтанция, где он записан: %2")
                       .arg(path, station)};
  }
  if (file.size() > kTraceShown) file.seek(file.size() - kTraceShown);
  return {true, QString::fromUtf8(file.readAll())};
}

StationHistory::StationHistory(QWidget* parent)
    : QWidget(parent),
      serial_(new QLineEdit(this)),
      use_from_(new QCheckBox(QStringLiteral("с"), this)),
      from_(new QDateEdit(QDate::currentDate(), this)),
      use_to_(new QCheckBox(QStringLiteral("по"), this)),
      to_(new QDateEdit(QDate::currentDate(), this)),
      station_(new QLineEdit(this)),
      position_(new QLineEdit(this)),
      result_(new QComboBox(this)),
      table_(new QTableWidget(this)),
      status_(new QLabel(this)),
      trace_(new QPlainTextEdit(this)) {
  choose_csv_path = [](QWidget* parent) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Экспорт записей"), QStringLiteral("records.csv"),
                                        QStringLiteral("CSV (*.csv)"));
  };
  serial_->setPlaceholderText(QStringLiteral("номер пульта"));
  station_->setPlaceholderText(QStringLiteral("станция"));
  position_->setPlaceholderText(QStringLiteral("место"));
  for (QDateEdit* day : {from_, to_}) {
    day->setCalendarPopup(true);
    day->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  }
  result_->addItem(QStringLiteral("Все итоги"));
  for (RunResult result : kResults) result_->addItem(ResultText(result));
  auto* find = new QPushButton(QStringLiteral("Найти"), this);
  auto* export_csv = new QPushButton(QStringLiteral("Экспорт CSV…"), this);
  auto* filters = new QHBoxLayout;
  for (QWidget* widget : std::initializer_list<QWidget*>{serial_, use_from_, from_, use_to_, to_, station_, position_,
                                                          result_, find, export_csv}) {
    filters->addWidget(widget);
  }
  table_->setColumnCount(static_cast<int>(kColumns.size()));
  table_->setHorizontalHeaderLabels(kColumns);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  trace_->setReadOnly(true);
  trace_->setLineWrapMode(QPlainTextEdit::NoWrap);
  trace_->setPlaceholderText(QStringLiteral("Двойной щелчок по строке открывает журнал обмена пульта"));
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(table_);
  split->addWidget(trace_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(status_);
  layout->addWidget(split, 1);
  connect(find, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(export_csv, &QPushButton::clicked, this, [this] { ExportPressed(); });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { OpenTrace(row); });
}

void StationHistory::SetStore(station::RecordStore* store) { store_ = store; }

void StationHistory::SetQuery(const HistoryQuery& query) {
  serial_->setText(query.serial);
  use_from_->setChecked(query.from.has_value());
  if (query.from) from_->setDate(*query.from);
  use_to_->setChecked(query.to.has_value());
  if (query.to) to_->setDate(*query.to);
  station_->setText(query.station);
  position_->setText(query.position);
  result_->setCurrentIndex(0);
  for (int i = 0; i < static_cast<int>(std::size(kResults)); ++i) {
    if (query.result == kResults[i]) result_->setCurrentIndex(i + 1);
  }
}

HistoryQuery StationHistory::Query() const {
  HistoryQuery query;
  query.serial = serial_->text();
  if (use_from_->isChecked()) query.from = from_->date();
  if (use_to_->isChecked()) query.to = to_->date();
  query.station = station_->text();
  query.position = position_->text();
  if (result_->currentIndex() > 0) query.result = kResults[result_->currentIndex() - 1];
  return query;
}

std::optional<std::string> StationHistory::Refresh() {
  runs_.clear();
  std::optional<std::string> error;
  const auto filter = FilterOf(Query());
  if (!filter) {
    error = filter.error;
  } else if (store_ == nullptr) {
    error = "Нет базы записей";
  } else if (auto runs = store_->History(*filter.value); !runs) {
    error = runs.error;
  } else {
    const HistoryQuery query = Query();
    for (RunRecord& run : *runs.value) {
      if (Matches(query, run)) runs_.push_back(std::move(run));
    }
  }
  Fill();
  status_->setText(error ? QStringLiteral("Записи не прочитаны: %1").arg(Text(*error))
                         : QStringLiteral("Записей: %1").arg(runs_.size()));
  return error;
}

void StationHistory::Fill() {
  table_->setRowCount(static_cast<int>(runs_.size()));
  for (int row = 0; row < static_cast<int>(runs_.size()); ++row) {
    const QStringList cells = RowOf(runs_[row]);
    for (int column = 0; column < cells.size(); ++column) {
      table_->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
  }
  table_->resizeColumnsToContents();
}

std::optional<std::string> StationHistory::ExportCsv(const QString& path) const {
  QFile file(path);
  const std::string csv = station::FormatHistoryCsv(runs_);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) || !file.flush()) {
    return (path + QStringLiteral(": ") + file.errorString()).toStdString();
  }
  return std::nullopt;
}

void StationHistory::ExportPressed() {
  const QString path = choose_csv_path(this);
  if (path.isEmpty()) return;
  const auto error = ExportCsv(path);
  status_->setText(error ? QStringLiteral("Записи не сохранены: %1").arg(Text(*error))
                         : QStringLiteral("Сохранено записей: %1 в %2").arg(runs_.size()).arg(path));
}

void StationHistory::OpenTrace(int row) {
  if (row < 0 || row >= static_cast<int>(runs_.size())) return;
  trace_->setPlainText(TraceOf(runs_[row]).text);
}

}  // namespace orvane::ui
