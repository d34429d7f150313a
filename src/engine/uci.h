// The UCI command handler and the game line it maintains.
//
// handleCommand() takes one queued input line and carries it out.  It runs
// only on the main thread: from the idle loop, and from inside a running
// search through the search's time poll.  While a search runs, commands that
// would change what the searchers read (a new position, an option, a new
// game, the debugging commands) are held back and run, in arrival order,
// after the search has answered.
#pragma once

#include <string>
#include <vector>

#include "board/position.h"

constexpr const char* EngineAuthors = "the Orvane team";

// The positions of the last "position" command: positions[0] is the set-up
// position, positions[i + 1] the position after the i-th listed move, each
// chained to its predecessor through Position::previous (repetition
// detection walks that chain from the search into the game).
constexpr int GameLineSize = 2048;
struct GameLine {
  Position positions[GameLineSize];
  int current;  // index of the position to search
};

// The active game line.  Replaced as a whole by a successful "position".
GameLine& gameLine();
// The position a "go" searches: gameLine().positions[gameLine().current].
Position& currentPosition();

// The monotonic clock (now()) at process start: the log stamps its lines
// with the seconds since.
extern double startTime;

// Runs one queued command line (see the design note above).
void handleCommand();
// True when lines held back during a search wait to run.
bool hasDeferredCommands();
// Carries out, in arrival order, the lines that came before "quit": the
// held-back lines, then the queued ones, up to the "quit" line (or until
// none is left).  A "go" among them is not started.  The quit sequence
// runs it; the UCI fuzz target calls it the same way after a "quit".
void carryOutLinesBeforeQuit();
// Joins the input thread and the helper threads, carries out the lines that
// came before the quit, and ends the process with exit status 0.  Every way
// out of the dialogue goes through here.
[[noreturn]] void runQuitSequence();

// Splits a line at blanks, tabs, carriage returns and line feeds.
std::vector<std::string> splitTokens(const std::string& line);
