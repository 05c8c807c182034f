// The pictures of the program for its documentation, taken by the program
// itself on the demo console: the window after the first refresh, the open
// dialog of a reflash, the window during that reflash, the port dialog and
// the exit question. Every box and dialog is the real one, answered from
// here once its picture is taken.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QMessageBox;

namespace orvane::ui {
class TForm1;
}

namespace orvane::app {

// True once the first refresh has filled the file table and the constants.
bool FirstRefreshDone(ui::TForm1& form);

class ScreenshotTour : public QObject {
  Q_OBJECT

 public:
  // Pictures go into the folder as PNG files; the firmware is the image
  // chosen in the open dialog.
  ScreenshotTour(ui::TForm1& form, QString folder, QString firmware);

  // Ends the program with 0 once every picture is saved, with 1 when one
  // cannot be saved or a step does not come within 30 seconds.
  void Start();

 private:
  enum class Step { kRefresh, kWarning, kOpenDialog, kReflash, kReflashDone, kPortDialog,
                    kPortDialogClosed, kExitQuestion };

  void Tick();
  void TickModal(QWidget* modal);
  // Presses a standard button of the box; false, and the tour ends, when the
  // box has no such button.
  bool Press(QMessageBox* box, int button);
  void Advance(Step next);
  void Save(QWidget* widget, const char* name);
  void Fail(const char* what);

  ui::TForm1& form_;
  QString folder_;
  QString firmware_;
  Step step_ = Step::kRefresh;
  QTimer ticker_;
  QElapsedTimer in_step_;
};

}  // namespace orvane::app
