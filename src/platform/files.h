// The files the user names (log, hash file, book, tablebases), opened
// without ever waiting, and the read-only mapping of tablebase files.
//
// An ordinary open of a FIFO blocks until another process opens its other
// end, a socket or a directory holds no file data, and a Windows device
// name (NUL, CON, COM1) opens a device instead of a file, so such names are
// refused with a reason instead of hanging the engine or failing later.
// Regular files and files not yet there (when the mode creates them) are
// usable everywhere; on POSIX systems character devices such as /dev/null
// are too.  What every system shares (the open modes, the empty-file
// check, telling a missing file from one that cannot be used, joining
// names) is in files.cpp, over the calls each system implements in
// files_posix.cpp or files_windows.cpp (declared in files_system.h).
// Sizes and offsets are 64-bit on every system.  Nothing here is shared
// between threads.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Separator of the folders of a path list ("SyzygyPath"): ';' on Windows,
// where a drive letter holds ':', and ':' elsewhere.
#ifdef _WIN32
constexpr char PathListSeparator = ';';
#else
constexpr char PathListSeparator = ':';
#endif

// Separator of a folder and the names in it: '\\' on Windows, the only one
// that "\\?\" and UNC folders accept, and '/' elsewhere.
#ifdef _WIN32
constexpr char PathSeparator = '\\';
#else
constexpr char PathSeparator = '/';
#endif

// Longest path the system opens: on Windows the 32767 characters of a wide
// name, which "\\?\" folders reach past the 260 of plain names.
#ifdef _WIN32
constexpr size_t MaxPathLength = 32767;
#else
constexpr size_t MaxPathLength = PATH_MAX;
#endif

// name inside the folder dir: joined with PathSeparator, or as they are when
// dir already ends in a separator (on Windows '/' counts as one too).
std::string joinPath(const std::string& dir, const std::string& name);

// Opens path as a stdio stream for the fopen modes "rb", "wb" and "a",
// never waiting.  Everything but a regular file is refused with
// regularOnly, and otherwise the kinds above.  Null with *problem saying
// why when the file cannot be used; errno is then ENOENT when the file (or
// a folder on its way) does not exist.
FILE* fopenWithoutWaiting(const char* path, const char* mode, bool regularOnly, std::string* problem);

// Size of the open file in bytes, or -1 when it cannot be told.  A stream
// without a file under it (one in memory) is measured by its end.
int64_t fileSize(FILE* file);
// Moves the stream to byte `offset` from the start; false on failure.
bool seekTo(FILE* file, int64_t offset);

// A whole file mapped read-only into memory.
struct FileMapping {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

enum class MapStatus {
  Mapped,
  Missing,     // no such file (or folder on the way)
  Unopenable,  // exists but is not a readable regular file; *problem says why
  Unmappable,  // opened but could not be mapped (an empty file among them)
};

// Maps path read-only when it is a regular file; the reason in *problem
// for Unopenable and Unmappable.
MapStatus mapReadOnly(const std::string& path, FileMapping* mapping, std::string* problem);
// Releases a mapping from mapReadOnly; an empty one is ignored.
void unmapReadOnly(FileMapping& mapping);
// Whether path opens as a readable regular file, without mapping it.
// False with *problem empty when it does not exist, else with the reason.
bool regularFileReadable(const std::string& path, std::string* problem);

enum class FolderStatus { Usable, NotAFolder, Unreadable };
// Whether dir is a folder whose files can be opened; *problem holds the
// system's reason for Unreadable.
FolderStatus checkFolder(const std::string& dir, std::string* problem);
