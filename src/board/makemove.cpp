#include <cstring>

#include "board/position.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ADDRESS_SANITIZER 1
#endif
#endif

// Block copy of the parent record in 16-byte pieces: for a record of a few
// hundred bytes this is much cheaper than the string-move instruction that a
// plain memcpy of this size compiles to.  Under AddressSanitizer each piece
// can become a checked library call; word copies are checked inline, which
// makes the sanitized builds (the fuzz targets above all) far faster.
inline void copyPosition(Position& to, const Position& from) {
#ifdef ORVANE_ADDRESS_SANITIZER
  static_assert(sizeof(Position) % 8 == 0);
  char* d = reinterpret_cast<char*>(&to);
  const char* s = reinterpret_cast<const char*>(&from);
  for (size_t i = 0; i < sizeof(Position) / 8; i++) __builtin_memcpy(d + 8 * i, s + 8 * i, 8);
#else
  constexpr size_t Chunks = sizeof(Position) / 16;
  char* d = reinterpret_cast<char*>(&to);
  const char* s = reinterpret_cast<const char*>(&from);
#pragma GCC unroll 32
  for (size_t i = 0; i < Chunks; i++) __builtin_memcpy(d + 16 * i, s + 16 * i, 16);
  if constexpr (sizeof(Position) % 16 != 0)
    __builtin_memcpy(d + 16 * Chunks, s + 16 * Chunks, sizeof(Position) % 16);
#endif
}

inline void setCastleLost(Position& pos, int lost) {
  pos.key ^= zobristCastle[pos.castleLost] ^ zobristCastle[lost];
  pos.castleLost = (uint8_t)lost;
}

// Castling written as king takes own rook.  The king moves first, then the
// rook; the XOR updates make every Chess960 overlap come out right (king
// landing on the rook's square, rook landing on the king's, a piece that
// does not move at all).
__attribute__((noinline)) bool makeCastling(Position& child, int c, Square f, Square t) {
  Square kt = (c == White ? 0 : 56) + (f < t ? 6 : 2);
  Square rt = (c == White ? 0 : 56) + (f < t ? 5 : 3);
  int kingRow = pieceRow(c, King), rookRow = pieceRow(c, Rook);
  uint8_t kingCode = child.board[f], rookCode = child.board[t];
  child.movedType = King;
  if (kt != f) {
    Bitboard b = squareBB[f] | squareBB[kt];
    child.pawnKey ^= pawnZobrist[kingRow][f] ^ pawnZobrist[kingRow][kt];
    child.key ^= zobrist[kingRow][f] ^ zobrist[kingRow][kt];
    child.psq = subPair(addPair(child.psq, pieceSquare[kingRow][kt]), pieceSquare[kingRow][f]);
    child.pieces[c][King] ^= b;
    child.pieces[c][0] ^= b;
    child.board[kt] = kingCode;
    child.board[f] = 0;
  }
  setCastleLost(child, child.castleLost | castling.castleSquareMask[f] | castling.castleSquareMask[kt]);
  if (rt != t) {
    Bitboard b = squareBB[t] | squareBB[rt];
    child.key ^= zobrist[rookRow][t] ^ zobrist[rookRow][rt];
    child.psq = subPair(addPair(child.psq, pieceSquare[rookRow][rt]), pieceSquare[rookRow][t]);
    child.pieces[c][Rook] ^= b;
    child.pieces[c][0] ^= b;
    child.board[rt] = rookCode;
    if (t != kt) child.board[t] = 0;
  }
  child.ply++;
  child.occupied = child.pieces[White][0] | child.pieces[Black][0];
  // The generator proved the king's path safe with the rook still in place;
  // in Chess960 the rook may have been shielding the king's destination, so
  // the king test always runs (it cannot fail for standard castling).
  return !kingAttacked(child, c);
}

// The hashing keys of the child, computed from the parent before anything
// is copied, so that the child's table lines can be requested at once and
// their address translation and memory reads overlap the copy and the
// updates instead of waiting at the child's first probe.
struct ChildKeys {
  Key key;
  Key pawnKey;
};

// Keys after an ordinary move, a capture, a promotion, an en-passant capture
// or a double push (castling has its own routine).  Special says whether
// the move may be of the last three kinds.
template <bool Special>
inline __attribute__((always_inline)) ChildKeys keysAfter(const Position& parent, Move move, Key key) {
  const int c = parent.ply & 1, e = c ^ 1;
  const Square f = moveFrom(move), t = moveTo(move);
  const int kind = Special ? moveKind(move) : KindNormal;
  const int row = pieceRow(c, parent.board[f] & 7);
  key ^= zobrist[row][f] ^ zobrist[row][t];
  Key pawnKey = parent.pawnKey ^ pawnZobrist[row][f] ^ pawnZobrist[row][t];
  const int lost = parent.castleLost | castling.castleSquareMask[t] | castling.castleSquareMask[f];
  key ^= zobristCastle[parent.castleLost] ^ zobristCastle[lost];
  if constexpr (Special) {
    if (kind >= KindPromoQueen) {
      static constexpr int promoted[8] = {0, 0, 0, 0, Queen, Knight, Rook, Bishop};
      const int pawnRow = pieceRow(c, Pawn);
      pawnKey ^= pawnZobrist[pawnRow][t];
      key ^= zobrist[pawnRow][t] ^ zobrist[pieceRow(c, promoted[kind])][t];
    } else if (kind == KindEnPassant) {
      const Square s = (f & 56) | (t & 7);
      const int enemyPawn = pieceRow(e, Pawn);
      pawnKey ^= pawnZobrist[enemyPawn][s];
      key ^= zobrist[enemyPawn][s];
    } else if (kind == KindDouble) {
      if (besideBB(squareBB[t]) & parent.pieces[e][Pawn]) key ^= zobrist[8][(f + t) / 2];
    }
  }
  if (const uint8_t captured = parent.board[t]; captured && kind != KindEnPassant) {
    const int xrow = pieceRow(e, captured & 7);
    pawnKey ^= pawnZobrist[xrow][t];
    key ^= zobrist[xrow][t];
  }
  return {key, pawnKey};
}

// The child's table lines: the transposition-table bucket and the
// evaluation-cache and pawn-table entries, as Hint asks.
template <int Hint>
inline void prefetchChild(const Position& parent, ChildKeys keys) {
  if constexpr ((Hint & PrefetchTable) != 0)
    if (ttBuckets) prefetchLine(ttBuckets + (keys.key & ttMask) * 64);
  if constexpr ((Hint & PrefetchEval) != 0) {
    if (parent.evalCache) prefetchLine(reinterpret_cast<const char*>(parent.evalCache) + (keys.key & evalCacheMask) * 16);
    if (parent.pawnTable)
      prefetchLine(reinterpret_cast<const char*>(parent.pawnTable) + (keys.pawnKey & pawnTableMask) * 40);
  }
}

// The move itself after the common start of makeMoveWith, with the keys
// already known.  Instantiated twice: for ordinary moves and captures
// (Special false, the hot case, with the kind tests compiled away) and for
// promotions, en passant and double pushes.  The updates read the parent
// and keep the score sum and the colour sets in locals, writing each child
// field once: read-modify-write on the freshly copied child would make every
// update wait for the block copy's stores.
template <bool Special>
inline __attribute__((always_inline)) bool playMove(const Position& parent, Position& child, Move move,
                                                    ChildKeys keys, int rule50) {
  const int c = parent.ply & 1, e = c ^ 1;
  const Square f = moveFrom(move), t = moveTo(move);
  const int kind = Special ? moveKind(move) : KindNormal;

  const uint8_t code = parent.board[f];
  const int m = code & 7, row = pieceRow(c, m);
  child.movedType = (int16_t)m;

  // Move the piece as an ordinary move.
  const Bitboard fromTo = squareBB[f] | squareBB[t];
  Bitboard own = parent.pieces[c][0] ^ fromTo, enemy = parent.pieces[e][0];
  child.pieces[c][m] = parent.pieces[c][m] ^ fromTo;
  child.board[t] = code;
  child.board[f] = 0;
  ScorePair psq = subPair(addPair(parent.psq, pieceSquare[row][t]), pieceSquare[row][f]);
  child.castleLost = (uint8_t)(parent.castleLost | castling.castleSquareMask[t] | castling.castleSquareMask[f]);

  if constexpr (Special) {
    if (kind >= KindPromoQueen) {
      static constexpr int promoted[8] = {0, 0, 0, 0, Queen, Knight, Rook, Bishop};
      const int p = promoted[kind], pawnRow = pieceRow(c, Pawn), newRow = pieceRow(c, p);
      rule50 = 0;
      child.pieces[c][Pawn] ^= squareBB[t];
      psq = addPair(subPair(psq, pieceSquare[pawnRow][t]), pieceSquare[newRow][t]);
      child.materialKey += materialValue[c][p][squareColour[t]] - materialValue[c][Pawn][squareColour[t]];
      child.tbKey += materialValue[c][p][0] - materialValue[c][Pawn][0];
      child.pieces[c][p] ^= squareBB[t];
      child.board[t] = (uint8_t)pieceCode(c, p);
      child.phase += phaseValue[p];
    } else if (kind == KindEnPassant) {
      const Square s = (f & 56) | (t & 7);
      rule50 = 0;
      child.board[s] = 0;
      child.pieces[e][Pawn] = parent.pieces[e][Pawn] ^ squareBB[s];
      enemy ^= squareBB[s];
      child.pieceCount--;
      child.materialKey -= materialValue[e][Pawn][squareColour[s]];
      child.tbKey -= materialValue[e][Pawn][0];
      psq = subPair(psq, pieceSquare[pieceRow(e, Pawn)][s]);
    } else if (kind == KindDouble) {
      rule50 = 0;
      if (besideBB(squareBB[t]) & parent.pieces[e][Pawn]) child.enPassant = squareBB[(f + t) / 2];
    }
  }

  // Capture: the captured piece is read from the parent's board.
  if (const uint8_t captured = parent.board[t]; captured && kind != KindEnPassant) {
    const int x = captured & 7, xrow = pieceRow(e, x);
    child.pieceCount--;
    child.materialKey -= materialValue[e][x][squareColour[t]];
    child.tbKey -= materialValue[e][x][0];
    child.capturedType = (int16_t)x;
    rule50 = 0;
    psq = subPair(psq, pieceSquare[xrow][t]);
    child.pieces[e][x] = parent.pieces[e][x] ^ squareBB[t];
    enemy ^= squareBB[t];
    child.phase -= phaseValue[x];
  }

  if (m == Pawn) rule50 = 0;
  child.pieces[c][0] = own;
  child.pieces[e][0] = enemy;
  child.occupied = own | enemy;
  child.key = keys.key;
  child.pawnKey = keys.pawnKey;
  child.psq = psq;
  child.rule50 = (int16_t)rule50;
  child.ply = parent.ply + 1;
  return !kingAttacked(child, c);
}

__attribute__((noinline)) bool playSpecialMove(const Position& parent, Position& child, Move move, ChildKeys keys,
                                               int rule50) {
  return playMove<true>(parent, child, move, keys, rule50);
}

// The fields every child starts with: the parent's record, the link back
// and the move, no capture and no evaluation yet; the node is counted for
// the thread unless it is stopped.
inline __attribute__((always_inline)) void startChild(const Position& parent, Position& child, Move move) {
  copyPosition(child, parent);
  child.previous = &parent;
  child.capturedType = 0;
  child.movedType = 0;
  child.lastMove = move;
  child.staticEval = 999999;
  if (parent.enPassant) child.enPassant = 0;
  ThreadSignals& signals = threadSignals[parent.threadIndex];
  if (!signals.stop.load(std::memory_order_relaxed))
    signals.nodes.store(signals.nodes.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Copy-make; Hint says which of the child's table lines to prefetch.
template <int Hint>
inline __attribute__((always_inline)) bool makeMoveWith(const Position& parent, Position& child, Move move) {
  move &= 0xFFFF;
  Key key = parent.key ^ zobrist[0][0] ^ zobrist[0][1];
  if (parent.enPassant) key ^= zobrist[8][lsb(parent.enPassant)];
  const int rule50 = parent.rule50 + 1;

  if (move == 0) {
    prefetchChild<Hint>(parent, {key, parent.pawnKey});
    startChild(parent, child, move);
    child.key = key;
    child.rule50 = (int16_t)rule50;
    child.inCheck = 0;
    child.ply = parent.ply + 1;
    return true;
  }

  const int kind = moveKind(move);
  if (kind == KindNormal) {
    const ChildKeys keys = keysAfter<false>(parent, move, key);
    prefetchChild<Hint>(parent, keys);
    startChild(parent, child, move);
    return playMove<false>(parent, child, move, keys, rule50);
  }
  if (kind != KindCastle) {
    const ChildKeys keys = keysAfter<true>(parent, move, key);
    prefetchChild<Hint>(parent, keys);
    startChild(parent, child, move);
    return playSpecialMove(parent, child, move, keys, rule50);
  }
  // Castling is rare: its keys are updated in place and its lines fetched
  // after the move.
  startChild(parent, child, move);
  child.key = key;
  child.rule50 = (int16_t)rule50;
  const bool legal = makeCastling(child, parent.ply & 1, moveFrom(move), moveTo(move));
  prefetchChild<Hint>(parent, {child.key, child.pawnKey});
  return legal;
}

}  // namespace

bool makeMove(const Position& parent, Position& child, Move move) {
  return makeMoveWith<PrefetchTable | PrefetchEval>(parent, child, move);
}

bool makeMoveEvalOnly(const Position& parent, Position& child, Move move) {
  return makeMoveWith<PrefetchEval>(parent, child, move);
}

bool makeMoveNoPrefetch(const Position& parent, Position& child, Move move) {
  return makeMoveWith<0>(parent, child, move);
}

void prefetchMoveTables(const Position& parent, Move move) {
  move &= 0xFFFF;
  const int kind = moveKind(move);
  if (kind == KindCastle) return;
  Key key = parent.key ^ zobrist[0][0] ^ zobrist[0][1];
  if (parent.enPassant) key ^= zobrist[8][lsb(parent.enPassant)];
  if (move == 0) {
    prefetchChild<PrefetchTable | PrefetchEval>(parent, {key, parent.pawnKey});
    return;
  }
  const ChildKeys keys = kind == KindNormal ? keysAfter<false>(parent, move, key) : keysAfter<true>(parent, move, key);
  prefetchChild<PrefetchTable | PrefetchEval>(parent, keys);
}
