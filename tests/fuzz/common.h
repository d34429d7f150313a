// Shared pieces of the fuzz targets: the engine's start-up as the program
// runs it, the position consistency check every target applies, the test
// data the targets read (a missing file stops the target: no silent
// skips) and a scratch folder of the process's own for files the engine
// writes or reads by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/position.h"

// Builds every process-wide table in the program's start-up order, with the
// smallest table sizes ("Hash" 1 MB, "Table Memory" 1 MB, one thread) and
// no book, log or tablebase file.  Safe to call more than once.
void startEngine();

// Sends standard output to a sink that drops it without a system call: the
// engine flushes after every line, and writing those lines to /dev/null
// would cost the targets a large share of their speed.
void discardStandardOutput();

// Why pos breaks an invariant of the Position record (bitboards against
// the board array, the unions and counts, every key against its value
// computed from scratch, the check flag), or an empty text when it holds.
std::string positionFault(const Position& pos);

// Prints the finding and aborts, which libFuzzer reports as a crash with
// the input that caused it.
[[noreturn]] void fuzzFailure(const std::string& what);

// A file of the source tree (path relative to it), whole; aborts when it
// cannot be read or is empty.
std::vector<uint8_t> sourceFile(const std::string& relativePath);
// The FEN texts of the perft files in tests/data (four fields each).
std::vector<std::string> perftFens();

// A folder of this process's own under /dev/shm (or /tmp), removed at exit.
const std::string& scratchDir();
// Writes bytes to path, replacing it; aborts when that fails.
void writeFile(const std::string& path, const uint8_t* data, size_t size);
