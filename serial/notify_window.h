// The hidden window of the user-interface thread. The reader and writer
// queue their notifications here and signal an eventfd; a socket notifier of
// the user-interface thread's event loop then hands them to the handler in
// posting order. The threads themselves never call into Qt.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/comm_defs.h"
#include "serial/port_io.h"

namespace orvane::serial {

class NotifyWindow final : public QObject, public NotifySink {
 public:
  explicit NotifyWindow(std::function<void(const Notification&)> handler);
  ~NotifyWindow() override;

  bool Post(Notification notification) override;  // any thread
  // Drops what waits undelivered: the port those notifications came from is
  // closed, and they must not act on the next one.
  void Discard();

 private:
  void Deliver();
  bool TakeNext(Notification& notification, bool& more);

  std::function<void(const Notification&)> handler_;
  WakeFd wake_;
  std::unique_ptr<QSocketNotifier> notifier_;
  // The lock hands each notification over to the user-interface thread.
  std::mutex mutex_;
  std::deque<Notification> pending_;
};

}  // namespace orvane::serial
