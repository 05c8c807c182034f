#include "serial/port_io.h"

#include <poll.h>
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

bool CloseEvent::IsSet() const {
  pollfd entry{fd(), POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}

}  // namespace orvane::serial
