// Lines on standard output.  Every text goes out whole, unbuffered, under
// one lock: the front end prints from the main thread, but the tablebase
// loader reports from whichever search thread first needs a table, and a
// write that waits for a slow reader may go out in pieces, which another
// thread's line must not land between.  Nothing is dropped when the output
// is full: the write waits for the reader (platform/stdout_writer.h).
#pragma once

#include <cstddef>
#include <string>

// Format checking of the printf-like functions.  MinGW's compiler checks
// "printf" against the Microsoft library; the engine's strings go through
// the standard-conforming one there too.
#ifdef __MINGW32__
#define ORVANE_PRINTF(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define ORVANE_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

// Formats one line (the line feed is added here) and writes it whole.
void writeLine(const char* format, ...) ORVANE_PRINTF(1, 2);
// Formats a text without adding a line feed (the benchmark's progress).
void writePart(const char* format, ...) ORVANE_PRINTF(1, 2);
// Writes a text as it is.
void writeText(const char* bytes, size_t count);
void writeText(const std::string& text);

// Ends the process with status 1 after a message on standard error, for
// the conditions the engine cannot run without (a table that cannot be
// allocated).  The static destructors are skipped: helper threads may be
// parked on the pool's condition variable, and destroying it under them
// could hang the exit.
[[noreturn]] void fatalError(const char* format, ...) ORVANE_PRINTF(1, 2);
