#include "platform/files_posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/files.h"
#include "platform/files_system.h"

namespace {

// Why a file of this kind is refused, or null when it is usable.
const char* refusedKind(mode_t mode, bool regularOnly) {
  if (regularOnly) return S_ISREG(mode) ? nullptr : "not a regular file";
  if (S_ISFIFO(mode)) return "a FIFO, not a file";
  if (S_ISSOCK(mode)) return "a socket, not a file";
  if (S_ISDIR(mode)) return "a directory, not a file";
  return nullptr;
}

// Fills *problem from errno and returns -1.
int systemFailure(std::string* problem) {
  *problem = std::strerror(errno);
  return -1;
}

int refusal(const char* kind, std::string* problem) {
  *problem = kind;
  errno = 0;
  return -1;
}

}  // namespace

int openWithoutWaiting(const char* path, int flags, bool regularOnly, struct stat* info, std::string* problem) {
  if (stat(path, info) == 0) {
    if (const char* kind = refusedKind(info->st_mode, regularOnly)) return refusal(kind, problem);
  } else if (errno != ENOENT || !(flags & O_CREAT)) {
    return systemFailure(problem);
  }
  return openAndCheckKind(path, flags, regularOnly, info, problem);
}

int openAndCheckKind(const char* path, int flags, bool regularOnly, struct stat* info, std::string* problem) {
  const int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return systemFailure(problem);
  const char* kind = fstat(fd, info) != 0 ? std::strerror(errno) : refusedKind(info->st_mode, regularOnly);
  const int status = kind ? 0 : fcntl(fd, F_GETFL);
  if (!kind && (status == -1 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)) kind = std::strerror(errno);
  if (!kind) return fd;
  close(fd);
  return refusal(kind, problem);
}

// Sizes and offsets of files beyond 4 GiB (books, hash files) need a
// 64-bit off_t; a 32-bit system must build with _FILE_OFFSET_BITS=64.
static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

bool openSystemFile(const char* path, OpenMode mode, bool regularOnly, SystemFile* file, std::string* problem) {
  const int flags = mode == OpenMode::Read    ? O_RDONLY
                    : mode == OpenMode::Write ? O_WRONLY | O_CREAT | O_TRUNC
                                              : O_WRONLY | O_CREAT | O_APPEND;
  struct stat info;
  const int fd = openWithoutWaiting(path, flags, regularOnly, &info, problem);
  if (fd < 0) return false;
  file->handle = fd;
  file->size = (int64_t)info.st_size;
  return true;
}

FILE* streamFromSystemFile(SystemFile& file, const char* mode, std::string* problem) {
  FILE* stream = fdopen((int)file.handle, mode);
  if (!stream) {
    systemFailure(problem);
    closeSystemFile(file);
  }
  return stream;
}

bool mapSystemFile(const SystemFile& file, FileMapping* mapping, std::string* problem) {
  if ((uint64_t)file.size > SIZE_MAX) {
    *problem = "too large to map";
    return false;
  }
  void* base = mmap(nullptr, (size_t)file.size, PROT_READ, MAP_SHARED, (int)file.handle, 0);
  if (base == MAP_FAILED) {
    systemFailure(problem);
    return false;
  }
  mapping->data = static_cast<const uint8_t*>(base);
  mapping->size = (size_t)file.size;
  return true;
}

void closeSystemFile(SystemFile& file) {
  if (file.handle >= 0) close((int)file.handle);
  file.handle = -1;
}

void unmapReadOnly(FileMapping& mapping) {
  if (!mapping.data) return;
  munmap(const_cast<uint8_t*>(mapping.data), mapping.size);
  mapping = FileMapping{};
}

// A regular file's size is its length on disk.  Anything else (a stream in
// memory, a device) is measured by seeking to its end and back.
int64_t fileSize(FILE* file) {
  struct stat info;
  const int fd = fileno(file);
  if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return (int64_t)info.st_size;
  const off_t here = ftello(file);
  if (here < 0 || fseeko(file, 0, SEEK_END) != 0) return -1;
  const off_t end = ftello(file);
  return fseeko(file, here, SEEK_SET) == 0 ? (int64_t)end : -1;
}

bool seekTo(FILE* file, int64_t offset) { return offset >= 0 && fseeko(file, (off_t)offset, SEEK_SET) == 0; }

FolderStatus checkFolder(const std::string& dir, std::string* problem) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    *problem = std::strerror(errno);
    return FolderStatus::Unreadable;
  }
  if (!S_ISDIR(st.st_mode)) return FolderStatus::NotAFolder;
  if (access(dir.c_str(), X_OK) != 0) {
    *problem = std::strerror(errno);
    return FolderStatus::Unreadable;
  }
  return FolderStatus::Usable;
}
