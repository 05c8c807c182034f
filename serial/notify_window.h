// The hidden window of the user-interface thread: a QObject that the reader
// and writer post their notifications to. Each notification is queued and
// announced by one posted event, so they reach the handler in posting order.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

#include "serial/comm_defs.h"

namespace orvane::serial {

class NotifyWindow final : public QObject, public NotifySink {
 public:
  explicit NotifyWindow(std::function<void(const Notification&)> handler)
      : handler_(std::move(handler)) {}

  bool Post(Notification notification) override;  // any thread

 protected:
  void customEvent(QEvent* event) override;

 private:
  std::function<void(const Notification&)> handler_;
  // The lock hands each notification over to the user-interface thread.
  std::mutex mutex_;
  std::deque<Notification> pending_;
};

}  // namespace orvane::serial
