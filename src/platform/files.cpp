// The part of the file layer that is the same on every system, over the
// calls of files_system.h.
#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/files_system.h"

namespace {

// The open mode of an fopen mode text ("rb", "wb", "a"; 'b' and '+' are
// left to the stream); false for any other first letter.
bool parseMode(const char* mode, OpenMode* openMode) {
  switch (mode[0]) {
    case 'r': *openMode = OpenMode::Read; return true;
    case 'w': *openMode = OpenMode::Write; return true;
    case 'a': *openMode = OpenMode::Append; return true;
    default: return false;
  }
}

// Whether the open that just failed found no file at all (nor a folder on
// its way): normal for tablebases, which are looked for in every folder.
bool openFoundNothing() { return errno == ENOENT || errno == ENOTDIR; }

// Opens a tablebase file read-only when it is a regular file.  False with
// *problem empty when it is missing, else with the reason.
bool openTableFile(const std::string& path, SystemFile* file, std::string* problem) {
  std::string why;
  if (openSystemFile(path.c_str(), OpenMode::Read, true, file, &why)) return true;
  if (!openFoundNothing()) *problem = why;
  return false;
}

bool isSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

}  // namespace

std::string joinPath(const std::string& dir, const std::string& name) {
#ifdef _WIN32
  // A "\\?\" name reaches the file system as it is spelt, with no "/"
  // turned into "\": the join always uses "\", in place of whatever
  // separators the folder ends in.
  if (dir.rfind("\\\\?\\", 0) == 0) {
    size_t end = dir.size();
    while (end > 4 && isSeparator(dir[end - 1])) --end;
    return dir.substr(0, end) + '\\' + name;
  }
#endif
  if (!dir.empty() && isSeparator(dir.back())) return dir + name;
  return dir + PathSeparator + name;
}

FILE* fopenWithoutWaiting(const char* path, const char* mode, bool regularOnly, std::string* problem) {
  OpenMode openMode;
  if (!parseMode(mode, &openMode)) {
    *problem = std::string("unknown open mode ") + mode;
    errno = EINVAL;
    return nullptr;
  }
  SystemFile file;
  if (!openSystemFile(path, openMode, regularOnly, &file, problem)) return nullptr;
  return streamFromSystemFile(file, mode, problem);
}

MapStatus mapReadOnly(const std::string& path, FileMapping* mapping, std::string* problem) {
  SystemFile file;
  if (!openTableFile(path, &file, problem)) return problem->empty() ? MapStatus::Missing : MapStatus::Unopenable;
  bool mapped = false;
  if (file.size == 0)
    *problem = "empty file";
  else
    mapped = mapSystemFile(file, mapping, problem);
  closeSystemFile(file);
  return mapped ? MapStatus::Mapped : MapStatus::Unmappable;
}

bool regularFileReadable(const std::string& path, std::string* problem) {
  SystemFile file;
  if (!openTableFile(path, &file, problem)) return false;
  closeSystemFile(file);
  return true;
}
