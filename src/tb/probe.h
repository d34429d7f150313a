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
// separated by PathListSeparator, ';' on Windows and ':' elsewhere; empty or
// "<empty>" = none) and reports what it found.
void tbInit(const std::string& path);

// Stores the "Syzygy Probe Limit" value clamped to 0..6 in probeLimit and
// tells the interface how many men the tablebases will serve; returns the
// stored value.
int tbSetProbeLimit(int limit);

// Win/draw/loss for the side to move (-2 loss .. 2 win, +-1 = the fifty-move
// rule turns the result into a draw), captures and en passant resolved.
// *success is 0 when a needed table is missing or unusable.
int probeWdl(const Position& pos, int* success);

// Signed distance in plies to the next capture or pawn move on the way to
// the tablebase result (0 draw; beyond +-100 the fifty-move rule intervenes).
// Main thread only.  *success is 0 on failure.
int probeDtz(const Position& pos, int* success);

// The steps of the probes above.  probeWdlTable: the value stored for pos
// (captures not resolved).  probeWdlCaptures: WDL with captures searched in
// [alpha, beta]; *success 2 when a capture decided it.  probeDtzTable: the
// stored distance for pos whose WDL is wdl; *success -1 when the table
// holds only the other side to move.
int probeWdlTable(const Position& pos, int* success);
int probeWdlCaptures(const Position& pos, int alpha, int beta, int* success);
int probeDtzTable(const Position& pos, int wdl, int* success);

// Material string such as "KRPvKR": white first, or black first when mirror.
std::string materialString(const Position& pos, bool mirror);
