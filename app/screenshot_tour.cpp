#include "app/screenshot_tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <cstdio>

#include "ui/comcfgform.h"
#include "ui/form1.h"

namespace orvane::app {
namespace {

constexpr int kTickMs = 10;
constexpr qint64 kStepLimitMs = 30000;
// The open dialog lists its folder in the background; this is time enough.
constexpr qint64 kListingMs = 700;

const char* StepName(int step) {
  static const char* const kNames[] = {"the first refresh", "the reflash warning", "the open dialog",
                                       "the reflash", "the end of the reflash", "the port dialog",
                                       "the closing of the port dialog", "the exit question"};
  return kNames[step];
}

}  // namespace

bool FirstRefreshDone(ui::TForm1& form) {
  const auto& session = form.Session();
  return session.link().LinkConnected() && session.link().queue().empty() &&
         device::DisplayTable(session.model().directory).row_count() > 2;
}

ScreenshotTour::ScreenshotTour(ui::TForm1& form, QString folder, QString firmware)
    : QObject(&form), form_(form), folder_(std::move(folder)), firmware_(std::move(firmware)) {
  ticker_.setInterval(kTickMs);
  connect(&ticker_, &QTimer::timeout, this, &ScreenshotTour::Tick);
}

void ScreenshotTour::Start() {
  QDir().mkpath(folder_);
  in_step_.start();
  ticker_.start();
}

void ScreenshotTour::Advance(Step next) {
  step_ = next;
  in_step_.restart();
}

// The boxes and dialogs run event loops of their own; the ticks go on in
// them, so each step looks at what is on screen now.
void ScreenshotTour::Tick() {
  if (in_step_.elapsed() > kStepLimitMs) return Fail("a step did not come in time");
  if (QWidget* modal = QApplication::activeModalWidget()) return TickModal(modal);
  const QProgressBar* bar = form_.ProgressBar1;
  switch (step_) {
    case Step::kRefresh:
      if (!FirstRefreshDone(form_)) return;
      Save(&form_, "window.png");
      Advance(Step::kWarning);
      QTimer::singleShot(0, form_.ToolButton4, &QToolButton::click);
      return;
    case Step::kReflash:
      if (bar->value() <= 0 || bar->value() > bar->maximum() * 2 / 3) return;
      Save(&form_, "reflash.png");
      Advance(Step::kReflashDone);
      return;
    case Step::kReflashDone:
      if (!form_.Session().link().queue().empty()) return;
      Advance(Step::kPortDialog);
      QTimer::singleShot(0, form_.ToolButton10, &QToolButton::click);
      return;
    case Step::kPortDialogClosed:
      Advance(Step::kExitQuestion);
      QTimer::singleShot(0, &form_, &QWidget::close);
      return;
    default:
      return;
  }
}

void ScreenshotTour::TickModal(QWidget* modal) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  auto* files = qobject_cast<QFileDialog*>(modal);
  auto* port = qobject_cast<ui::TComCFGForm*>(modal);
  if (step_ == Step::kWarning && box) {
    if (!Press(box, QMessageBox::Yes)) return;
    Advance(Step::kOpenDialog);
  } else if (step_ == Step::kOpenDialog && files && in_step_.elapsed() >= kListingMs) {
    Save(files, "open-dialog.png");
    // What the user does: type the name, then press the Open button.
    auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!name) return Fail("the open dialog has no file name field");
    name->setText(QFileInfo(firmware_).fileName());
    static_cast<QDialog*>(files)->accept();
    Advance(Step::kReflash);
  } else if (step_ == Step::kPortDialog && port) {
    Save(port, "port-dialog.png");
    port->Button2->click();
    Advance(Step::kPortDialogClosed);
  } else if (step_ == Step::kExitQuestion && box) {
    Save(box, "exit-question.png");
    if (!Press(box, QMessageBox::No)) return;
    ticker_.stop();
    QApplication::exit(0);
  }
}

bool ScreenshotTour::Press(QMessageBox* box, int button) {
  QAbstractButton* pressed = box->button(static_cast<QMessageBox::StandardButton>(button));
  if (!pressed) {
    Fail(qPrintable(QStringLiteral("a box came that was not expected: ") + box->text()));
    return false;
  }
  pressed->click();
  return true;
}

void ScreenshotTour::Save(QWidget* widget, const char* name) {
  const QString path = QDir(folder_).filePath(QString::fromUtf8(name));
  if (!widget->grab().save(path, "PNG")) return Fail(name);
  std::fprintf(stderr, "orvane: saved %s\n", path.toLocal8Bit().constData());
}

void ScreenshotTour::Fail(const char* what) {
  ticker_.stop();
  std::fprintf(stderr, "orvane: the log so far:\n%s\n", form_.Memo1->toPlainText().toLocal8Bit().constData());
  std::fprintf(stderr, "orvane: screenshots stopped at %s: %s\n", StepName(static_cast<int>(step_)),
               what);
  QApplication::exit(1);
}

}  // namespace orvane::app
