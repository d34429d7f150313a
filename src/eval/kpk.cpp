// Retrograde solution of king and pawn against king.
//
// The solver works with a white pawn moving up (files a..d only: the other
// files are mirror images).  Pawn moves are irreversible, so pawn squares are
// solved from the most advanced rank backwards; for each pawn square the king
// moves are iterated to a fixed point: white to move wins when some move
// reaches a won position, black to move loses when every legal move does.
// Whatever is not proven won is a draw.
#include "eval/kpk.h"

#include <cstring>
#include <mutex>

uint8_t kpkTable[KpkBytes];

namespace {

std::once_flag solved;

int distance(Square a, Square b) {
  int df = fileOf(a) - fileOf(b), dr = rankOf(a) - rankOf(b);
  df = df < 0 ? -df : df;
  dr = dr < 0 ? -dr : dr;
  return df > dr ? df : dr;
}

// Whether a white pawn on p attacks s.
bool pawnAttacks(Square p, Square s) {
  return rankOf(s) == rankOf(p) + 1 && (fileOf(s) == fileOf(p) - 1 || fileOf(s) == fileOf(p) + 1);
}

// Whether a rook (or, with diagonals, a queen) on q attacks s, the white
// king on wk being the only possible blocker (the black king moves away).
bool sliderAttacks(Square q, Square s, Square wk, bool diagonals) {
  int df = fileOf(s) - fileOf(q), dr = rankOf(s) - rankOf(q);
  if (q == s) return false;
  bool straight = df == 0 || dr == 0;
  bool diagonal = df == dr || df == -dr;
  if (!straight && !(diagonals && diagonal)) return false;
  int sf = (df > 0) - (df < 0), sr = (dr > 0) - (dr < 0);
  for (Square t = q + sr * 8 + sf; t != s; t += sr * 8 + sf)
    if (t == wk) return false;
  return true;
}

// After white promotes on q (black to move): whether the new queen or rook
// keeps the win.  It fails when the black king takes an undefended piece, or
// when black has no move and is not in check (stalemate).
bool promotionWins(Square wk, Square q, Square bk, bool queen) {
  if (distance(bk, q) == 1 && distance(wk, q) > 1) return false;
  bool inCheck = sliderAttacks(q, bk, wk, queen);
  if (inCheck) return true;  // mate or a plain won ending
  for (int dr = -1; dr <= 1; dr++)
    for (int df = -1; df <= 1; df++) {
      int f = fileOf(bk) + df, r = rankOf(bk) + dr;
      if ((df == 0 && dr == 0) || f < 0 || f > 7 || r < 0 || r > 7) continue;
      Square s = makeSquare(f, r);
      if (distance(s, wk) <= 1) continue;
      if (s != q && sliderAttacks(q, s, wk, queen)) continue;
      return true;  // black can move: the position is won
    }
  return false;  // stalemate
}

// Solver state: [pawn index 0..23][white king][black king][side to move].
// 0 = not (yet) won, 1 = won for white, 2 = illegal.
uint8_t state[24][64][64][2];

int pawnIndexOf(Square p) { return (rankOf(p) - 1) * 4 + fileOf(p); }

bool isWon(Square p, Square wk, Square bk, int stm) { return state[pawnIndexOf(p)][wk][bk][stm] == 1; }

// White to move: some legal move wins.
bool whiteWins(Square p, Square wk, Square bk) {
  for (int dr = -1; dr <= 1; dr++)
    for (int df = -1; df <= 1; df++) {
      int f = fileOf(wk) + df, r = rankOf(wk) + dr;
      if ((df == 0 && dr == 0) || f < 0 || f > 7 || r < 0 || r > 7) continue;
      Square s = makeSquare(f, r);
      if (s == p || distance(s, bk) <= 1) continue;
      if (isWon(p, s, bk, 1)) return true;
    }
  Square up = p + 8;
  if (up == wk || up == bk) return false;
  if (rankOf(up) == 7) return promotionWins(wk, up, bk, true) || promotionWins(wk, up, bk, false);
  if (isWon(up, wk, bk, 1)) return true;
  Square up2 = up + 8;
  return rankOf(p) == 1 && up2 != wk && up2 != bk && isWon(up2, wk, bk, 1);
}

// Black to move: every legal move loses (and there is at least one, or it is mate).
bool blackLoses(Square p, Square wk, Square bk) {
  bool anyMove = false;
  for (int dr = -1; dr <= 1; dr++)
    for (int df = -1; df <= 1; df++) {
      int f = fileOf(bk) + df, r = rankOf(bk) + dr;
      if ((df == 0 && dr == 0) || f < 0 || f > 7 || r < 0 || r > 7) continue;
      Square s = makeSquare(f, r);
      if (distance(s, wk) <= 1 || pawnAttacks(p, s)) continue;
      if (s == p) return false;  // the undefended pawn falls
      anyMove = true;
      if (!isWon(p, wk, s, 0)) return false;
    }
  return anyMove || pawnAttacks(p, bk);
}

void solve() {
  std::memset(state, 0, sizeof state);
  for (int rank = 6; rank >= 1; rank--)
    for (int file = 0; file < 4; file++) {
      Square p = makeSquare(file, rank);
      int pi = pawnIndexOf(p);
      for (Square wk = 0; wk < 64; wk++)
        for (Square bk = 0; bk < 64; bk++) {
          bool bad = wk == bk || wk == p || bk == p || distance(wk, bk) <= 1;
          state[pi][wk][bk][0] = bad || pawnAttacks(p, bk) ? 2 : 0;  // white to move cannot give check
          state[pi][wk][bk][1] = bad ? 2 : 0;
        }
      for (bool changed = true; changed;) {
        changed = false;
        for (Square wk = 0; wk < 64; wk++)
          for (Square bk = 0; bk < 64; bk++) {
            uint8_t* s = state[pi][wk][bk];
            if (s[0] == 0 && whiteWins(p, wk, bk)) s[0] = 1, changed = true;
            if (s[1] == 0 && blackLoses(p, wk, bk)) s[1] = 1, changed = true;
          }
      }
    }
}

// Solves the ending and fills kpkTable; runs once, through initKpk.
void buildTable() {
  solve();
  std::memset(kpkTable, 0, sizeof kpkTable);
  // Store in the pawn-moves-down orientation: mirror vertically.
  for (int pi = 0; pi < 24; pi++) {
    Square p = makeSquare(pi % 4, pi / 4 + 1) ^ 56;
    int index0 = ((rankOf(p) - 1) * 4 + fileOf(p)) * 4096;
    for (Square wk = 0; wk < 64; wk++)
      for (Square bk = 0; bk < 64; bk++)
        for (int stm = 0; stm < 2; stm++)
          if (state[pi][wk][bk][stm] == 1) {
            int index = index0 + (wk ^ 56) * 64 + (bk ^ 56);
            int bit = 2 * index + (stm == 0 ? 1 : 0);
            kpkTable[bit >> 3] |= (uint8_t)(1 << (bit & 7));
          }
  }
}

}  // namespace

// The solver takes a good part of a start-up's time and is needed only when
// a search meets this ending, so the first query builds the table.
void initKpk() { std::call_once(solved, buildTable); }

bool kpkWins(int pawnColour, Square strongKing, Square pawn, Square weakKing, bool pawnSideToMove) {
  initKpk();
  if (pawnColour == White) strongKing ^= 56, pawn ^= 56, weakKing ^= 56;
  if (fileOf(pawn) >= 4) strongKing ^= 7, pawn ^= 7, weakKing ^= 7;
  int index = ((rankOf(pawn) - 1) * 4 + fileOf(pawn)) * 4096 + strongKing * 64 + weakKing;
  int bit = 2 * index + (pawnSideToMove ? 1 : 0);
  return (kpkTable[bit >> 3] >> (bit & 7)) & 1;
}
