// The input thread's timed read (platform/input.h) on the WebAssembly
// engines, over the blocking reader of stdin_reader_wasm.cpp, whose reads
// wait at most a few tens of milliseconds.  Compiled only while the input
// thread still reads through input.h.
#if __has_include("platform/input.h")
#include "platform/input.h"
#include "platform/stdin_reader.h"

long readStandardInput(char* buffer, size_t size, int) { return readStandardInput(buffer, size); }
#endif
