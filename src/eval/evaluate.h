// Static evaluation: the one entry the search calls, the per-thread caches
// it owns and the start-up builders.
//
// Units: scores leave evaluate() in score units (about 100 to a pawn) for the
// side to move; inside, values are fine units (1/10 of a score unit) and
// phase-weighted sums are fine units x 96.
//
// Threads: each search thread evaluates with its own three caches (finished
// scores, material, pawn structure), reached through the Position's
// pointers and overwritten without locks.  The caches are allocated and
// freed by the main thread only, while no search runs; allocation also
// records them so initTables() can empty every pawn table.  The special
// material table and the tables of tables.h are built before any search and
// are read-only while one runs.
#pragma once

#include <string>

#include "board/position.h"

// Score for the side to move.  alpha/beta only feed the lazy exit; pass
// (-35000, 35000) for an exact score.  Runs one of the two builds below,
// chosen once from hasPopcnt.
int evaluate(Position& pos, int alpha, int beta);
// The two builds: software bit count, and the processor's instruction (only
// call the latter when hasPopcnt is set).  Both give identical results.
int evaluateSoft(Position& pos, int alpha, int beta);
int evaluateHard(Position& pos, int alpha, int beta);

// EvalCache slot: a finished score for the side to move.
struct EvalCacheEntry {
  Key key;
  int32_t score;
  int32_t spare;
};
static_assert(sizeof(EvalCacheEntry) == 16, "EvalCache entries are 16 bytes");

// MaterialTable slot: the scaled material balance (fine units x 96, white's
// view) and the scale for the positional part.
struct MaterialEntry {
  Key key;
  double scale;
  int32_t value;
  int32_t spare;
};
static_assert(sizeof(MaterialEntry) == 24, "MaterialTable entries are 24 bytes");
extern Key materialTableMask;

// A known material configuration: an EndgameFunction computes the value (in
// fine units, white's view) from the piece squares and writes the scale.
using EndgameFunction = int (*)(const Position& pos, double* scale);
struct SpecialMaterial {
  Key key;
  int32_t value;   // fine units, white's view
  double scale;
  EndgameFunction function;
};
constexpr int SpecialMaterialSlots = 65536;
extern SpecialMaterial specialMaterial[SpecialMaterialSlots];

// Material balance of pos computed from its piece counts (no table).
MaterialEntry computeMaterial(const Position& pos);

// The per-thread caches of one search thread.
struct EvalCaches {
  EvalCacheEntry* evalCache = nullptr;
  PawnEntry* pawnTable = nullptr;
  MaterialEntry* materialTable = nullptr;
  uint64_t evalEntries = 0;      // table sizes, for clearing them
  uint64_t pawnEntries = 0;
  uint64_t materialEntries = 0;
  // Set when the caches are handed to a position, which may fill the pawn
  // table; a clean table (fresh from allocation, or just cleared) is not
  // cleared again.
  mutable bool pawnTableUsed = false;
};
// Sets of caches that can exist at once: one per search thread (64) and the
// "eval" command's own.  Every set is recorded so a table rebuild can empty
// all pawn tables.
constexpr int MaxCacheSets = 65;
// Whether an allocation sets the index masks that every cached evaluation
// uses.  The search threads' sets do (all of them have the same size); a set
// kept apart from the search, like the "eval" command's, leaves them alone,
// or the searchers would index their tables with its size.
enum class CacheMasks { Shared, Untouched };
// Sizes (from "Table Memory" megabytes shared by threadCount threads) and
// zero-fills the three caches of one thread; frees what it held before and,
// unless told otherwise, sets the shared index masks.  Main thread only,
// never during a search.
void allocateEvalCaches(EvalCaches& caches, int tableMemoryMb, int threadCount,
                        CacheMasks masks = CacheMasks::Shared);
void freeEvalCaches(EvalCaches& caches);
// Empties the pawn table (its entries depend on the rebuilt tables).
void clearPawnTable(EvalCaches& caches);
// Empties all three caches, e.g. for a search that must repeat another one
// node for node (the lazy exit depends on which positions were cached).
void clearEvalCaches(EvalCaches& caches);
// Points pos's cache fields at caches.
void attachEvalCaches(Position& pos, const EvalCaches& caches);

// Start-up builders: the special material table (once), then initTables()
// which rebuilds every evaluation table from the options (and the search
// tables through the hook below).
void buildSpecialMaterialTable();
void initTables();
// Set by the search at start-up: rebuilds the search tables and clears the
// pawn tables / transposition table as the option changes require.
extern void (*afterInitTables)();

// Multi-line breakdown of the evaluation terms (the "eval" command),
// ending with "Evaluation: <score>".  Computes every term afresh: it reads
// and writes none of pos's caches.
std::string evalTrace(Position& pos);
