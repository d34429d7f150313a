// The Position record, its hashing keys, FEN set-up and copy-make.
//
// A Position is a plain fixed-size record with no owned storage: making a
// move copies the parent into a child record and updates the child
// incrementally (there is no unmake).  The castling data are process-wide:
// every FEN set-up rewrites them and every Position derived from that set-up
// (the game line and all searches) reads them.  Set-up runs only while no
// search is running.
#pragma once

#include <atomic>
#include <string>
#include <type_traits>

#include "board/bitboard.h"

// Per-thread tables the Position points at; defined by the search and the
// evaluation, the board only carries the pointers (and reads history scores).
struct HistoryTable {
  int v[2][8][64];  // [colour][piece type][to square], values 0..32640
};
struct EvalCacheEntry;
struct PawnEntry;
struct MaterialEntry;

// Aligned to a cache line, so that a record spans the fewest lines and the
// block copy of copy-make never splits a piece across two of them.
struct alignas(64) Position {
  Bitboard pieces[2][7];  // [colour][0 = all, 1..6 = pawn..king]
  Bitboard occupied;
  uint8_t board[64];      // piece code per square, 0 = empty
  Bitboard enPassant;     // en-passant target square bit, 0 if none
  Key key;
  Key pawnKey;
  Key materialKey;        // additive, bishops split by square colour
  Key tbKey;              // additive, no bishop split
  ScorePair psq;          // sum of piece-square values (kept by makeMove)
  const Position* previous;
  HistoryTable* historyTable;
  EvalCacheEntry* evalCache;
  PawnEntry* pawnTable;
  MaterialEntry* materialTable;
  uint32_t lastMove;
  int32_t staticEval;     // 999999 = not computed; 32001 when in check
  int16_t movedType;
  int16_t capturedType;
  uint16_t ply;           // side to move = ply & 1
  uint16_t inCheck;
  int16_t phase;
  int16_t rule50;
  uint8_t reductionMark;     // search: reduction being applied to a child
  uint8_t frontierExtended;  // search: a depth-1 node re-searched itself
  int16_t searchSpare;       // search: spare
  int16_t threadIndex;
  int32_t lastPositional;    // evaluation: positional part of last full eval
  uint32_t pieceCount;
  uint8_t castleLost;        // bit set = right lost: 1 WK, 2 WQ, 4 BK, 8 BQ

  int sideToMove() const { return ply & 1; }
  Bitboard bb(int c, int t) const { return pieces[c][t]; }
  Square kingSquare(int c) const { return pieces[c][King] ? lsb(pieces[c][King]) : (c == White ? 0 : 56); }
};
static_assert(std::is_trivially_copyable_v<Position>, "copy-make needs a plain record");

// Castling data of the last FEN set-up (index 0 WK, 1 WQ, 2 BK, 3 BQ).
struct CastlingData {
  Square kingSquare[2];
  Square castleRook[4];
  Bitboard castleEmpty[4];
  Bitboard castleKeep[4];
  Bitboard castlePath[4];
  uint8_t castleSquareMask[64];
};
extern CastlingData castling;

// Hashing tables: fixed pseudo-random values, identical in every run.
extern Key zobrist[16][64];         // row colour*8+type; row 0 side to move; row 8 en passant
extern Key zobristCastle[16];       // one key per castleLost value
extern Key pawnZobrist[16][64];     // non-zero only for pawn and king rows
extern Key materialValue[2][8][2];  // [colour][type][square colour]
extern const int squareColour[64];  // 1 = dark square
extern const int phaseValue[8];

// Piece-square ScorePairs by piece row (colour*8+type) and square.  Filled by
// the evaluation's table builder; make-move keeps Position::psq from it.
extern ScorePair pieceSquare[16][64];

// Per-thread node counter and stop flag, each thread on its own cache line.
// makeMove counts a node for pos.threadIndex unless that thread is stopped.
struct alignas(64) ThreadSignals {
  std::atomic<uint64_t> nodes{0};
  std::atomic<uint8_t> stop{0};
};
extern ThreadSignals threadSignals[64];

// Geometry of the shared transposition table and the per-thread caches, for
// make-move's prefetch of the entries the child node will read.  Written by
// the table and cache allocators (never during a search).
extern const char* ttBuckets;  // 64-byte buckets; null when no table
extern Key ttMask;             // bucket index mask
extern Key evalCacheMask;      // EvalCache index mask (16-byte entries)
extern Key pawnTableMask;      // PawnTable index mask (40-byte entries)

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Fills the hashing tables (deterministic).  Called by initBitboards users at start-up.
void initZobrist();

// Builds pos from FEN text (empty = start position).  On malformed or
// impossible input returns false with a message in *error and leaves pos and
// the castling data untouched.
bool setPosition(Position& pos, const char* fen, std::string* error = nullptr);

// Copy-make: copies parent into child and plays move (0 = null move).
// Returns false when the mover's king is left attacked.  The move must be
// pseudo-legal in parent.  child.inCheck is left for the caller to set.
// makeMove also prefetches the child's transposition-table bucket and its
// evaluation-cache and pawn-table entries, computed from the parent before
// the copy so that the memory system works while the child is built.
bool makeMove(const Position& parent, Position& child, Move move);
// The same, prefetching only the evaluation lines: for children that will
// evaluate but never read the transposition table (deep quiescence).
bool makeMoveEvalOnly(const Position& parent, Position& child, Move move);
// The same without any prefetch, for walks that never read the tables
// (perft) and for moves made only to test their legality: the hints would
// only fill the memory system with requests nobody waits for.
bool makeMoveNoPrefetch(const Position& parent, Position& child, Move move);

// Prefetches the lines the child reached by move will read first, without
// making the move: for a node that decides about a move (pruning tests)
// before making it, so that the memory system starts early.  Move 0 is the
// null move.
void prefetchMoveTables(const Position& parent, Move move);

// The prefetch choices of the three above.
constexpr int PrefetchTable = 1, PrefetchEval = 2;

// Squares attacked by colour c (kings included in the blockers).
Bitboard attacksBy(const Position& pos, int c);
// Whether the king of colour c stands attacked (make-move's legality test).
// Tests knights, king, diagonal sliders, straight sliders, then pawns.
inline bool kingAttacked(const Position& pos, int c) {
  Square k = pos.kingSquare(c);
  const Bitboard* enemy = pos.pieces[other(c)];
  if (knightAttacks[k] & enemy[Knight]) return true;
  if (kingAttacks[k] & enemy[King]) return true;
  // The slider lookups (a large table, often not in cache) are skipped when
  // no enemy slider stands on the king's lines at all.
  Bitboard diagonal = enemy[Bishop] | enemy[Queen], straight = enemy[Rook] | enemy[Queen];
  if ((bishopLines[k] & diagonal) && (bishopAttacks(k, pos.occupied) & diagonal)) return true;
  if ((rookLines[k] & straight) && (rookAttacks(k, pos.occupied) & straight)) return true;
  return pawnAttacks[c][k] & enemy[Pawn];
}
// Whether colour c's king square is in the other colour's attack map.
bool inCheckOf(const Position& pos, int c);

// Keys recomputed from scratch (for set-up, tests and debug checks).
Key computeKey(const Position& pos);
Key computePawnKey(const Position& pos);
Key computeMaterialKey(const Position& pos);
Key computeTbKey(const Position& pos);
ScorePair computePsq(const Position& pos);
int computePhase(const Position& pos);

// FEN text of a position (castling as KQkq, or file letters for inner rooks).
std::string positionToFen(const Position& pos);
