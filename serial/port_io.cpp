#include "serial/port_io.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace orvane::serial {

WakeFd::WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeFd::~WakeFd() {
  if (fd_ >= 0) close(fd_);
}

bool WakeFd::Signal() const {
  const std::uint64_t one = 1;
  return write(fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

void WakeFd::Drain() const {
  std::uint64_t count = 0;
  (void)!read(fd_, &count, sizeof count);
}

std::unique_ptr<CloseEvent> CloseEvent::Create() {
  std::unique_ptr<CloseEvent> event(new CloseEvent);
  if (!event->wake_.valid()) return nullptr;
  return event;
}

void CloseEvent::Set() const {
  set_.store(true, std::memory_order_release);
  wake_.Signal();
}

}  // namespace orvane::serial
