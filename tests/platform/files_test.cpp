// The file layer: 64-bit sizes and offsets, the open modes, what a
// missing, empty or folder name gives, and joined names, on every system;
// then the names that are no files on each system: on POSIX systems a
// socket and a FIFO (refused at once, the open never waiting for a FIFO's
// other end; Windows has neither in its file system), on Windows the
// device names, refused by name before any open, and the system's
// messages, which must reach the info strings as UTF-8.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include "platform/files_windows.h"
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/files_posix.h"
#endif

namespace {

int processId() {
#ifdef _WIN32
  return _getpid();
#else
  return (int)getpid();
#endif
}

std::string tempPath(const char* what) {
  return ::testing::TempDir() + "orvane_files_" + std::to_string(processId()) + "_" + what;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readAll(FILE* file) {
  std::string bytes;
  for (int c; (c = std::fgetc(file)) != EOF;) bytes += (char)c;
  return bytes;
}

constexpr int64_t GiB = int64_t(1) << 30;

// A sparse file of 4 GiB and 24 bytes (written by the C++ library, not the
// layer under test) with a mark at 3 GiB, past what a signed 32-bit offset
// holds, and one at 4 GiB + 16, which a 32-bit offset takes for 16: the
// size and both marks are found through fileSize and seekTo, and measuring
// the size leaves the stream where it was.
TEST(Files, SizeAndSeekReachPastFourGiB) {
  const std::string path = tempPath("large");
  const int64_t marks[2] = {3 * GiB, 4 * GiB + 16};
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int64_t at : marks) {
      out.seekp(at);
      out.write(reinterpret_cast<const char*>(&at), sizeof at);
    }
    ASSERT_TRUE(out.good()) << path;
  }
  std::string problem;
  FILE* file = fopenWithoutWaiting(path.c_str(), "rb", true, &problem);
  ASSERT_NE(file, nullptr) << problem;
  EXPECT_EQ(fileSize(file), 4 * GiB + 24);
  for (int64_t at : marks) {
    ASSERT_TRUE(seekTo(file, at)) << at;
    EXPECT_EQ(fileSize(file), 4 * GiB + 24);
    int64_t found = 0;
    EXPECT_EQ(std::fread(&found, sizeof found, 1, file), 1u) << at;
    EXPECT_EQ(found, at);
  }
  EXPECT_FALSE(seekTo(file, -16));
  std::fclose(file);
  std::remove(path.c_str());
}

// The three open modes write, append and read; an unknown mode, a missing
// name and a folder are refused with their reasons.  A table file that is
// missing, empty, a folder or a real file gives its own status, a missing
// one without a message (tables are looked for in every folder).
TEST(Files, OpenModesAndTableFileStatus) {
  const std::string path = tempPath("modes"), missing = tempPath("missing"), folder = ::testing::TempDir();
  std::remove(path.c_str());
  std::string problem;
  for (const char* mode : {"wb", "a", "wb", "a", "a"}) {
    FILE* file = fopenWithoutWaiting(path.c_str(), mode, false, &problem);
    ASSERT_NE(file, nullptr) << mode << ": " << problem;
    std::fputs(mode, file);
    std::fclose(file);
  }
  FILE* file = fopenWithoutWaiting(path.c_str(), "rb", true, &problem);
  ASSERT_NE(file, nullptr) << problem;
  EXPECT_EQ(readAll(file), "wbaa");
  EXPECT_EQ(fileSize(file), 4);
  std::fclose(file);
  EXPECT_EQ(fopenWithoutWaiting(path.c_str(), "x", false, &problem), nullptr);
  EXPECT_EQ(problem, "unknown open mode x");
  EXPECT_EQ(fopenWithoutWaiting(missing.c_str(), "rb", false, &problem), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(problem, "No such file or directory");
  EXPECT_EQ(fopenWithoutWaiting(folder.c_str(), "rb", false, &problem), nullptr);
  EXPECT_EQ(problem, "a directory, not a file");

  FileMapping mapping;
  problem = "";
  EXPECT_EQ(mapReadOnly(missing, &mapping, &problem), MapStatus::Missing);
  EXPECT_EQ(problem, "");
  EXPECT_FALSE(regularFileReadable(missing, &problem));
  EXPECT_EQ(problem, "");
  EXPECT_EQ(mapReadOnly(folder, &mapping, &problem), MapStatus::Unopenable);
  EXPECT_NE(problem, "");
  problem = "";
  EXPECT_FALSE(regularFileReadable(folder, &problem));
  EXPECT_NE(problem, "");
  writeFile(path, "");
  EXPECT_TRUE(regularFileReadable(path, &problem));
  EXPECT_EQ(mapReadOnly(path, &mapping, &problem), MapStatus::Unmappable);
  EXPECT_EQ(problem, "empty file");
  writeFile(path, "table");
  ASSERT_EQ(mapReadOnly(path, &mapping, &problem), MapStatus::Mapped) << problem;
  EXPECT_EQ(std::string((const char*)mapping.data, mapping.size), "table");
  unmapReadOnly(mapping);
  EXPECT_EQ(mapping.data, nullptr);
  std::remove(path.c_str());
}

// Names in a folder are joined with the system's separator, the only one
// that Windows' "\\?\" and UNC folders accept; a folder that already ends
// in a separator gets none more.
TEST(Files, JoinPathUsesTheSystemSeparator) {
#ifdef _WIN32
  EXPECT_EQ(joinPath("\\\\?\\Z:\\tables", "KQvK.rtbw"), "\\\\?\\Z:\\tables\\KQvK.rtbw");
  EXPECT_EQ(joinPath("\\\\server\\share", "KQvK.rtbw"), "\\\\server\\share\\KQvK.rtbw");
  EXPECT_EQ(joinPath("C:\\tables\\", "KQvK.rtbw"), "C:\\tables\\KQvK.rtbw");
  EXPECT_EQ(joinPath("C:/tables/", "KQvK.rtbw"), "C:/tables/KQvK.rtbw");
  // "\\?\" names are not normalised: "/" there is no separator.
  EXPECT_EQ(joinPath("\\\\?\\Z:\\tables/", "KQvK.rtbw"), "\\\\?\\Z:\\tables\\KQvK.rtbw");
  EXPECT_EQ(joinPath("\\\\?\\Z:\\tables\\/", "KQvK.rtbw"), "\\\\?\\Z:\\tables\\KQvK.rtbw");
  EXPECT_EQ(joinPath("\\\\?\\Z:\\", "KQvK.rtbw"), "\\\\?\\Z:\\KQvK.rtbw");
#else
  EXPECT_EQ(joinPath("/srv/tables", "KQvK.rtbw"), "/srv/tables/KQvK.rtbw");
  EXPECT_EQ(joinPath("/srv/tables/", "KQvK.rtbw"), "/srv/tables/KQvK.rtbw");
  EXPECT_EQ(joinPath("back\\slash", "KQvK.rtbw"), "back\\slash/KQvK.rtbw");
#endif
}

#ifdef _WIN32

// Every device name form is refused by its name, before an open that could
// reach a serial port or the console: with a colon, an extension, trailing
// spaces, in any case and in any folder; names that only begin like a
// device are files.
TEST(WindowsFiles, DeviceNamesAreRefusedByName) {
  for (const char* device : {"NUL", "NUL:", "nul:", "con:", "COM1:", "LPT1:", "lpt9", "aux.txt", "Prn.log:",
                             "C:\\books\\COM3.bin", "C:/books/Nul .bin", "C:NUL:", "CONIN$", "conout$:",
                             "\\\\.\\COM1", "//./pipe/x"})
    EXPECT_TRUE(namesDevice(device)) << device;
  for (const char* file : {"NULL", "nul_book.bin", "COM10", "COM0", "console.log", "LPT", "C:\\NUL\\book.bin",
                           "C:\\books\\com1x.bin", ":", ""})
    EXPECT_FALSE(namesDevice(file)) << file;
  std::string problem;
  for (const char* device : {"COM1:", "NUL:", "con:"}) {
    EXPECT_EQ(fopenWithoutWaiting(device, "wb", false, &problem), nullptr) << device;
    EXPECT_EQ(problem, "a device, not a file") << device;
  }
}

// A save (hash file, log) over an existing hidden file replaces it and
// leaves it hidden; over a read-only one it is refused with a reason and
// the file stays as it was (unless the system lets the user write it all
// the same, as Wine does for root).
TEST(WindowsFiles, SavesOverHiddenFilesAndRefusesReadOnlyOnes) {
  const std::string path = tempPath("attributes.bin");
  const std::wstring wide(path.begin(), path.end());
  for (DWORD attribute : {(DWORD)FILE_ATTRIBUTE_HIDDEN, (DWORD)FILE_ATTRIBUTE_READONLY}) {
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    writeFile(path, "old");
    ASSERT_TRUE(SetFileAttributesW(wide.c_str(), attribute));
    std::string problem;
    FILE* file = fopenWithoutWaiting(path.c_str(), "wb", false, &problem);
    const bool saved = file != nullptr;
    if (saved) {
      std::fputs("new", file);
      std::fclose(file);
      EXPECT_EQ(GetFileAttributesW(wide.c_str()) & attribute, attribute);
    } else {
      EXPECT_NE(attribute, (DWORD)FILE_ATTRIBUTE_HIDDEN) << problem;
      EXPECT_FALSE(problem.empty());
    }
    file = fopenWithoutWaiting(path.c_str(), "rb", false, &problem);
    ASSERT_NE(file, nullptr) << problem;
    EXPECT_EQ(readAll(file), saved ? "new" : "old");
    std::fclose(file);
  }
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::remove(path.c_str());
}

// A message with letters beyond ASCII (French: "Accès refusé", "Paramètre
// non valide") arrives as UTF-8, not in the local code page.  Wine carries
// the French messages; a Windows without them has no text to give.
TEST(WindowsFiles, SystemMessagesAreUtf8) {
  const unsigned long french = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
  EXPECT_EQ(systemMessage(ERROR_ACCESS_DENIED, french), "Acc\xc3\xa8s refus\xc3\xa9");
  EXPECT_EQ(systemMessage(ERROR_INVALID_PARAMETER, french), "Param\xc3\xa8tre non valide");
  EXPECT_EQ(systemMessage(ERROR_INVALID_PARAMETER, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), "Invalid parameter");
}

#else

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

// A stream with no file under it (a book held in memory) is measured by its
// end, and left where it was.
TEST(Files, SizeOfAStreamInMemory) {
  char bytes[] = "0123456789";
  FILE* file = fmemopen(bytes, 10, "rb");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(seekTo(file, 3));
  EXPECT_EQ(fileSize(file), 10);
  EXPECT_EQ(std::fgetc(file), '3');
  std::fclose(file);
}

#endif

}  // namespace
