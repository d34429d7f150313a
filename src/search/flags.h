// Process-wide control flags shared by the front end and the search.
// Written by one thread and polled by others: relaxed atomics.  The front
// end installs the two callbacks at start-up, so the search can hand queued
// commands to the command handler and end the process without including
// the front end.
#pragma once

#include <atomic>

extern std::atomic<int> quitRequested;  // "quit" seen: stop, carry out the lines before it, end
// Standard input has ended without "quit": every line read is carried out,
// a search that only "stop" or "ponderhit" could end is stopped, and the
// process ends when nothing is left.  Stored with release order after the
// last line was queued, so a reader that loads it with acquire order and
// then finds the queue empty knows that every line has been taken.
extern std::atomic<int> inputEnded;
extern std::atomic<int> searching;      // a "go" search is running
extern std::atomic<int> pondering;      // the running search is a ponder search
extern std::atomic<int> benchMode;      // benchmark running: no search output
extern int maxIterationDepth;           // the iteration loop never goes deeper (1000)

// Runs one queued command line (the command handler); set by the front end.
extern void (*commandPoller)();
// True when no command line is waiting; set by the front end.
extern bool (*commandQueueIsEmpty)();
// Blocks until a command line may be waiting, the input has ended or a quit
// was asked for; set by the front end.  Null: the waiting driver sleeps a
// millisecond at a time instead.
extern void (*waitForCommand)();
// Joins the input and helper threads and ends the process with status 0.
extern void (*quitSequence)();
// Writes one formatted message (with its own line feed) to the log when a
// log file is open, else does nothing; set by the front end.
extern void (*logMessage)(const char* message);
// Whether a log file is open (messages that cost work to build are only
// built then); set by the front end.
extern bool (*logIsActive)();
