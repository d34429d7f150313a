// The principal-variation search: the root node, the open-window (PV) and
// null-window node routines and the quiescence search.  Each search thread
// runs these on its own tree of Positions, which live on that thread's stack
// (copy-make); the only shared structure they write is the transposition
// table.  Depth is counted in half-plies (2 = one ply); scores are from the
// side to move's view, MateScore - p for a mate given at ply p.
#pragma once

#include <atomic>

#include "board/position.h"
#include "search/level.h"
#include "search/searchthread.h"

// Nodes at this distance from the root answer with their static evaluation,
// so nothing indexed by ply (killers, PV buffers) can overflow and the stack
// stays bounded however far extensions carry a line.
constexpr int MaxPly = 128;

// Value of a draw for the side to move at the root (set by the driver at
// every "go" from the root's phase and `contempt`); odd plies use its negation.
extern int drawScore;
// The unscaled "Drawscore" in force for the running search (0 for "go
// infinite"); set by the "go" command.
extern int contempt;

// Published by thread 0's root for the driver and the time poll (relaxed
// atomics; helpers never write them): the score of the last new best root
// move, kept across iterations and re-searches (reset to -NoScore when a
// search starts), and the number of root moves started in the current
// root call.
extern std::atomic<int> rootBestScore;
extern std::atomic<int> rootMovesSearched;
// Written by thread 0's root only: the number of the root move being
// searched and the bound type (0 exact, 1 lower, 2 upper) of the last
// reported principal-variation line.
extern std::atomic<int> currentMoveNumber;
extern std::atomic<int> lastBoundType;

// One iteration of the root: searches the thread's root move list within
// (alpha, beta) at depth (half-plies), fills pv and the thread's
// iterScore/iterPV[depth / 2] as new best moves appear, reorders the root
// list for the next iteration.  Returns 0 when the stop flag was found set.
int searchRoot(Position& pos, int depth, int alpha, int beta, Move* pv);

// Thread 0's root lines with exact scores after a search that kept more
// than one line: the line of `best` first, then the other lines of the
// last two iterations, highest score first; at most max, none when `best`
// has no exact score.
int rootCandidates(Move best, LevelCandidate* out, int max);
// Empties that table (a new search starts).
void clearRootLines();

// Open-window node on the principal variation (fail-soft).
int searchPV(Position& pos, int alpha, int beta, int depth, int ply, Move* pv);

// Null-window node (beta - 1, beta).  excludedMove != 0 marks a singular
// test; noNull forbids the null move and internal iterative deepening;
// cutNode marks a node expected to fail high.
int searchNonPV(Position& pos, int beta, int depth, int ply, Move* pv, Move excludedMove, bool noNull,
                bool cutNode);

// Quiescence search; qdepth is 0 on entry from the main search and falls by
// 2 per recursion.
int qsearch(Position& pos, int alpha, int beta, int qdepth, int ply, Move* pv);

// A late quiet move of a null-window node, as its reduction sees it.
struct LateMove {
  int depth;        // the node's depth (half-plies)
  int legalMoves;   // legal moves made so far, this one included
  int moveCount;    // moves counted so far (pruned ones too)
  bool improving;   // the static evaluation rose over the last two plies
  bool cutNode;     // the node is expected to fail high
  bool counter;     // the move is one of the node's two counter moves
  bool badStage;    // the move came from the picker's deferred bad moves
  int history;      // the move's history score
};
// Half-plies by which a null-window node reduces the late quiet move m
// (below 2: no reduction); zone is the node's passedZone.
int reductionNonPVFor(const Position& pos, Move m, const LateMove& late, Bitboard zone);

// The quiescence search's test for a capture far below alpha: whether
// capture m comes out strictly ahead once the exchange on its square is
// played out (least valuable attackers first, either side may stop).
bool winsExchange(const Position& pos, Move m);

// Squares of the side to move's relative ranks 6-8 that no enemy pawn can
// contest (in front of or diagonally in front of it): a pawn moving there
// is a passed push.
Bitboard passedZone(const Position& pos);
