#include "serial/port_io.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace orvane::serial {

std::unique_ptr<CloseEvent> CloseEvent::Create() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return nullptr;
  return std::unique_ptr<CloseEvent>(new CloseEvent(fd));
}

CloseEvent::~CloseEvent() { close(fd_); }

void CloseEvent::Set() const {
  const std::uint64_t one = 1;
  (void)!write(fd_, &one, sizeof one);
}

bool CloseEvent::IsSet() const {
  pollfd entry{fd_, POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}

}  // namespace orvane::serial
