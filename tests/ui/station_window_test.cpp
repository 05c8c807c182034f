#include "ui/station_window.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "device/session.h"
#include "tests/ui/window_fixture.h"
#include "ui/station_charts.h"
#include "ui/station_history.h"
#include "ui/station_tile.h"

namespace orvane::ui::testing {
namespace {

using station::LineState;
using station::PositionEvent;

// The session as the window sees it, driven by the test.
class ScriptedSession : public StationSession {
 public:
  std::vector<StationPosition> positions;
  std::optional<std::string> refusal;
  std::vector<std::string> started;
  int stop_new_jobs = 0;
  int stop_running = 0;

  std::vector<StationPosition> Positions() const override { return positions; }
  std::optional<std::string> Start(const std::string& job) override {
    if (refusal) return refusal;
    started.push_back(job);
    return std::nullopt;
  }
  void StopNewJobs() override { ++stop_new_jobs; }
  void StopRunning() override { ++stop_running; }

  void Line(std::size_t position, LineState state, std::optional<std::int64_t> serial = {}) {
    PositionEvent event;
    event.position = position;
    event.state = state;
    event.serial = serial;
    emit PositionChanged(event);
  }
};

class StationWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    session.positions = {{"Место 1", "usb-0:1.1", "/dev/ttyUSB0"}, {"Место 2", "usb-0:1.2", ""},
                         {"Место 3", "usb-0:1.3", "/dev/ttyUSB1"}};
    window = std::make_unique<StationWindow>(session, dialogs,
                                             StationWindowSetup{"Стенд 2", "/srv/records/station.sqlite", nullptr});
  }

  std::string WriteJob(const std::string& text) {
    const QString path = folder.filePath(QStringLiteral("batch.toml"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(text));
    return path.toStdString();
  }

  void WriteFile(const char* name, const QByteArray& bytes) {
    QFile file(folder.filePath(QString::fromUtf8(name)));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
  }

  std::string GoodJob() {
    WriteFile("kv80.mts", "image");
    WriteFile("plan 12.yp1", "plan");
    return WriteJob("image = \"kv80.mts\"\nerase = true\nplans = [\"plan 12.yp1\"]\n"
                    "[constants]\nid = \"Пульт-7\"\ntz = 180\n[serial]\nfirst = 100000\nlast = 100099\n");
  }

  QTemporaryDir folder;
  ScriptedDialogs dialogs;
  ScriptedSession session;
  std::unique_ptr<StationWindow> window;
};

TEST_F(StationWindowTest, TilesFollowThePositionsAndTheTitleNamesTheRecords) {
  ASSERT_EQ(window->Tiles().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(window->Tiles()[i]->Name().toStdString(), session.positions[i].name);
  EXPECT_TRUE(window->windowTitle().contains("/srv/records/station.sqlite"));
  EXPECT_TRUE(window->windowTitle().contains("Стенд 2"));
  EXPECT_FALSE(window->StartButton()->isEnabled());  // no job yet
  // The records are read when their tab is opened.
  EXPECT_TRUE(window->History()->Status()->text().isEmpty());
  window->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(window->History()->Status()->text(), "Записи не прочитаны: Нет базы записей");
}

TEST_F(StationWindowTest, JobIsChosenWithTheOpenDialogAndSummed) {
  dialogs.files.push_back(QString::fromStdString(GoodJob()));
  window->ChooseJobPressed();
  ASSERT_EQ(dialogs.file_requests.size(), 1u);
  const QString summary = window->Summary()->text();
  for (const char* part : {"Прошивка: kv80.mts", "Стереть все файлы", "Планы: plan 12.yp1", "имя «Пульт-7»",
                           "пояс 180", "Номера: 100000 – 100099"}) {
    EXPECT_TRUE(summary.contains(QString::fromUtf8(part))) << part << "\n" << summary.toStdString();
  }
  EXPECT_TRUE(window->StartButton()->isEnabled());
  EXPECT_TRUE(window->Refusal()->isHidden());
}

// A job the tool would refuse and a session that refuses to start are shown
// as refusals, and nothing says the session runs.
TEST_F(StationWindowTest, RefusalsAreShownAsRefusals) {
  EXPECT_FALSE(window->LoadJob(WriteJob("image = \"kv80.mts\"\ncolour = 3\n")));
  EXPECT_FALSE(window->Refusal()->isHidden());
  EXPECT_TRUE(window->Refusal()->text().contains("colour"));
  EXPECT_FALSE(window->StartButton()->isEnabled());

  ASSERT_TRUE(window->LoadJob(GoodJob()));
  EXPECT_TRUE(window->Refusal()->isHidden());
  session.refusal = "the serial range 100000 to 100099 has no number left";
  window->StartConfirmed();
  EXPECT_FALSE(window->Refusal()->isHidden());
  EXPECT_TRUE(window->Refusal()->text().contains("has no number left"));
  EXPECT_EQ(window->Control().Phase(), SessionPhase::kIdle);
  EXPECT_FALSE(window->StopButton()->isEnabled());
  EXPECT_TRUE(window->StartButton()->isEnabled());
  EXPECT_EQ(window->SessionLine()->text(), "Сессия не начата");
}

// The tool's file checks on a job, made when it is chosen: each refusal in
// Russian on the red band, no start and no session.
TEST_F(StationWindowTest, JobsTheToolRefusesForTheirFilesAreNeverStarted) {
  WriteFile("empty.mts", {});
  WriteFile("main.bin", "image");
  WriteFile("big.mts", QByteArray(65536, 'i'));
  WriteFile("largest.mts", QByteArray(65535, 'i'));
  WriteFile("big.yp1", QByteArray(65508, 'p'));
  WriteFile("largest.yp1", QByteArray(65507, 'p'));
  WriteFile("short.R0", QByteArray(1030, 'r'));
  const struct {
    const char* job;
    const char* said;  // nothing for a job that is taken
  } cases[] = {
      {"image = \"empty.mts\"", "Прошивка «empty.mts» пуста: после такой прошивки в пульте не останется основной программы"},
      {"image = \"main.bin\"", "Прошивка «main.bin» — не файл прошивки (*.mts)"},
      {"image = \"big.mts\"",
       "Файл слишком большой! (прошивка «big.mts»: размер 65536 байт, самая большая прошивка — 65535 байт)"},
      {"image = \"largest.mts\"", nullptr},
      {"image = \"none.mts\"", "Прошивка «none.mts»: не удаётся прочитать (такого файла нет)"},
      {"plans = [\"largest.yp1\", \"big.yp1\"]",
       "Файл слишком большой (план «big.yp1»: размер 65508 байт, отправить можно не больше 65507)"},
      {"plans = [\"largest.yp1\"]", nullptr},
      {"plans = [\"short.R0\"]", "Файл кольцевого плана слишком короткий (план «short.R0»)"},
      {"image = \"big.mts\"\nplans = [\"short.R0\"]", "Файл слишком большой! (прошивка «big.mts»"},
      {"plans = [\"largest.yp1\", \"largest.yp1\"]", "plans[1]: «largest.yp1» указан дважды (ещё plans[0])"},
  };
  for (const auto& c : cases) {
    const bool taken = window->LoadJob(WriteJob(c.job));
    EXPECT_EQ(taken, c.said == nullptr) << c.job;
    EXPECT_EQ(window->StartButton()->isEnabled(), taken) << c.job;
    if (taken) continue;
    EXPECT_FALSE(window->Refusal()->isHidden()) << c.job;
    EXPECT_TRUE(window->Refusal()->text().contains(QString::fromUtf8(c.said)))
        << c.job << "\n" << window->Refusal()->text().toStdString();
    EXPECT_EQ(window->Summary()->text(), "") << c.job;
    window->StartConfirmed();
    EXPECT_TRUE(session.started.empty()) << c.job;
    EXPECT_EQ(window->Control().Phase(), SessionPhase::kIdle) << c.job;
  }
}

// The files are looked at again when the session starts: an image emptied
// since the job was chosen is refused before the reflash warning.
TEST_F(StationWindowTest, FilesChangedSinceTheJobWasChosenAreRefusedAtTheStart) {
  ASSERT_TRUE(window->LoadJob(GoodJob()));
  WriteFile("kv80.mts", {});
  dialogs.warning_answers = {true};
  window->StartPressed();
  EXPECT_TRUE(dialogs.warnings.empty());
  EXPECT_TRUE(session.started.empty());
  EXPECT_TRUE(window->Refusal()->text().contains("Прошивка «kv80.mts» пуста"));
  EXPECT_TRUE(window->StartButton()->isEnabled());

  WriteFile("kv80.mts", "image");
  window->StartPressed();
  EXPECT_EQ(session.started.size(), 1u);
  EXPECT_TRUE(window->Refusal()->isHidden());
}

// A record store that would not open is said at once and no session starts.
TEST_F(StationWindowTest, NoSessionStartsWithoutItsRecordStore) {
  StationWindow refused(session, dialogs, {"Стенд 2", "/srv/none.sqlite", nullptr, "no record store at /srv/none.sqlite"});
  EXPECT_TRUE(refused.Refusal()->text().contains("no record store at /srv/none.sqlite"));
  ASSERT_TRUE(refused.LoadJob(GoodJob()));
  EXPECT_FALSE(refused.Refusal()->isHidden());
  refused.StartConfirmed();
  EXPECT_TRUE(session.started.empty());
  EXPECT_EQ(refused.Control().Phase(), SessionPhase::kIdle);
}

// The whole session: started, lines shown on their tiles, totals counted,
// stopped in two steps with a question before running jobs are stopped.
TEST_F(StationWindowTest, SessionRunsAndStopsInTwoSteps) {
  ASSERT_TRUE(window->LoadJob(GoodJob()));
  // The job reflashes: the tool's warning comes first, and No starts nothing.
  dialogs.warning_answers = {false, true};
  window->StartPressed();
  EXPECT_TRUE(session.started.empty());
  EXPECT_EQ(window->Control().Phase(), SessionPhase::kIdle);
  window->StartPressed();
  ASSERT_EQ(dialogs.warnings.size(), 2u);
  EXPECT_EQ(dialogs.warnings[0], QString::fromUtf8(device::kReflashWarning));
  ASSERT_EQ(session.started.size(), 1u);
  EXPECT_EQ(window->Control().Phase(), SessionPhase::kRunning);
  EXPECT_FALSE(window->StartButton()->isEnabled());

  session.Line(0, LineState::kRunning);
  session.Line(0, LineState::kDone, 100000);
  session.Line(0, LineState::kDone, 100000);  // still on its line
  session.Line(1, LineState::kNoPort);
  session.Line(2, LineState::kFailed);
  session.Line(7, LineState::kDone, 1);  // no such position: ignored
  EXPECT_EQ(window->Tiles()[0]->Look().headline, "Готово");
  EXPECT_EQ(window->Tiles()[1]->Look().headline, "Нет адаптера");
  EXPECT_EQ(window->Tiles()[2]->Look().headline, "Ошибка");

  window->StopPressed();
  EXPECT_EQ(session.stop_new_jobs, 1);
  EXPECT_EQ(session.stop_running, 0);
  EXPECT_TRUE(dialogs.confirmations.empty());
  EXPECT_EQ(window->StopButton()->text(), "Прервать работу");

  dialogs.confirm_answers = {false, true};
  window->StopPressed();
  EXPECT_EQ(dialogs.confirmations.size(), 1u);
  EXPECT_EQ(session.stop_running, 0);
  window->StopPressed();
  EXPECT_EQ(session.stop_running, 1);
  EXPECT_EQ(session.stop_new_jobs, 1);

  emit session.SessionEnded(SessionTotals{1, 1, 0, 100000, 100000});
  EXPECT_EQ(window->Control().Phase(), SessionPhase::kEnded);
  EXPECT_TRUE(window->SessionLine()->text().contains("готово 1, ошибки 1, прервано 0"));
  EXPECT_TRUE(window->StartButton()->isEnabled());
  EXPECT_FALSE(window->StopButton()->isEnabled());
}

}  // namespace
}  // namespace orvane::ui::testing
