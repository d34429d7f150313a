// Reading the engine's standard input, one implementation per system.
// Only the input thread calls readStandardInput.
#pragma once

#include <cstddef>

// Blocks until standard input has bytes: their count, or -1 at the end of input or on an
// error that ends reading (0 may be returned spuriously; the caller reads again).
long readStandardInput(char* buffer, size_t size);
// Makes a read blocked in readStandardInput return (-1) soon, so the quit sequence can join
// the input thread; harmless when no read is blocked.
void interruptStandardInput();
