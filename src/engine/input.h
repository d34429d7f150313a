// The input thread and the hand-off of command lines to the main thread.
//
// Standard input is read by a thread of its own so that "stop", "ponderhit",
// "isready" and "quit" reach the engine while the main thread searches.  The
// input thread only appends lines to the command queue (under queueMutex)
// and raises the wake flag (under wakeMutex); the main thread takes lines
// off the queue from its idle loop or from the search's time poll.  The two
// mutexes are never held together.
#pragma once

#include <optional>
#include <string>

// Longest line kept; the rest of a longer line is dropped.
constexpr size_t MaxLineLength = 4096;

// The line being cut from the input: a line feed ends it; a line longer
// than MaxLineLength keeps its first MaxLineLength bytes.  Carriage returns
// and NUL bytes stay in the line (the handler deals with them).
struct LineSplitter {
  std::string line;
  bool overlong = false;  // dropping the tail of a line above MaxLineLength
};
// Hands every line the bytes complete to accept, in order, and stops at a
// line accept answers false for (reading should end); false then.
bool splitLines(LineSplitter& splitter, const char* bytes, size_t count, bool (*accept)(const std::string&));
// At end of input: a last line without a line feed goes to accept too;
// accept's answer (true when there is none).
bool finishLines(LineSplitter& splitter, bool (*accept)(const std::string&));

// Queues one complete line read from standard input (an empty line is
// dropped) and wakes the main thread.  False when reading should end: the
// line begins with "quit"; it stays queued, as the point up to which the
// lines read before it are still carried out.  The input thread hands it
// every line; the UCI fuzz target hands it its lines the same way.
bool acceptLine(const std::string& line);

// Starts the input thread (once, after all start-up work).
void startInputThread();
// Ends the input thread for the quit sequence (quitRequested is set): it
// has ended by itself at end of input (raising inputEnded) or after a line
// beginning with "quit"; otherwise its blocked read is interrupted.
void joinInputThread();
// The input thread's body.
void inputThreadMain();

// Cheap emptiness test without the mutex (an atomic line count).
bool commandQueueEmpty();
// Removes and returns the oldest queued line.
std::optional<std::string> popCommand();
// Appends a line to the queue and wakes the main thread.
void pushCommand(const std::string& line);

// Idle wait of the main loop and of a search that has ended but may not
// answer yet: sleeps until the wake flag is set, then clears it.  Once the
// input has ended or a quit is pending it returns at once.
void waitForWake();
// Sets the wake flag and signals the main loop.
void raiseWake();
