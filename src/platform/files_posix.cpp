#include "platform/files_posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

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

// Opens a tablebase file read-only when it is a regular file.  A missing
// file (or folder on the way) gives -1 with *problem empty.
int openTableFile(const std::string& path, size_t* length, std::string* problem) {
  struct stat st;
  std::string why;
  const int fd = openWithoutWaiting(path.c_str(), O_RDONLY, true, &st, &why);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) *problem = why;
    return -1;
  }
  *length = (size_t)st.st_size;
  return fd;
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

FILE* fopenWithoutWaiting(const char* path, const char* mode, bool regularOnly, std::string* problem) {
  const int flags = mode[0] == 'r'   ? O_RDONLY
                    : mode[0] == 'w' ? O_WRONLY | O_CREAT | O_TRUNC
                                     : O_WRONLY | O_CREAT | O_APPEND;
  struct stat info;
  const int fd = openWithoutWaiting(path, flags, regularOnly, &info, problem);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, mode);
  if (!file) {
    systemFailure(problem);
    close(fd);
  }
  return file;
}

MapStatus mapReadOnly(const std::string& path, FileMapping* mapping, std::string* problem) {
  size_t length = 0;
  const int fd = openTableFile(path, &length, problem);
  if (fd < 0) return problem->empty() ? MapStatus::Missing : MapStatus::Unopenable;
  void* base = MAP_FAILED;
  if (length == 0) *problem = "empty file";
  else if ((base = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0)) == MAP_FAILED) *problem = std::strerror(errno);
  close(fd);
  if (base == MAP_FAILED) return MapStatus::Unmappable;
  mapping->data = static_cast<const uint8_t*>(base);
  mapping->size = length;
  return MapStatus::Mapped;
}

void unmapReadOnly(FileMapping& mapping) {
  if (!mapping.data) return;
  munmap(const_cast<uint8_t*>(mapping.data), mapping.size);
  mapping = FileMapping{};
}

bool regularFileReadable(const std::string& path, std::string* problem) {
  size_t length = 0;
  const int fd = openTableFile(path, &length, problem);
  if (fd < 0) return false;
  close(fd);
  return true;
}

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
