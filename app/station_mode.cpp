#include "app/station_mode.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSysInfo>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>

#include "app/station_demo.h"
#include "serial/adapters.h"
#include "station/bench.h"
#include "station/record_store.h"
#include "station/store_location.h"
#include "ui/dialogs.h"
#include "ui/station_engine_session.h"
#include "ui/station_history.h"
#include "ui/station_tile.h"
#include "ui/station_window.h"

namespace orvane::app {
namespace {

station::Outcome<station::Bench> BenchOf(const StationArguments& arguments) {
  return station::BenchFor(arguments.bench, serial::ListAdapters());
}


std::string Described(const std::string& location) {
  const auto parsed = station::ParseStoreLocation(location);
  return parsed ? parsed.value->Describe() : location;
}

// The station's pictures once enough units have ended: the bench, then the
// records with the first unit's trace.
void TakeStationPictures(ui::StationWindow& window, const QString& folder, sim::Simulator* to_unplug) {
  auto* poll = new QTimer(&window);
  auto* started = new QElapsedTimer;
  started->start();
  QObject::connect(poll, &QTimer::timeout, &window, [&window, folder, poll, started, to_unplug] {
    int ended = 0;
    for (const ui::StationTile* tile : window.Tiles()) {
      const QString& action = tile->Look().action;
      if (action == QStringLiteral("Снимите пульт") || action == QStringLiteral("Пульт нужно вернуть")) ++ended;
    }
    const bool enough = ended + 1 >= static_cast<int>(window.Tiles().size());
    if (!enough && started->elapsed() < 60000) return;
    poll->stop();
    delete started;
    if (to_unplug != nullptr) to_unplug->Unplug();
    QTimer::singleShot(3000, &window, [&window, folder, enough] {
      QDir().mkpath(folder);
      window.RefreshDay();
      bool saved = window.grab().save(QDir(folder).filePath(QStringLiteral("station.png")), "PNG");
      window.Tabs()->setCurrentIndex(1);
      window.History()->Refresh();
      window.History()->OpenTrace(0);
      QApplication::processEvents();
      saved = window.grab().save(QDir(folder).filePath(QStringLiteral("station-history.png")), "PNG") && saved;
      if (!enough || !saved) std::fprintf(stderr, "orvane: the station's pictures were not taken\n");
      QApplication::exit(enough && saved ? 0 : 1);
    });
  });
  poll->start(200);
}

}  // namespace

int RunStation(const Arguments& arguments) {
  StationArguments options = *arguments.station;
  std::unique_ptr<StationDemo> demo;
  if (arguments.demo) {
    try {
      // Six modems; the fourth has too little memory for the plans.
      demo = std::make_unique<StationDemo>(std::vector<DemoModem>{{}, {}, {}, {512}, {}, {}});
    } catch (const std::exception& error) {
      std::fprintf(stderr, "orvane: the demo cannot start: %s\n", error.what());
      return 1;
    }
    options.job = demo->JobPath();
    options.db = demo->StorePath();
    options.new_records = true;
    options.start = true;
  }
  const auto bench = BenchOf(options);
  if (!bench) {
    std::fprintf(stderr, "orvane: %s\n", bench.error.c_str());
    QMessageBox::critical(nullptr, QStringLiteral("Станция"), QString::fromStdString(bench.error));
    return 2;
  }
  const auto location = station::StoreLocationOrDefault(options.db);
  if (!location) {
    std::fprintf(stderr, "orvane: %s\n", location.error.c_str());
    return 2;
  }
  auto store = station::RecordStore::Open(
      *location.value, options.new_records ? station::StoreMode::kCreate : station::StoreMode::kExisting);

  ui::QtDialogs dialogs;
  // The engine names an unnamed station by the host; the title says the same.
  const std::string station =
      bench.value->station.empty() ? QSysInfo::machineHostName().toStdString() : bench.value->station;
  ui::EngineSession session(*bench.value, *location.value, ORVANE_VERSION);
  ui::StationWindow window(session, dialogs,
                           {station, Described(*location.value),
                            store ? store.value->get() : nullptr, store.error});
  window.resize(1280, 900);
  window.show();
  if (!options.job.empty() && window.LoadJob(options.job) && options.start) window.StartConfirmed();
  if (demo && !arguments.screenshots.empty()) {
    TakeStationPictures(window, QString::fromStdString(arguments.screenshots), demo->Modem(5));
  }
  return QApplication::exec();
}

}  // namespace orvane::app
