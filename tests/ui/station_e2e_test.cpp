// The station window on the station engine with simulated modems on ports
// that stay: units arrive and leave, each is provisioned once from the
// window, and the session is stopped from it.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "serial/adapters.h"
#include "sim/simulator.h"
#include "station/bench.h"
#include "tests/ui/window_fixture.h"
#include "ui/station_charts.h"
#include "ui/station_engine_session.h"
#include "ui/station_history.h"
#include "ui/station_tile.h"
#include "ui/station_window.h"

namespace orvane::ui::testing {
namespace {

using namespace std::chrono_literals;

class StationEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    ports = qEnvironmentVariable("ORVANE_PORT_DIR");
    ASSERT_FALSE(ports.isEmpty());
    for (int i = 0; i < 2; ++i) {
      sim::SimOptions options;
      options.seed = i + 1;
      options.link_path = QDir(ports).filePath(QStringLiteral("ttyUSB%1").arg(i)).toStdString();
      modems.push_back(std::make_unique<sim::Simulator>(options));
      if (i == 1) modems.back()->Unplug();  // the second adapter waits for its modem
      modems.back()->Start();
    }
    QFile plan(folder.filePath(QStringLiteral("plan.yp1")));
    ASSERT_TRUE(plan.open(QIODevice::WriteOnly));
    plan.write(QByteArray(600, '\x07'));
    plan.close();
    QFile job(folder.filePath(QStringLiteral("batch.toml")));
    ASSERT_TRUE(job.open(QIODevice::WriteOnly));
    job.write("plans = [\"plan.yp1\"]\n[constants]\ntz = 180\n[serial]\nfirst = 100000\nlast = 100099\n");
    job.close();
    job_path = job.fileName().toStdString();
    store_path = folder.filePath(QStringLiteral("station.sqlite")).toStdString();
    auto opened = station::RecordStore::Open(store_path, station::StoreMode::kCreate);
    ASSERT_TRUE(opened) << opened.error;
    store = std::move(*opened.value);
  }

  void TearDown() override {
    window.reset();
    session.reset();
    for (auto& modem : modems) modem->Stop();
    for (int i = 0; i < 2; ++i) QFile::remove(QDir(ports).filePath(QStringLiteral("ttyUSB%1").arg(i)));
  }

  // Waits on the event loop until the tile says so; false after a while.
  bool WaitFor(std::size_t position, const QString& headline, const QString& detail = {}) {
    return WaitUntil([&] {
      const TileLook& look = window->Tiles()[position]->Look();
      return look.headline == headline && (detail.isEmpty() || look.detail == detail);
    }, 30s);
  }

  template <class Condition>
  static bool WaitUntil(Condition condition, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!condition()) {
      if (deadline.hasExpired()) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  QTemporaryDir folder;
  QString ports;
  std::vector<std::unique_ptr<sim::Simulator>> modems;
  std::string job_path, store_path;
  std::unique_ptr<station::RecordStore> store;
  ScriptedDialogs dialogs;
  std::unique_ptr<EngineSession> session;
  std::unique_ptr<StationWindow> window;
};

TEST_F(StationEndToEndTest, UnitsComingAndGoingAreProvisionedOnceFromTheWindow) {
  station::Bench bench{"Стенд 7", station::DefaultPositions(serial::ListAdapters())};
  ASSERT_EQ(bench.positions.size(), 2u);
  bench.positions[0].name = "Место 1";
  bench.positions[1].name = "Место 2";
  session = std::make_unique<EngineSession>(bench, store_path, "test");
  const std::string station = bench.station;
  window = std::make_unique<StationWindow>(*session, dialogs, StationWindowSetup{station, store_path, store.get()});
  ASSERT_TRUE(window->LoadJob(job_path));
  window->StartPressed();  // no image, no erase: nothing to ask
  ASSERT_TRUE(dialogs.warnings.empty());
  ASSERT_EQ(window->Control().Phase(), SessionPhase::kRunning);

  ASSERT_TRUE(WaitFor(0, "Готово", "Номер 100000"));
  EXPECT_EQ(window->Tiles()[1]->Look().headline, "Нет пульта");
  EXPECT_EQ(window->Tiles()[0]->Look().action, "Снимите пульт");

  // The second modem arrives, the first leaves and another takes its place.
  modems[1]->Plug();
  ASSERT_TRUE(WaitFor(1, "Готово", "Номер 100001"));
  modems[0]->Unplug();
  ASSERT_TRUE(WaitFor(0, "Нет пульта"));
  modems[0]->Plug(sim::DeviceState{});
  ASSERT_TRUE(WaitFor(0, "Готово", "Номер 100002"));
  // The first unit left on its line is not written again.
  EXPECT_EQ(window->Tiles()[1]->Look().detail, "Номер 100001");

  window->StopPressed();
  ASSERT_TRUE(WaitUntil([&] { return window->Control().Phase() == SessionPhase::kEnded; }, 30s));
  EXPECT_TRUE(window->SessionLine()->text().contains("готово 3, ошибки 0, прервано 0"))
      << window->SessionLine()->text().toStdString();
  EXPECT_EQ(window->Charts()->Day().done, 3);
  EXPECT_EQ(window->Charts()->Day().numbers_given, 3);
  ASSERT_EQ(window->History()->Refresh(), std::nullopt);
  ASSERT_EQ(window->History()->Runs().size(), 3u);
  std::vector<std::string> positions_recorded;
  for (const auto& run : window->History()->Runs()) {
    EXPECT_EQ(run.result, station::RunResult::kDone);
    EXPECT_EQ(run.station, "Стенд 7") << "the bench's station, as the tool records it";
    positions_recorded.push_back(run.position);
  }
  EXPECT_EQ(positions_recorded, (std::vector<std::string>{"Место 1", "Место 2", "Место 1"}));
}

}  // namespace
}  // namespace orvane::ui::testing
