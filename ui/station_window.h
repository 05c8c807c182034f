// The station window: every position of the bench as a tile in the order
// of the hub's sockets, the job and its summary, the session started and
// stopped by the operator, the day's figures and the records. It renders the
// session's values in Russian and keeps no rule of the session's own.
#pragma once

#include <QMainWindow>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/job.h"
#include "station/record_store.h"
#include "ui/station_control.h"
#include "ui/station_session.h"

class QGridLayout;
class QLabel;
class QPushButton;
class QTabWidget;

namespace orvane::ui {

class Dialogs;
class StationCharts;
class StationHistory;
class StationTile;

struct StationWindowSetup {
  std::string station;         // the station's name in the records
  std::string store_location;  // as the title names it (no password)
  station::RecordStore* store = nullptr;  // for the day's figures and the records; not owned
  std::string store_error = {};  // why the store would not open: no session starts
};

// The lines of a job's summary: image, erase, plans, constants, range and
// the numbers it has left.
QStringList JobSummary(const station::Job& job, std::optional<std::int64_t> numbers_left);

class StationWindow : public QMainWindow {
  Q_OBJECT

 public:
  StationWindow(StationSession& session, Dialogs& dialogs, StationWindowSetup setup, QWidget* parent = nullptr);
  ~StationWindow() override;

  // Reads the job file and shows its summary; a job that cannot be read, or
  // whose files the tool would refuse, is shown as a refusal and cannot be
  // started.
  bool LoadJob(const std::string& path);
  void ChooseJobPressed();
  // Asks the tool's warning for a job that reflashes or erases, then starts;
  // the job's files are checked again first.
  void StartPressed();
  // Starts without the warning: the operator answered it by --start.
  void StartConfirmed();
  void StopPressed();
  void RefreshDay();

  const std::vector<StationTile*>& Tiles() const { return tiles_; }
  QLabel* Refusal() const { return refusal_; }
  QLabel* SessionLine() const { return session_line_; }
  QLabel* Summary() const { return summary_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* StopButton() const { return stop_; }
  StationCharts* Charts() const { return charts_; }
  StationHistory* History() const { return history_; }
  QTabWidget* Tabs() const { return tabs_; }
  const SessionControl& Control() const { return control_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildTiles();
  bool JobFilesRefused();
  void ShowRefusal(const QString& text);
  void ShowPhase();
  void OnPosition(const station::PositionEvent& event);
  void OnEnded(const SessionTotals& totals);

  StationSession& session_;
  Dialogs& dialogs_;
  StationWindowSetup setup_;
  std::optional<station::Job> job_;
  std::string job_path_;
  SessionControl control_;
  SessionTally tally_;
  std::optional<SessionTotals> ended_totals_;
  std::vector<StationTile*> tiles_;
  QLabel* job_name_;
  QLabel* summary_;
  QLabel* refusal_;
  QLabel* session_line_;
  QPushButton* choose_;
  QPushButton* start_;
  QPushButton* stop_;
  QGridLayout* grid_;
  QTabWidget* tabs_;
  StationCharts* charts_;
  StationHistory* history_;
};

}  // namespace orvane::ui
