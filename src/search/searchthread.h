// The per-thread search block: everything one search thread owns while it
// searches (root copy, root move list, per-iteration results, killers,
// counter moves and history).  Block t belongs to thread
// t alone; the driver writes the blocks only between searches and iterations
// (root copy, root moves, clearing the tables), the thread itself writes them
// while it searches.  The node counter and stop flag live in threadSignals[t]
// (board/position.h) so make-move can count nodes without seeing this block.
#pragma once

#include <cstdint>
#include <thread>

#include "board/position.h"
#include "search/threads.h"

constexpr int MaxIterations = 160;  // iterScore/iterPV slots, one per iteration depth
constexpr int KillerPlies = 160;    // killer slots, one per ply
constexpr int MaxRootMoves = 220;
constexpr int PvLength = 64;        // a PV buffer: at most 63 moves, then 0

// Per-ply killer moves: the two newest quiet cut moves, and the newest cut
// move found while the side to move was in check.
struct KillerSlots {
  Move killer1;
  Move killer2;
  Move checkKiller;
};

// One root move with its last search score and the nodes spent on it.
struct RootMove {
  Move move;
  int32_t score;
  uint64_t nodes;
};

struct SearchThread {
  Position rootPosition;            // helper's copy of the root
  int workDepth;                    // iteration the helper is to search; 0 = none
  int iterScore[MaxIterations];     // best score of each iteration
  Move iterPV[MaxIterations][PvLength];  // principal variation of each iteration
  RootMove rootMoves[MaxRootMoves]; // ended by move 0
  int rootMoveCount;
  KillerSlots killers[KillerPlies];
  HistoryTable history;             // [colour][piece type][to], 0..32640
  Move counterMoves[2][14][4096];   // [slot][side * 7 + moved type][lastMove & 0xFFF]
  uint32_t pollCounter;             // thread 0: nodes since the last clock poll
  std::thread threadHandle;         // helper thread; empty for thread 0
  uint8_t wake;                     // set by the main thread to start the helper
};

// The pool: block t for thread t, allocated by the thread pool builder
// (search/threads.cpp; the array itself is defined with the node routines);
// unused entries are null.  Thread 0's block always exists once the pool
// has been built.
extern SearchThread* searchThreads[MaxThreads];

// Clears the tables that do not survive from one search to the next
// (killers, counter moves) and the node counter; history is kept.
void clearSearchTables(SearchThread& thread);
