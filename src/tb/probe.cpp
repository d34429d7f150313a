#include "tb/probe.h"

#include <algorithm>

#include "board/movegen.h"
#include "tb/registry.h"

std::atomic<uint32_t> tbHits{0};

namespace {

constexpr int wdlToValueMap[5] = {1, 3, 0, 2, 0};  // DTZ value map of each WDL result
constexpr int dtzUnitFlags[5] = {8, 0, 0, 0, 4};   // flag saying that result is stored in plies
constexpr int wdlToDtz[5] = {-1, -101, 0, 101, 1};

// A DTZ probe that keeps needing the side a table lacks can only come from
// a damaged file; valid tables need two levels at most.
constexpr int MaxDtzRecursion = 4;

// Castling rights are not part of any table.
constexpr int AllCastlingLost = 15;

// How a position meets a table: which side's sub-table, and how the
// table's colours and (for pawn tables) ranks map onto the position.
struct Orientation {
  int side;        // sub-table: 0 = the side named first in the file moves
  int colourFlip;  // XORed into a table piece code to get the position's colour
  int mirror;      // XORed into squares of pawn tables (rank flip)
};

Orientation orientationOf(const TbEntry& e, const Position& pos) {
  int stm = pos.sideToMove();
  if (e.symmetric) return stm == Black ? Orientation{0, 8, 56} : Orientation{0, 0, 0};
  if (pos.tbKey != e.key) return Orientation{stm == White ? 1 : 0, 8, 56};
  return Orientation{stm, 0, 0};
}

// Squares of the table slots from..num-1, like pieces lowest square first.
void listSquares(const Position& pos, const uint8_t* pieces, int from, int num, const Orientation& o, int mirror,
                 int* squares) {
  for (int i = from; i < num;) {
    int c = pieces[i];
    Bitboard b = pos.pieces[(c ^ o.colourFlip) >> 3][c & 7];
    for (; i < num && pieces[i] == c && b; i++) squares[i] = popLsb(b) ^ mirror;
  }
}

// Leading-pawn file of a pawn table; lists the leading pawns in squares.
int leadingFile(const TbEntry& e, const Position& pos, const Orientation& o, int side, int* squares) {
  listSquares(pos, e.enc[0][side].pieces, 0, e.pawns[0], o, o.mirror, squares);
  return pawnFile(e, squares);
}

// Index of pos in the sub-table d (leading pawns already listed for pawn tables).
uint64_t positionIndex(const TbEntry& e, const EncodingData& d, const Position& pos, const Orientation& o,
                       int* squares) {
  if (!e.hasPawns) {
    listSquares(pos, d.pieces, 0, e.num, o, 0, squares);
    return indexPieces(e, d, squares);
  }
  listSquares(pos, d.pieces, e.pawns[0], e.num, o, o.mirror, squares);
  return indexPawns(e, d, squares);
}

bool isCapture(const Position& pos, Move m) { return pos.board[moveTo(m)] && moveKind(m) != KindCastle; }
bool sideInCheck(const Position& pos) { return kingAttacked(pos, pos.sideToMove()); }

// Whether the side to move is mated.
bool isCheckmate(const Position& pos) {
  if (!sideInCheck(pos)) return false;
  int list[MaxMoves];
  int n = generateEvasions(pos, list);
  Position child;
  for (int i = 0; i < n; i++)
    if (makeMove(pos, child, entryMove(list[i]))) return false;
  return true;
}

// Evasions when the side to move is in check, else captures and promotions.
int generateForcing(const Position& pos, bool inCheck, int* list) {
  return inCheck ? generateEvasions(pos, list) : generateCaptures(pos, list);
}

// Whether some move of list other than an en-passant capture is legal
// (non-captures only when quietOnly).
bool hasOtherLegalMove(const Position& pos, const int* list, int n, bool quietOnly) {
  Position child;
  for (int i = 0; i < n; i++) {
    Move m = entryMove(list[i]);
    if (moveKind(m) == KindEnPassant || (quietOnly && isCapture(pos, m))) continue;
    if (makeMove(pos, child, m)) return true;
  }
  return false;
}

// Best WDL value among the legal en-passant captures of list, -3 if none.
int bestEnPassant(const Position& pos, const int* list, int n, int* success) {
  int best = -3;
  Position child;
  for (int i = 0; i < n; i++) {
    Move m = entryMove(list[i]);
    if (moveKind(m) != KindEnPassant || !makeMove(pos, child, m)) continue;
    int v = -probeWdlCaptures(child, -2, 2, success);
    if (*success == 0) return 0;
    best = std::max(best, v);
  }
  return best;
}

int probeDtzAt(const Position& pos, int* success, int depth);

// DTZ of pos as if it had no en-passant right.
int probeDtzNoEp(const Position& pos, int* success, int depth) {
  // Step 1. Captures first: a winning capture is the zeroing move itself.
  int wdl = probeWdlCaptures(pos, -2, 2, success);
  if (*success == 0 || wdl == 0) return 0;
  if (*success == 2) return wdl == 2 ? 1 : 101;

  // Step 2. A pawn move that keeps the result zeroes at once.
  int list[MaxMoves];
  int n = 0;
  Position child;
  if (wdl > 0) {
    n = generateAll(pos, list);
    for (int i = 0; i < n; i++) {
      Move m = entryMove(list[i]);
      if (typeOfCode(pos.board[moveFrom(m)]) != Pawn || isCapture(pos, m) || moveKind(m) == KindEnPassant) continue;
      if (!makeMove(pos, child, m)) continue;
      int v = -probeWdlCaptures(child, -2, -wdl + 1, success);
      if (*success == 0) return 0;
      if (v == wdl) return v == 2 ? 1 : 101;
    }
  }

  // Step 3. The table, when it stores this side to move.
  int dtz = 1 + probeDtzTable(pos, wdl, success);
  if (*success >= 0) {
    if (wdl & 1) dtz += 100;
    return wdl >= 0 ? dtz : -dtz;
  }
  if (depth >= MaxDtzRecursion) {
    *success = 0;
    return 0;
  }
  *success = 1;

  // Step 4. Winning side missing from the table: one ply deeper through
  // the moves that do not zero.
  if (wdl > 0) {
    int best = 0xFFFF;
    for (int i = 0; i < n; i++) {
      Move m = entryMove(list[i]);
      if (typeOfCode(pos.board[moveFrom(m)]) == Pawn || isCapture(pos, m) || moveKind(m) == KindEnPassant) continue;
      if (!makeMove(pos, child, m)) continue;
      int v = -probeDtzAt(child, success, depth + 1);
      if (*success == 0) return 0;
      if (v == 1 && isCheckmate(child)) return 1;  // the move mates: the game ends at once
      if (v > 0 && v + 1 < best) best = v + 1;
    }
    return best;
  }

  // Step 5. Losing side missing: the longest resistance over all moves.
  int best = -1;
  n = sideInCheck(pos) ? generateEvasions(pos, list) : generateAll(pos, list);
  for (int i = 0; i < n; i++) {
    Move m = entryMove(list[i]);
    if (!makeMove(pos, child, m)) continue;
    int v;
    if (child.rule50 == 0) {
      if (wdl == -2) v = -1;
      else {
        v = probeWdlCaptures(child, 1, 2, success);
        v = v == 2 ? 0 : -101;
      }
    } else {
      v = -probeDtzAt(child, success, depth + 1) - 1;
    }
    if (*success == 0) return 0;
    best = std::min(best, v);
  }
  return best;
}

// DTZ of pos with en passant resolved.
int probeDtzAt(const Position& pos, int* success, int depth) {
  *success = 1;
  int v = probeDtzNoEp(pos, success, depth);
  if (!pos.enPassant || *success == 0) return v;

  int list[MaxMoves];
  bool inCheck = sideInCheck(pos);
  int n = generateForcing(pos, inCheck, list);
  int v1 = bestEnPassant(pos, list, n, success);
  if (*success == 0) return 0;
  if (v1 == -3) return v;
  int d = wdlToDtz[v1 + 2];
  if (v < -100) {
    if (d >= 0) v = d;
  } else if (v < 0) {
    if (d >= 0 || d < -100) v = d;
  } else if (v > 100) {
    if (d > 0) v = d;
  } else if (v > 0) {
    if (d == 1) v = d;
  } else if (d >= 0) {
    v = d;
  } else {
    // A draw without the losing en-passant capture, unless it is forced.
    bool other = hasOtherLegalMove(pos, list, n, false);
    if (!other && !inCheck) {
      n = generateAll(pos, list);
      other = hasOtherLegalMove(pos, list, n, true);
    }
    if (!other) v = d;
  }
  return v;
}

}  // namespace

int probeWdlTable(const Position& pos, int* success) {
  Key key = pos.tbKey;
  if (!key) return 0;
  TbEntry* e = tbFindEntry(key);
  if (!e || !tbLoadWdl(*e) || popcount(pos.occupied) != e->num) {
    *success = 0;
    return 0;
  }
  Orientation o = orientationOf(*e, pos);
  int squares[TbPieces];
  int file = e->hasPawns ? leadingFile(*e, pos, o, o.side, squares) : 0;
  const EncodingData& d = e->enc[file][o.side];
  uint64_t index = positionIndex(*e, d, pos, o, squares);
  int v = index < d.tableSize ? decompressValue(d.codec, index) : -1;
  if (v < 0) {
    tbReportDamage(*e, ".rtbw");
    *success = 0;
    return 0;
  }
  tbHits.fetch_add(1, std::memory_order_relaxed);
  return v - 2;
}

int probeWdlCaptures(const Position& pos, int alpha, int beta, int* success) {
  int list[MaxMoves];
  int n = generateForcing(pos, sideInCheck(pos), list);
  Position child;
  for (int i = 0; i < n; i++) {
    Move m = entryMove(list[i]);
    if (!isCapture(pos, m) || !makeMove(pos, child, m)) continue;
    int v = -probeWdlCaptures(child, -beta, -alpha, success);
    if (*success == 0) return 0;
    if (v > alpha) {
      if (v >= beta) {
        *success = 2;
        return v;
      }
      alpha = v;
    }
  }
  int v = probeWdlTable(pos, success);
  if (*success == 0) return 0;
  if (alpha >= v) {
    *success = alpha > 0 ? 2 : 1;
    return alpha;
  }
  *success = 1;
  return v;
}

int probeWdl(const Position& pos, int* success) {
  *success = 1;
  if (pos.castleLost != AllCastlingLost) {
    *success = 0;
    return 0;
  }
  int v = probeWdlCaptures(pos, -2, 2, success);
  if (!pos.enPassant) return v;
  if (*success == 0) return 0;

  // En passant is not in the tables: try the captures here.
  int list[MaxMoves];
  bool inCheck = sideInCheck(pos);
  int n = generateForcing(pos, inCheck, list);
  int v1 = bestEnPassant(pos, list, n, success);
  if (*success == 0) return 0;
  if (v1 == -3) return v;
  if (v1 >= v) return v1;
  if (v != 0) return v;
  // The table's draw stands unless the losing en-passant capture is the
  // only legal move.
  if (hasOtherLegalMove(pos, list, n, false)) return v;
  if (inCheck) return v1;
  n = generateAll(pos, list);
  return hasOtherLegalMove(pos, list, n, true) ? v : v1;
}

int probeDtzTable(const Position& pos, int wdl, int* success) {
  TbEntry* w = tbFindEntry(pos.tbKey);
  TbEntry* e = w ? tbFindDtz(*w) : nullptr;
  if (!e || e->ready.load(std::memory_order_relaxed) != 1 || popcount(pos.occupied) != e->num) {
    *success = 0;
    return 0;
  }
  Orientation o = orientationOf(*e, pos);
  int squares[TbPieces];
  int file = e->hasPawns ? leadingFile(*e, pos, o, 0, squares) : 0;
  const EncodingData& d = e->enc[file][0];
  int flags = d.codec.flags;
  if ((flags & 1) != o.side && (e->hasPawns || !e->symmetric)) {
    *success = -1;
    return 0;
  }
  uint64_t index = positionIndex(*e, d, pos, o, squares);
  int v = index < d.tableSize ? decompressValue(d.codec, index) : -1;
  if (v >= 0 && (flags & 2)) {
    int map = wdlToValueMap[wdl + 2];
    v = v < e->valueMapLen[file][map] ? e->valueMap[file][map][v] : -1;
  }
  if (v < 0) {
    tbReportDamage(*e, ".rtbz");
    *success = 0;
    return 0;
  }
  if (!(flags & dtzUnitFlags[wdl + 2]) || (wdl & 1)) v *= 2;
  tbHits.fetch_add(1, std::memory_order_relaxed);
  return v;
}

int probeDtz(const Position& pos, int* success) {
  *success = 1;
  if (pos.castleLost != AllCastlingLost) {
    *success = 0;
    return 0;
  }
  return probeDtzAt(pos, success, 0);
}

std::string materialString(const Position& pos, bool mirror) {
  std::string s;
  for (int side = 0; side < 2; side++) {
    int c = side ^ (mirror ? 1 : 0);
    if (side) s += 'v';
    for (int t : {King, Queen, Rook, Bishop, Knight, Pawn}) s.append(popcount(pos.pieces[c][t]), " PNBRQK"[t]);
  }
  return s;
}
