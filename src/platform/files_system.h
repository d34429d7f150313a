// The calls each system implements for the shared file code of files.cpp
// (files_posix.cpp, files_windows.cpp).  Only the platform layer includes
// this header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/files.h"

// What an open is for: reading an existing file, writing a file created or
// emptied first, or appending to a file created when missing.
enum class OpenMode { Read, Write, Append };

// A file opened by the system: its handle (a descriptor, or a Windows
// HANDLE) and its size in bytes when it was opened.
struct SystemFile {
  intptr_t handle = -1;
  int64_t size = 0;
};

// Opens path for mode, never waiting, refusing what is no file (and, with
// regularOnly, everything but a regular file).  False with *problem saying
// why; errno is then ENOENT (or ENOTDIR) when the file or a folder on its
// way does not exist, and something else (0 for a refused kind) otherwise.
bool openSystemFile(const char* path, OpenMode mode, bool regularOnly, SystemFile* file, std::string* problem);
// Turns an open file into a stdio stream of the fopen mode; the file
// belongs to the stream from then on, or is closed when that fails.
FILE* streamFromSystemFile(SystemFile& file, const char* mode, std::string* problem);
// Maps the whole of a non-empty open file read-only; false with *problem.
bool mapSystemFile(const SystemFile& file, FileMapping* mapping, std::string* problem);
void closeSystemFile(SystemFile& file);
