// The window's share of a 64 KiB reflash: from the click on "Перепрошить"
// (warning answered Yes, a 65 535-byte image chosen) until the event loop has
// drawn what the click changed, with 4 099 commands queued; and the share of
// one answered command while such a queue drains.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "ui/comcfgform.h"
#include "ui/dialogs.h"
#include "ui/form1.h"

namespace {

// Answers Yes to every question and picks the same file every time.
class AnsweringDialogs : public orvane::ui::Dialogs {
 public:
  explicit AnsweringDialogs(QString file) : file_(std::move(file)) {}
  bool WarningYesNo(QWidget*, const QString&) override { return true; }
  bool ConfirmYesNo(QWidget*, const QString&, const QString&) override { return true; }
  std::optional<QString> OpenFile(QWidget*, const QStringList&, const QString&) override { return file_; }
  bool RunPortDialog(orvane::ui::TComCFGForm&) override { return false; }
  void ShowError(QWidget*, const QString&) override {}

 private:
  QString file_;
};

// The window shown on a pseudo-terminal's port side, so the port opens; no
// device polls, so nothing is sent.
struct ShownWindow {
  QTemporaryDir folder;
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  std::unique_ptr<AnsweringDialogs> dialogs;
  std::unique_ptr<orvane::ui::TForm1> form;

  ShownWindow() {
    grantpt(master);
    unlockpt(master);
    const QString image = folder.filePath(QStringLiteral("image.mts"));
    std::ofstream(image.toStdString(), std::ios::binary) << std::string(65535, '\x5A');
    dialogs = std::make_unique<AnsweringDialogs>(image);
    form = std::make_unique<orvane::ui::TForm1>(*dialogs);
    auto* dialog = new orvane::ui::TComCFGForm(form.get());
    form->SetComCFGForm(dialog);
    dialog->PortChoice().SetText(ptsname(master));
    form->show();
    QApplication::processEvents();
  }
  ~ShownWindow() {
    form.reset();
    close(master);
  }
};

void BM_ReflashClick(benchmark::State& state) {
  ShownWindow window;
  for (auto _ : state) {
    window.form->ToolButton4Click();
    QApplication::processEvents();
    state.PauseTiming();
    benchmark::DoNotOptimize(window.form->Session().link().queue().size());
    window.form->Session().link().ClearQueue();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ReflashClick)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_AnsweredChunk(benchmark::State& state) {
  ShownWindow window;
  window.form->ToolButton4Click();
  QApplication::processEvents();
  auto& link = window.form->Session().link();
  for (auto _ : state) {
    if (link.queue().size() < 2) {
      state.PauseTiming();
      window.form->ToolButton4Click();
      QApplication::processEvents();
      state.ResumeTiming();
    }
    link.PopQueue();
    QApplication::processEvents();
  }
  link.ClearQueue();
}
BENCHMARK(BM_AnsweredChunk)->Unit(benchmark::kMicrosecond);

// The offscreen platform warns on every size change of a window; that says
// nothing about the figures.
void QuietOffscreenWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (text.contains(QStringLiteral("propagateSizeHints"))) return;
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  if (type == QtFatalMsg) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietOffscreenWarnings);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
