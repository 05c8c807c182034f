// SIGINT, SIGTERM and SIGHUP as events of the event loop: while a
// SignalWatch lives, each of these signals is written to a pipe by its
// handler and handed to the callback on the thread that runs the loop, where
// a run can end in order (stop sending, close the port, print its result).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

namespace orvane::cli {

class SignalWatch {
 public:
  explicit SignalWatch(std::function<void(int)> on_signal);
  ~SignalWatch();  // the earlier handlers come back
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  void Deliver();

  std::function<void(int)> on_signal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// "SIGINT" for 2, and so on; "signal N" for others.
std::string SignalName(int signal);

}  // namespace orvane::cli
