// Standard output on POSIX systems (and in WebAssembly, whose runtime
// hands the bytes to its host).  A descriptor that does not block answers
// a full pipe with EAGAIN; the writer then waits in poll() until the
// reader has made room.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/stdout_writer.h"

bool writeStandardOutput(const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = write(STDOUT_FILENO, bytes, count);
    if (n > 0) {
      bytes += n;
      count -= (size_t)n;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      if (poll(&out, 1, -1) < 0 && errno != EINTR) return false;
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}
