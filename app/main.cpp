// orvane: the configurator's window. "orvane --demo" runs it against a
// simulated console on a pseudo-terminal, with sample files to send.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/demo_files.h"
#include "app/screenshot_tour.h"
#include "app/station_mode.h"
#include "l10n/l10n.h"
#include "serial/link_port.h"
#include "sim/simulator.h"
#include "ui/comcfgform.h"
#include "ui/dialogs.h"
#include "ui/form1.h"
#include "ui/translations.h"

namespace {

bool HasDisplay() {
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Once the first refresh has filled the table and the constants, saves the
// window's picture and ends the program; gives up after 30 seconds.
void TakeScreenshotAfterRefresh(orvane::ui::TForm1& form, const QString& path) {
  auto* poll = new QTimer(&form);
  auto* started = new QElapsedTimer;
  started->start();
  QObject::connect(poll, &QTimer::timeout, &form, [&form, path, poll, started] {
    const bool refreshed = orvane::app::FirstRefreshDone(form);
    if (!refreshed && started->elapsed() < 30000) return;
    poll->stop();
    delete started;
    const bool saved = refreshed && form.grab().save(path, "PNG");
    if (!saved) std::fprintf(stderr, "orvane: no screenshot taken\n");
    QApplication::exit(saved ? 0 : 1);
  });
  poll->start(200);
}

// The demo's console, its sample files and a settings store of its own, so
// that the run neither reads nor replaces the port the user has stored.
struct Demo {
  QTemporaryDir folder;
  std::unique_ptr<orvane::sim::Simulator> console;
  std::string port;
  QString firmware;

  bool Start() {
    if (!folder.isValid()) return false;
    const QString settings = QDir(folder.path()).filePath(QStringLiteral("settings"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    const QStringList files = WriteDemoFilesInto(QDir(folder.path()).filePath(QStringLiteral("files")));
    if (files.isEmpty()) return false;
    firmware = files.constLast();
    orvane::sim::DeviceState state;
    state.files = orvane::sim::SampleFiles();
    state.constants = orvane::app::DemoConstants();
    console = std::make_unique<orvane::sim::Simulator>(orvane::sim::SimOptions{}, state);
    port = console->Start();
    return true;
  }

  QString FilesFolder() const { return QDir(folder.path()).filePath(QStringLiteral("files")); }

  static QStringList WriteDemoFilesInto(const QString& path) {
    if (!QDir().mkpath(path)) return {};
    return orvane::app::WriteDemoFiles(path);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before anything needs a display: --help and
  // --version answer on any terminal, in the locale's language.
  orvane::l10n::SetUp(argv[0]);
  const orvane::app::ParsedArguments parsed = orvane::app::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.run) {
    std::fputs(parsed.output.c_str(), parsed.exit_status == 0 ? stdout : stderr);
    return parsed.exit_status;
  }
  const orvane::app::Arguments& arguments = *parsed.run;
  if (!HasDisplay()) {
    std::fprintf(stderr, "orvane: no display to show the window on (DISPLAY is not set)\n");
    return 2;
  }
  // The window speaks Russian whatever the locale; so do the few messages of
  // the program's own that it shows (why a port would not open).
  orvane::l10n::SetUpFor(argv[0], "ru");
  QApplication app(argc, argv);
  // The name the task bar and the window manager know the program by; a
  // display name would also be appended to every window caption.
  QApplication::setApplicationName(QStringLiteral("orvane"));
  QApplication::setDesktopFileName(QStringLiteral("orvane"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  if (!orvane::ui::InstallToolkitTranslations()) {
    std::fprintf(stderr, "orvane: the toolkit's Russian translations are missing "
                         "(Debian package qt6-translations-l10n); its own buttons stay English\n");
  }

  if (arguments.station) return orvane::app::RunStation(arguments);
  std::unique_ptr<Demo> demo;
  if (arguments.demo) {
    demo = std::make_unique<Demo>();
    try {
      if (!demo->Start()) throw std::runtime_error("cannot write the demo files");
    } catch (const std::exception& error) {
      std::fprintf(stderr, "orvane: the demo cannot start: %s\n", error.what());
      return 1;
    }
    std::fprintf(stderr, "orvane: demo console on %s; files to send are in %s\n", demo->port.c_str(),
                 demo->FilesFolder().toLocal8Bit().constData());
  }

  orvane::ui::QtDialogs dialogs;
  orvane::ui::TForm1 Form1(dialogs);
  orvane::ui::TComCFGForm ComCFGForm(&Form1);
  Form1.SetComCFGForm(&ComCFGForm);
  if (demo) {
    dialogs.SetStartFolder(demo->FilesFolder());
    ComCFGForm.PortChoice().SetText(demo->port);
  }
  Form1.show();
  if (!arguments.screenshot.empty()) TakeScreenshotAfterRefresh(Form1, QString::fromStdString(arguments.screenshot));
  if (!arguments.screenshots.empty()) {
    (new orvane::app::ScreenshotTour(Form1, QString::fromStdString(arguments.screenshots), demo->firmware))->Start();
  }
  return QApplication::exec();
}
