// Names that are no files, opened through the POSIX file layer: each is
// refused at once with its reason, and the open never waits for a FIFO's
// other end.
#include "platform/files_posix.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::string tempPath(const char* what) {
  return ::testing::TempDir() + "orvane_files_" + std::to_string(getpid()) + "_" + what;
}

// A socket bound to a name in the file system is refused by its kind; an
// open would fail with a reason that says nothing about it.
TEST(Files, SocketIsRefusedByItsKind) {
  const std::string path = tempPath("socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  std::remove(path.c_str());
  const int server = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  ASSERT_EQ(bind(server, (const sockaddr*)&address, sizeof address), 0) << std::strerror(errno);
  struct stat info;
  std::string problem;
  errno = EINVAL;
  EXPECT_EQ(openWithoutWaiting(path.c_str(), O_RDONLY, false, &info, &problem), -1);
  EXPECT_EQ(problem, "a socket, not a file");
  EXPECT_EQ(errno, 0);
  close(server);
  std::remove(path.c_str());
}

// The open itself, without the check before it, refuses a FIFO that has no
// writer at once: it must not wait for one.  Should it wait after all, a
// helper opens the other end after two seconds, so the test fails on the
// time it took instead of hanging.
TEST(Files, OpenOfAFifoWithoutWriterReturnsAtOnce) {
  const std::string path = tempPath("fifo");
  std::remove(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  std::mutex mutex;
  std::condition_variable doneSignal;
  bool done = false;
  std::thread releaser([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (doneSignal.wait_for(lock, std::chrono::seconds(2), [&] { return done; })) return;
    // Both ends at once: this open never waits, and it frees a reader
    // blocked in its open.
    const int fd = open(path.c_str(), O_RDWR);
    if (fd >= 0) close(fd);
  });
  const auto start = std::chrono::steady_clock::now();
  struct stat info;
  std::string problem;
  const int fd = openAndCheckKind(path.c_str(), O_RDONLY, false, &info, &problem);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  doneSignal.notify_one();
  releaser.join();
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(problem, "a FIFO, not a file");
  EXPECT_LT(seconds, 1.0) << "the open waited for a writer";
  if (fd >= 0) close(fd);
  std::remove(path.c_str());
}

}  // namespace
