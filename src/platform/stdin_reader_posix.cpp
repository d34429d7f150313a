// Standard input on POSIX systems.  A read waits in poll() without a time
// limit on two descriptors: standard input and the read end of a wake-up
// pipe.  interruptStandardInput writes one byte into that pipe and never
// drains it, so a read under way returns at once and every later one does
// not block; nothing depends on when the interrupt arrives (a signal sent
// to the thread would be lost if it came just before the thread entered
// its read).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/stdin_reader.h"

namespace {

std::atomic<bool> interrupted{false};

// Without a wake-up pipe (the process is out of descriptors at start) a
// read looks for the interrupt this often.
constexpr int FallbackWaitMs = 50;

struct WakePipe {
  int readEnd = -1;
  int writeEnd = -1;
};

// The wake-up pipe, made on first use by either side.  The write end does
// not block: a second interrupt into a full pipe is simply dropped.
const WakePipe& wakePipe() {
  static const WakePipe pipeEnds = [] {
    WakePipe made;
    int ends[2];
    if (pipe(ends) != 0) return made;
    for (int end : ends) fcntl(end, F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
    made.readEnd = ends[0];
    made.writeEnd = ends[1];
    return made;
  }();
  return pipeEnds;
}

}  // namespace

long readStandardInput(char* buffer, size_t size) {
  const WakePipe& wake = wakePipe();
  if (interrupted.load()) return -1;
  pollfd fds[2] = {{0, POLLIN, 0}, {wake.readEnd, POLLIN, 0}};
  const bool hasPipe = wake.readEnd >= 0;
  const int ready = poll(fds, hasPipe ? 2 : 1, hasPipe ? -1 : FallbackWaitMs);
  if (interrupted.load()) return -1;
  if (ready < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  if (fds[0].revents == 0) return 0;
  const ssize_t n = read(0, buffer, size);
  if (interrupted.load()) return -1;
  if (n < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  return n == 0 ? -1 : (long)n;
}

void interruptStandardInput() {
  const WakePipe& wake = wakePipe();
  interrupted.store(true);
  if (wake.writeEnd >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(wake.writeEnd, &byte, 1);
  }
}
