#include "ui/deferred_progress.h"

#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace orvane::ui {

DeferredProgress::DeferredProgress(QProgressBar* bar, QLabel* counter, QObject* parent)
    : QObject(parent), bar_(bar), counter_(counter) {}

void DeferredProgress::SetMaximum(int maximum) {
  maximum_ = maximum;
  PostShow();
}

void DeferredProgress::SetPosition(int position) {
  position_ = position;
  PostShow();
}

void DeferredProgress::SetCounter(const QString& text) {
  text_ = text;
  PostShow();
}

// One call waits in the event queue however many values arrive before it
// runs; it is dropped with this object.
void DeferredProgress::PostShow() {
  if (show_posted_) return;
  show_posted_ = true;
  QMetaObject::invokeMethod(this, &DeferredProgress::Show, Qt::QueuedConnection);
}

// The maximum goes first, so that the position is kept within the new range.
// A progress bar draws itself at once for every new value; with its updates
// held, it is drawn once, with the window's next paint.
void DeferredProgress::Show() {
  show_posted_ = false;
  if (maximum_ || position_) {
    bar_->setUpdatesEnabled(false);
    if (maximum_) bar_->setMaximum(*maximum_);
    if (position_) bar_->setValue(std::clamp(*position_, bar_->minimum(), bar_->maximum()));
    bar_->setUpdatesEnabled(true);
  }
  if (text_) counter_->setText(*text_);
  maximum_.reset();
  position_.reset();
  text_.reset();
}

}  // namespace orvane::ui
