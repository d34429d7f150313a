#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/stdin_reader.h"

long readStandardInput(char* buffer, size_t size, int timeoutMs) {
  pollfd fd{0, POLLIN, 0};
  const int ready = poll(&fd, 1, timeoutMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  const ssize_t n = read(0, buffer, size);
  if (n < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  return n == 0 ? -1 : (long)n;
}
