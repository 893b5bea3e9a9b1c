#include "platform/posix/posix_send.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/posix/posix_clock.h"

namespace platform::posix {

ssize_t SendPacketBy(int fd, const void* packet, std::size_t size, std::uint64_t deadline) {
  for (;;) {
    const ssize_t sent = send(fd, packet, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0 || (errno != EAGAIN && errno != EINTR)) return sent;
    if (errno == EINTR) continue;
    pollfd room{fd, POLLOUT, 0};
    const int ready = poll(&room, 1, PollTimeoutUntil(deadline));
    if (ready == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    if (ready < 0 && errno != EINTR) return -1;
  }
}

}  // namespace platform::posix
