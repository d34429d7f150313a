// Lines on standard output.  Every report line goes out whole in one write
// of the stream and is flushed at once: the front end prints from the main
// thread, but the tablebase loader reports from whichever search thread
// first needs a table, so a line written in pieces could be split by
// another thread's line landing between them.
#pragma once

// Format checking of the printf-like functions.  MinGW's compiler checks
// "printf" against the Microsoft library; the engine's strings go through
// the standard-conforming one there too.
#ifdef __MINGW32__
#define ORVANE_PRINTF(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define ORVANE_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

// Formats one line (the line feed is added here), writes it with a single
// call and flushes standard output.
void writeLine(const char* format, ...) ORVANE_PRINTF(1, 2);

// Ends the process with status 1 after a message on standard error, for
// the conditions the engine cannot run without (a table that cannot be
// allocated).  The static destructors are skipped: helper threads may be
// parked on the pool's condition variable, and destroying it under them
// could hang the exit.
[[noreturn]] void fatalError(const char* format, ...) ORVANE_PRINTF(1, 2);
