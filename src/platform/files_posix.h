// The POSIX side of the file layer, for the code and tests that work with
// descriptors.
#pragma once

#include <sys/stat.h>

#include <string>

// Opens path with the open(2) flags, never waiting: a file that exists is
// checked by stat before the open, the open itself does not wait
// (O_NONBLOCK, cleared again for the reads and writes that follow) and
// what was opened is checked again by fstat (the name may have been
// replaced in between).  FIFOs, sockets and directories are refused, and
// with regularOnly everything but a regular file.  The descriptor (not
// inherited by child processes) with *info filled, or -1 with *problem
// saying why; errno is then the failed call's, or 0 for a refused kind.
int openWithoutWaiting(const char* path, int flags, bool regularOnly, struct stat* info, std::string* problem);
// The second half of openWithoutWaiting: the open that does not wait and
// the fstat check of what it opened, without the stat check before it.
// This is the guard against a name that became a FIFO after the stat
// check; the same results as openWithoutWaiting.
int openAndCheckKind(const char* path, int flags, bool regularOnly, struct stat* info, std::string* problem);
