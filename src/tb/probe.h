// Syzygy endgame tablebases: the registry of table files found along
// "SyzygyPath", their lazy mapping and decoding, and the win/draw/loss and
// distance-to-zero probes.
//
// tbInit runs on the main thread while no search runs.  probeWdl may be
// called by every search thread: lookups are lock-free and only the first
// load of a table takes the loading mutex.  probeDtz uses an unlocked cache
// and is called only by the main thread before the helpers start.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "board/position.h"

extern int maxMen;                    // most pieces (kings included) of any registered table, 0 = none
extern int probeLimit;                // "Syzygy Probe Limit", clamped to 0..6
extern std::atomic<uint32_t> tbHits;  // table values decoded since the search started

// Replaces the registry by the tables found along path (directories
// separated by ':'; empty or "<empty>" = none) and reports what it found.
void tbInit(const std::string& path);

// Win/draw/loss for the side to move (-2 loss .. 2 win, +-1 = the fifty-move
// rule turns the result into a draw), captures and en passant resolved.
// *success is 0 when a needed table is missing or unusable.
int probeWdl(const Position& pos, int* success);

// Signed distance in plies to the next capture or pawn move on the way to
// the tablebase result (0 draw; beyond +-100 the fifty-move rule intervenes).
// Main thread only.  *success is 0 on failure.
int probeDtz(const Position& pos, int* success);

// Material string such as "KRPvKR": white first, or black first when mirror.
std::string materialString(const Position& pos, bool mirror);
