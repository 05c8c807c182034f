// The records of the station in a table: filtered by serial number, dates,
// station, position and result; exported as CSV; a unit's trace opened from
// its row.
#pragma once

#include <QDate>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "station/outcome.h"
#include "station/record_store.h"

class QComboBox;
class QDateEdit;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableWidget;

namespace orvane::ui {

// The filter as the operator fills it in; empty fields take everything.
struct HistoryQuery {
  QString serial = {};
  std::optional<QDate> from = {}, to = {};  // local days, both included
  QString station = {};
  QString position = {};
  std::optional<station::RunResult> result = {};
};

// The store's filter (serial number, "from" day); an error for a serial
// number that is not a number or a "to" day before the "from" day.
station::Outcome<station::HistoryFilter> FilterOf(const HistoryQuery& query);
// Whether a record the store gave meets the rest of the query: the "to"
// day (by its start), station, position and result.
bool Matches(const HistoryQuery& query, const station::RunRecord& record);

// "Готово", "Ошибка", "Прервано", "Идёт".
QString ResultText(station::RunResult result);

// What the trace view shows for a record: the file's text when it is on
// this machine, otherwise where it is kept.
struct TraceView {
  bool found = false;
  QString text;
};
TraceView TraceOf(const station::RunRecord& record);

class StationHistory : public QWidget {
  Q_OBJECT

 public:
  explicit StationHistory(QWidget* parent = nullptr);

  // The store to read; null leaves the table empty. Not owned.
  void SetStore(station::RecordStore* store);
  void SetQuery(const HistoryQuery& query);
  HistoryQuery Query() const;
  // Reads the records that match the filter; the error is shown too.
  std::optional<std::string> Refresh();
  // Writes the records shown as CSV.
  std::optional<std::string> ExportCsv(const QString& path) const;
  // The trace of the row's record in a read-only view of its own.
  void OpenTrace(int row);

  const std::vector<station::RunRecord>& Runs() const { return runs_; }
  QTableWidget* Table() const { return table_; }
  QPlainTextEdit* TraceText() const { return trace_; }
  QLabel* Status() const { return status_; }

  // Asks where to save the CSV file; a file dialog unless replaced.
  std::function<QString(QWidget*)> choose_csv_path;

 private:
  void Fill();
  void ExportPressed();

  station::RecordStore* store_ = nullptr;
  std::vector<station::RunRecord> runs_;
  QLineEdit* serial_;
  QCheckBox* use_from_;
  QDateEdit* from_;
  QCheckBox* use_to_;
  QDateEdit* to_;
  QLineEdit* station_;
  QLineEdit* position_;
  QComboBox* result_;
  QTableWidget* table_;
  QLabel* status_;
  QPlainTextEdit* trace_;
};

}  // namespace orvane::ui
