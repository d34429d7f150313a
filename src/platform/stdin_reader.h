// Reading the engine's standard input, one implementation per system
// (stdin_reader_posix.cpp, stdin_reader_windows.cpp).  Only the input thread calls it.
#pragma once

#include <cstddef>

// Reads what standard input has, waiting at most about timeoutMs for it:
// the number of bytes read, 0 when nothing came in time, and -1 at the end
// of input or on an error that ends reading.
long readStandardInput(char* buffer, size_t size, int timeoutMs);
