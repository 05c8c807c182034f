// The progress bar and the queue counter, redrawn at most once per turn of
// the event loop. The link sets them for every command it queues or pops, and
// a firmware image queues thousands at once; drawing each of those values
// would hold the window for seconds. The latest values are kept and shown
// when the loop next runs; what is shown then is exactly the last of each.
#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QLabel;
class QProgressBar;

namespace orvane::ui {

class DeferredProgress : public QObject {
  Q_OBJECT

 public:
  DeferredProgress(QProgressBar* bar, QLabel* counter, QObject* parent = nullptr);

  void SetMaximum(int maximum);
  // The bar keeps its position within its range, as a native progress bar
  // does; the range is the one in force when the values are shown.
  void SetPosition(int position);
  void SetCounter(const QString& text);

 private:
  void PostShow();
  void Show();

  QProgressBar* bar_;
  QLabel* counter_;
  std::optional<int> maximum_;
  std::optional<int> position_;
  std::optional<QString> text_;
  bool show_posted_ = false;
};

}  // namespace orvane::ui
