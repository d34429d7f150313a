// Reading the engine's standard input, one implementation per system
// (stdin_reader_posix.cpp, stdin_reader_windows.cpp, stdin_reader_wasm.cpp).  Only the input thread
// reads; the quit sequence interrupts.
#pragma once

#include <cstddef>

// Blocks until standard input has bytes: their count, or -1 at the end of
// input or on an error that ends reading (0 may be returned spuriously; the
// caller reads again).
long readStandardInput(char* buffer, size_t size);

// Makes a read blocked in readStandardInput return (-1) soon, so the quit
// sequence can join the input thread; harmless when no read is blocked.
// It holds for good: from then on every read, one already under way
// included, returns -1, whatever arrives.
void interruptStandardInput();

// Whether a read may stay blocked after the interrupt all the same.  On
// Windows it may: Wine reads a Unix pipe that it hands over as standard
// input with a system call that nothing cancels.  The quit sequence then
// stops waiting for the input thread once it sees it still in its read.
#ifdef _WIN32
constexpr bool InterruptMayLeaveReadBlocked = true;
#else
constexpr bool InterruptMayLeaveReadBlocked = false;
#endif
