// Writing the engine's standard output, one implementation per system
// (stdout_writer_posix.cpp, stdout_writer_windows.cpp).  A GUI or a harness
// may hand the engine a pipe that does not block, and a reader may be
// slow: a write that cannot go on yet waits until the reader has made
// room, so no byte is ever dropped.
#pragma once

#include <cstddef>

// Writes all count bytes, in order, waiting for the reader when the output
// is full.  False when the output is gone (the reader closed its end) or
// fails otherwise; what was not written then is lost.  On Windows each line
// feed goes out as CR LF, as the system's programs end their lines.
bool writeStandardOutput(const char* bytes, size_t count);
