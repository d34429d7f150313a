// Opening the files the user names (log, hash file, book, tablebases)
// without ever waiting.  An ordinary open of a FIFO blocks until another
// process opens its other end, and a socket or a directory holds no file
// data, so such names are refused with a reason instead of hanging the
// engine or failing later.  Regular files, files not yet there (when the
// mode creates them) and character devices such as /dev/null stay usable.
#pragma once

#include <sys/stat.h>

#include <cstdio>
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

// The same as a stdio stream, for the fopen modes "rb", "wb" and "a".
FILE* fopenWithoutWaiting(const char* path, const char* mode, bool regularOnly, std::string* problem);
