// Small helpers shared by the node routines, the quiescence search and the
// root: stop and clock polling, the draw test along the Position chain, the
// table wrappers with their mate-distance adjustment, and the killer,
// counter-move and history updates.  Internal to the search.
#pragma once

#include "board/position.h"
#include "search/search.h"
#include "search/searchthread.h"
#include "search/timeman.h"
#include "tt/tt.h"

inline SearchThread& threadOf(const Position& pos) { return *searchThreads[pos.threadIndex]; }

inline bool stopped(const Position& pos) {
  return threadSignals[pos.threadIndex].stop.load(std::memory_order_relaxed) != 0;
}

// Thread 0 looks at the clock (and the command queue) every 4096 nodes;
// true means the search must stop now.
inline bool pollClock(const Position& pos) {
  if (pos.threadIndex != 0) return false;
  SearchThread& t = threadOf(pos);
  return (++t.pollCounter & clockPollMask) == 0 && checkTime(0);
}

// The draw value at a node: the root's draw score, seen from the side to
// move at that ply.
inline int drawValueAt(int ply) { return ply & 1 ? -drawScore : drawScore; }

// Whether the child ends the game as a draw by the fifty-move rule or by
// repeating a position of the same side to move since the last irreversible
// move (the walk continues into the game line before the root).
inline bool isDrawChild(const Position& child) {
  if (child.rule50 >= 100) return true;
  if (child.rule50 < 4) return false;
  const Position* p = child.previous ? child.previous->previous : nullptr;
  for (int distance = 4; distance <= child.rule50 && p && p->previous; distance += 2) {
    p = p->previous->previous;
    if (!p) break;
    if (p->key == child.key) return true;
  }
  return false;
}

// Whether pseudo-legal m is legal, tested by making it into scratch; the
// node counter is put back, since a move valued or pruned without being
// searched is no node of the tree.  Nothing is prefetched for a child that
// is never searched.
inline bool isLegalUnmade(const Position& pos, Position& scratch, Move m) {
  std::atomic<uint64_t>& nodes = threadSignals[pos.threadIndex].nodes;
  const uint64_t counted = nodes.load(std::memory_order_relaxed);
  const bool legal = makeMoveNoPrefetch(pos, scratch, m);
  nodes.store(counted, std::memory_order_relaxed);
  return legal;
}
inline bool anyLegalUnmade(const Position& pos, Position& scratch, const Move* moves, int count) {
  for (int i = 0; i < count; i++)
    if (isLegalUnmade(pos, scratch, moves[i])) return true;
  return false;
}

// A move that neither captures nor promotes (castling and double pushes
// included).
inline bool isQuietMove(const Position& pos, Move m) {
  return moveKind(m) != KindEnPassant && !isPromotion(m) && (moveKind(m) == KindCastle || pos.board[moveTo(m)] == 0);
}
inline bool isTacticalMove(const Position& pos, Move m) { return !isQuietMove(pos, m); }

// One probe of the shared table, scores already brought back to this ply.
struct TableHit {
  bool found = false;
  int depth = 0;
  int flags = 0;
  int value = 0;
  Move move = 0;
};
inline TableHit probeTable(Key key, int ply) {
  TableHit h;
  TTData e;
  if (ttProbe(key, e)) {
    h.found = true;
    h.depth = e.depth;
    h.flags = e.bound & 15;
    h.value = scoreFromTT(e.score, ply);
    h.move = e.move;
  }
  return h;
}
inline void storeTable(Key key, int depth, int value, int flags, Move move, int tag, int ply) {
  ttStore(key, depth, scoreToTT(value, ply), flags, move, tag);
}

// Whether a table entry settles a null-window node with window (beta - 1,
// beta): a bound on the right side of beta, or a mate proven below.  A
// stalemate entry never settles the node by itself.
inline bool tableCutsNullWindow(const TableHit& h, int beta) {
  if ((h.flags & BoundTerminal) && h.value == 0) return false;
  return (h.flags & BoundTerminal) || ((h.flags & BoundLower) && h.value >= beta) ||
         ((h.flags & BoundUpper) && h.value < beta);
}

// The static evaluation corrected by a table bound that lies on the right
// side of it (a better estimate of the node's value than either alone).
inline int refineEval(int staticEval, const TableHit& h) {
  // A terminal entry (mate or stalemate) says nothing about the position's
  // standing when it still has moves (a key collision); it never refines.
  if (!h.found || (h.flags & BoundTerminal) || h.value >= MateBound || h.value <= -MateBound) return staticEval;
  if ((h.flags & 3) == BoundExact || ((h.flags & 3) == BoundLower && h.value > staticEval) ||
      ((h.flags & 3) == BoundUpper && h.value < staticEval))
    return h.value;
  return staticEval;
}

// Newest quiet cut move of a ply, keeping the previous one as second killer.
inline void updateKillers(KillerSlots& k, Move m) {
  if (k.killer1 != m) {
    k.killer2 = k.killer1;
    k.killer1 = m;
  }
}

// Counter-move slot pair of a node: keyed by the side to move, the piece the
// opponent just moved and the squares of that move.
inline Move* counterSlot(SearchThread& t, const Position& pos, int slot) {
  return &t.counterMoves[slot][pos.sideToMove() * 7 + pos.movedType][pos.lastMove & 0xFFF];
}
inline void updateCounterMoves(SearchThread& t, const Position& pos, Move m) {
  Move* s0 = counterSlot(t, pos, 0);
  if (*s0 != m) {
    *counterSlot(t, pos, 1) = *s0;
    *s0 = m;
  }
}
