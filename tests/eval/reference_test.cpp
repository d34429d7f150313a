// The pawn layer and the piece, threat, king-safety and passed-pawn terms
// against a slow reference written square by square (loops over files,
// ranks and pieces instead of whole-board set arithmetic), on varied
// positions.  The two formulations share only the attack primitives and the
// tables, so a wrong shift, mask or side in either one shows up here.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "eval/king.h"
#include "eval/pawns.h"
#include "eval/terms.h"
#include "eval_test_util.h"

using namespace evaltest;

namespace {

struct Sum {
  int mg = 0, eg = 0;
  void add(int a, int b, int n = 1) { mg += a * n, eg += b * n; }
  void add(ScorePair p, int n = 1) { add(mgOf(p), egOf(p), n); }
};

int forward(int c) { return c == White ? 1 : -1; }
int relRank(int c, int rank) { return c == White ? rank : 7 - rank; }
bool onBoard(int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; }
int kingDistance(Square a, Square b) {
  return std::max(std::abs(fileOf(a) - fileOf(b)), std::abs(rankOf(a) - rankOf(b)));
}
bool darkSquare(Square s) { return (fileOf(s) + rankOf(s)) % 2 == 0; }
bool has(Bitboard b, int s) { return (b >> s) & 1; }

// Square-by-square view of one position.
struct Board {
  const Position& pos;
  int colourAt(int s) const { return pos.board[s] ? colourOfCode(pos.board[s]) : -1; }
  int typeAt(int s) const { return pos.board[s] ? typeOfCode(pos.board[s]) : 0; }
  bool is(int s, int c, int t) const { return colourAt(s) == c && typeAt(s) == t; }
  bool pawn(int c, int f, int r) const { return onBoard(f, r) && is(makeSquare(f, r), c, Pawn); }
  bool anyPawn(int f, int r) const { return pawn(White, f, r) || pawn(Black, f, r); }
  Bitboard attacksFrom(int s) const {
    switch (typeAt(s)) {
      case Pawn: return pawnAttacksBB(colourAt(s), squareBB[s]);
      case Knight: return knightAttacks[s];
      case Bishop: return bishopAttacks(s, pos.occupied);
      case Rook: return rookAttacks(s, pos.occupied);
      case Queen: return queenAttacks(s, pos.occupied);
      case King: return kingAttacks[s];
    }
    return 0;
  }
  bool attackedBy(int c, int sq, int type) const {
    for (int s = 0; s < 64; s++)
      if (is(s, c, type) && has(attacksFrom(s), sq)) return true;
    return false;
  }
  bool attackedByPawn(int c, int f, int r) const { return onBoard(f, r) && attackedBy(c, makeSquare(f, r), Pawn); }
  bool attackedByAny(int c, int sq, bool withKing) const {
    for (int t = Pawn; t <= (withKing ? King : Queen); t++)
      if (attackedBy(c, sq, t)) return true;
    return false;
  }
  int ownOnFile(int c, int f) const {
    int n = 0;
    for (int r = 0; r < 8; r++) n += pawn(c, f, r);
    return n;
  }
  // sq is the only piece between an enemy slider on a matching line and c's king.
  bool inPinLine(int c, int sq) const {
    Square k = pos.kingSquare(c);
    for (int s = 0; s < 64; s++) {
      if (colourAt(s) != other(c)) continue;
      int t = typeAt(s);
      bool diagonal = has(bishopLines[k], s) && (t == Bishop || t == Queen);
      bool straight = has(rookLines[k], s) && (t == Rook || t == Queen);
      if ((diagonal || straight) && (between[k][s] & pos.occupied) == squareBB[sq]) return true;
    }
    return false;
  }
  // No enemy pawn attacks sq now or after advancing.
  bool safeFromPawns(int c, int sq) const {
    for (int r = rankOf(sq); r >= 0 && r < 8; r += forward(c))
      if (attackedByPawn(other(c), fileOf(sq), r)) return false;
    return true;
  }
};

// What the reference's pawn layer finds for one side beside its score: the
// shelter units the enemy's king attack subtracts, and the passed pawns.
struct PawnFacts {
  int shelter = 0;
  std::vector<Square> passers;
};

// First pawn layer of side c; king proximity to passers goes to prox[side].
Sum pawnSide(const Board& b, int c, int prox[2], PawnFacts& facts) {
  const int e = other(c);
  Sum sum;
  Square kings[2] = {b.pos.kingSquare(White), b.pos.kingSquare(Black)};
  auto aheadOnFile = [&](int f, int r, bool ownOnly) {
    for (int q = r + forward(c); q >= 0 && q < 8; q += forward(c))
      if (ownOnly ? b.pawn(c, f, q) : b.anyPawn(f, q)) return true;
    return false;
  };
  auto isolated = [&](int f) { return (f == 0 || !b.ownOnFile(c, f - 1)) && (f == 7 || !b.ownOnFile(c, f + 1)); };
  auto enemyOnFile = [&](int f) { return b.ownOnFile(e, f) > 0; };
  int pawns = 0, files = 0, control = 0, levers = 0, passers = 0;
  for (int f = 0; f < 8; f++) files += b.ownOnFile(c, f) > 0;
  for (int s = 0; s < 64; s++) control += b.attackedBy(c, s, Pawn);
  sum.add(6, 8, control);
  for (int f = 0; f < 8; f++)
    for (int r = 0; r < 8; r++) {
      if (!b.pawn(c, f, r)) continue;
      pawns++;
      const int rel = relRank(c, r);
      if ((rel == 4 || rel == 5) && b.attackedByPawn(e, f, r)) levers++;
      const bool defended = b.attackedByPawn(c, f, r), beside = b.pawn(c, f - 1, r) || b.pawn(c, f + 1, r);
      const bool frontDoubled = b.ownOnFile(c, f) >= 2 && !aheadOnFile(f, r, true);
      const bool iso = isolated(f), opposed = enemyOnFile(f);
      if (frontDoubled && !defended) sum.add(-36, -44);
      if (iso) {
        opposed ? sum.add(-31, -32) : sum.add(-118, -135);
        if (frontDoubled) opposed ? sum.add(-14, -7) : sum.add(-25, -48);
      }
      if (beside) sum.add(22, 22);
      if (defended) sum.add(34, 29);
      if (beside && defended) sum.add(1, -8);
      if (rel <= 3 && !opposed && beside && (f == 0 || f == 7)) {
        int r2 = r + 2 * forward(c);
        b.pawn(e, f - 1, r2) || b.pawn(e, f + 1, r2) ? sum.add(0, -20) : sum.add(0, -40);
      }
      bool noSupport = true;
      for (int q = r; q >= 0 && q < 8; q -= forward(c)) noSupport &= !b.attackedByPawn(c, f, q);
      if (!iso && noSupport && !defended && !(beside && !frontDoubled)) {
        int stop = r + forward(c);
        if (b.anyPawn(f, stop) || b.attackedByPawn(e, f, stop)) sum.add(-35, -31);
        if (!aheadOnFile(f, r, false) && b.attackedByPawn(e, f, stop)) sum.add(-53, -94);
      }
      if (rel == 1 && b.attackedByPawn(e, f, r + forward(c))) sum.add(-10, -10);
      if (aheadOnFile(f, r, false)) continue;
      bool safe = true;
      for (int q = r; q >= 0 && q < 8; q += forward(c)) safe &= !b.attackedByPawn(e, f, q);
      if (safe) {
        passers++;
        facts.passers.push_back(makeSquare(f, r));
        if (defended || beside) sum.add(CP[rel]);
        Square stop = makeSquare(f, r + forward(c));
        for (int x = 0; x < 2; x++) prox[x] += egOf(passedKingDistance[kingDistance(kings[x], stop)]);
      } else if (defended || beside) {
        int supporters = 0, sentries = 0;
        for (int g = f - 1; g <= f + 1; g += 2) {
          if (g < 0 || g > 7) continue;
          for (int q = r + forward(c); q >= 0 && q < 8; q += forward(c)) sentries += b.pawn(e, g, q);
          if (b.pawn(e, g, r)) continue;
          int front = -1;
          for (int q = 0; q < 8; q++)
            if (b.pawn(c, g, q) && (front < 0 || relRank(c, q) > relRank(c, front))) front = q;
          if (front >= 0 && relRank(c, front) <= rel) supporters++;
        }
        if (sentries <= supporters) sum.add(CAND[rel]);
      }
    }
  if (passers >= 2) sum.add(33, 122);
  sum.add(-37, -58, pawns - files);
  sum.add(60, 60, levers);

  // Shelter around the own king (or the castled spot) and storm on the enemy king.
  constexpr int H[8] = {0, 27, 22, 10, 5, 0, 0, 0}, G[8] = {2, 0, 0, 6, 13, 40, 0, 0};
  auto centre = [](int f) { return std::min(std::max(f, 1), 6); };
  auto shelter = [&](int kingFile, int kingRel) {
    int total = 0;
    for (int g = centre(kingFile) - 1; g <= centre(kingFile) + 1; g++)
      for (int q = 0; q < 8; q++)
        if (b.pawn(c, g, q) && relRank(c, q) >= kingRel) total += 9 * H[relRank(c, q)] * (g == kingFile ? 2 : 1);
    return total;
  };
  Square k = kings[c], ek = kings[e];
  int cover = shelter(fileOf(k), relRank(c, rankOf(k)));
  if (fileOf(k) == 4 && relRank(c, rankOf(k)) == 0) cover = std::max(cover, shelter(6, 0));
  for (int g = centre(fileOf(ek)) - 1; g <= centre(fileOf(ek)) + 1; g++) {
    bool any = false;
    for (int q = 0; q < 8; q++) {
      if (!b.pawn(c, g, q)) continue;
      any = true;
      bool blocked = false;
      for (int t = q + forward(c); t >= 0 && t < 8; t += forward(c)) blocked |= b.pawn(e, g, t);
      cover += (blocked ? 8 : 10) * G[relRank(c, q)];
    }
    if (!any) cover += 16;
  }
  sum.add(cover, 0);
  facts.shelter = cover / 220;
  if (relRank(c, rankOf(k)) == 0) {
    bool walled = true;
    for (int g = fileOf(k) - 1; g <= fileOf(k) + 1; g++)
      if (g >= 0 && g < 8 && !b.pawn(c, g, rankOf(k) + forward(c))) walled = false;
    if (walled) sum.add(-93, -185);
  }
  return sum;
}

// Piece, king-safety and threat terms of side c (what pieceTerms, kingSafety
// and threatTerms add to c's sum).
Sum pieceSide(const Board& b, const PawnFacts& enemyPawns, int c) {
  const Position& pos = b.pos;
  const int e = other(c);
  const Square ok = pos.kingSquare(c), ek = pos.kingSquare(e);
  Sum sum;
  auto enemyPiece = [&](int s) { return b.colourAt(s) == e && b.typeAt(s) != Pawn; };
  auto ownPawnOrKing = [&](int s) { return b.is(s, c, Pawn) || b.is(s, c, King); };
  auto inArea = [&](int s) { return !ownPawnOrKing(s) && !(b.attackedBy(e, s, Pawn) && !enemyPiece(s)); };
  auto inRookArea = [&](int s) { return inArea(s) && !(b.attackedBy(e, s, Knight) && !enemyPiece(s)); };
  auto inQueenArea = [&](int s) {
    if (ownPawnOrKing(s)) return false;
    for (int t = Pawn; t <= Rook; t++)
      if (b.attackedBy(e, s, t)) return false;
    return true;
  };
  auto mayUse = [&](int piece, int s) { return !b.inPinLine(c, piece) || has(between[ok][piece], s); };
  auto safeCheck = [&](int s) {
    return b.colourAt(s) != c && s != ek && !(!pos.board[s] && b.attackedBy(e, s, Pawn));
  };
  const Bitboard diagonalChecks = bishopAttacks(ek, pos.occupied), straightChecks = rookAttacks(ek, pos.occupied);
  int units = 0, queenChecks = 0, bishops = 0;
  for (int s = 0; s < 64; s++) bishops += b.is(s, c, Bishop);

  for (int sq = 0; sq < 64; sq++) {
    if (b.colourAt(sq) != c) continue;
    const int t = b.typeAt(sq);
    const Bitboard att = b.attacksFrom(sq);
    const bool nearKing = (att & kingAttacks[ek]) != 0;
    if (t == Knight) {
      sum.add(knightKingDistance[kingDistance(sq, ok)]);
      int count = 0;
      for (int s = 0; s < 64 && !b.inPinLine(c, sq); s++)
        if (has(att, s) && inArea(s)) count += relRank(c, rankOf(s)) > relRank(c, rankOf(sq)) ? 2 : 1;
      sum.add(knightMobility[count]);
      if (nearKing) units += 3;
      for (int s = 0; s < 64; s++)
        if (has(att, s) && has(knightAttacks[ek], s) && safeCheck(s)) units += 4;
    } else if (t == Bishop) {
      sum.add(bishopPawnView[popcount(bishopAttacks(sq, pos.pieces[White][Pawn] | pos.pieces[Black][Pawn]))]);
      int count = 0, same = 0, otherColour = 0;
      bool rival = false;
      for (int s = 0; s < 64; s++) {
        count += has(att, s) && inArea(s) && mayUse(sq, s);
        if (b.is(s, c, Pawn)) (darkSquare(s) == darkSquare(sq) ? same : otherColour)++;
        rival |= b.is(s, e, Bishop) && darkSquare(s) == darkSquare(sq);
      }
      sum.add(bishopMobility[count]);
      sum.add(-34 * (same - 2), -24 * (same - 2));
      sum.add(16 * (otherColour - 2), 20 * (otherColour - 2));
      if (bishops >= 2 && !rival) sum.add(-34 * (same - 2), -24 * (same - 2));
      for (int s = 0; s < 64; s++)
        if (b.is(s, e, Knight) && fileOf(s) == fileOf(sq) && std::abs(rankOf(s) - rankOf(sq)) == 3 &&
            relRank(c, rankOf(s)) >= 4)
          sum.add(15, 16);
      if (nearKing) units += 1;
      for (int s = 0; s < 64; s++)
        if (has(att, s) && has(diagonalChecks, s) && safeCheck(s)) units += 3;
    } else if (t == Rook) {
      int count = 0;
      for (int s = 0; s < 64; s++) count += has(att, s) && inRookArea(s) && mayUse(sq, s);
      sum.add(rookMobility[count]);
      for (int s = 0; s < 64; s++)
        if (s != sq && b.is(s, c, Rook) && (fileOf(s) == fileOf(sq) || rankOf(s) == rankOf(sq))) {
          sum.add(23, 7);
          break;
        }
      if (relRank(c, rankOf(sq)) == 6 && relRank(c, rankOf(ek)) == 7) sum.add(61, 167);
      bool own = false, theirs = false, guarded = false;
      for (int r = 0; r < 8; r++) {
        own |= b.pawn(c, fileOf(sq), r);
        if (b.pawn(e, fileOf(sq), r)) theirs = true, guarded |= b.attackedByPawn(e, fileOf(sq), r);
      }
      if (!own) !theirs ? sum.add(160, 172) : !guarded ? sum.add(96, 110) : sum.add(59, 30);
      if (nearKing) units += 1;
      if (fileOf(sq) == fileOf(ek)) {
        bool blocked = false;
        for (int s = 0; s < 64; s++) blocked |= has(between[sq][ek], s) && b.is(s, c, Pawn);
        if (!blocked) units += 2;
      }
      for (int s = 0; s < 64; s++)
        if (has(att, s) && has(straightChecks, s) && safeCheck(s)) units += 4;
    } else if (t == Queen) {
      const Bitboard diagonal = bishopAttacks(sq, pos.occupied), straight = rookAttacks(sq, pos.occupied);
      int count = 0;
      for (int s = 0; s < 64; s++) {
        count += has(diagonal, s) && inQueenArea(s) && mayUse(sq, s);
        count += has(straight, s) && inQueenArea(s) && mayUse(sq, s);
      }
      sum.add(queenMobility[count]);
      if (nearKing) units += 1;
      for (int s = 0; s < 64; s++) {
        if (!has(att, s) || !(has(diagonalChecks, s) || has(straightChecks, s)) || !safeCheck(s)) continue;
        if (kingDistance(s, ek) > 1) queenChecks += 3;
        else queenChecks += seeLoses(pos, c, makeMove16(sq, s)) == 0 ? 10 : 1;
      }
    }
  }

  // Patterns, from c's side of the board.
  auto rel = [&](int s) { return c == White ? s : s ^ 56; };
  if ((ok == rel(5) || ok == rel(6)) &&
      (b.is(rel(6), c, Rook) || b.is(rel(7), c, Rook) || b.is(rel(14), c, Rook) || b.is(rel(15), c, Rook)))
    sum.add(-300, -100);
  if (onBoard(fileOf(ok), rankOf(ok) + forward(c)) && b.is(ok + 8 * forward(c), c, Bishop)) sum.add(54, 0);
  if (b.is(rel(7), c, Bishop) && b.colourAt(rel(14)) == c) sum.add(-75, -100);
  if (b.is(rel(0), c, Bishop) && b.colourAt(rel(9)) == c) sum.add(-75, -100);

  // Outposts, safe pieces, supported pieces, blocked and cramping pawns.
  bool enemyKnights = false;
  for (int s = 0; s < 64; s++) enemyKnights |= b.is(s, e, Knight);
  int outposts = 0, blockades = 0, safe = 0, behind = 0, supported = 0, blocked = 0, cramped = 0;
  for (int s = 0; s < 64; s++) {
    if (b.colourAt(s) != c) continue;
    const int t = b.typeAt(s), ahead = s + 8 * forward(c);
    const bool aheadOnBoard = onBoard(fileOf(s), rankOf(s) + forward(c));
    if (t == Knight) {
      const int rr = relRank(c, rankOf(s));
      if (fileOf(s) >= 2 && fileOf(s) <= 5 && rr >= 3 && rr <= 5 && b.attackedBy(c, s, Pawn) && b.safeFromPawns(c, s)) {
        outposts++;
        bool rival = false;
        for (int x = 0; x < 64; x++) rival |= b.is(x, e, Bishop) && darkSquare(x) == darkSquare(s);
        if (!enemyKnights && !rival) sum.add(210, 120);
      }
      if (aheadOnBoard && b.is(ahead, e, Pawn) && b.safeFromPawns(c, s)) blockades++;
      if (b.pawn(c, fileOf(s) - 1, rankOf(s) + forward(c)) || b.pawn(c, fileOf(s) + 1, rankOf(s) + forward(c)))
        behind++;
    }
    if ((t == Knight || t == Bishop || t == Rook) && b.safeFromPawns(c, s)) safe++;
    if ((t == Knight || t == Bishop) && aheadOnBoard && b.is(ahead, c, Pawn)) behind++;
    if (t != Pawn && b.attackedBy(c, s, Pawn)) supported++;
    if (t == Pawn && aheadOnBoard && pos.board[ahead]) blocked++;
  }
  for (int s = 0; s < 64; s++) {
    if (!b.is(s, e, Pawn) || relRank(c, rankOf(s)) != 6) continue;
    const int f = fileOf(s);
    const bool counted = fileOf(ek) <= 3 ? (f >= 3 && f <= 6) : (f >= 1 && f <= 4);
    if (counted && pos.board[s - 8 * forward(c)]) cramped++;
  }
  sum.add(70, 82, outposts);
  sum.add(22, 40, blockades);
  sum.add(45, 29, safe);
  sum.add(27, 9, behind);
  sum.add(60, 60, supported);
  sum.add(-36, -155, blocked);
  sum.add(17, 4, cramped);

  // Threats.
  int c1 = 0, c2 = 0, heldByPieces = 0, loosePawns = 0;
  for (int s = 0; s < 64; s++) {
    if (b.colourAt(s) != e) continue;
    const int t = b.typeAt(s);
    if ((t != Pawn && b.attackedBy(c, s, Pawn)) ||
        ((t == Rook || t == Queen) && (b.attackedBy(c, s, Knight) || b.attackedBy(c, s, Bishop))) ||
        (t == Queen && b.attackedBy(c, s, Rook)))
      c1++;
    const bool hit = (t != Queen && b.attackedBy(c, s, Queen)) ||
                     ((t == Pawn || t == Knight || t == Bishop) && b.attackedBy(c, s, Rook)) ||
                     ((t == Pawn || t == Bishop) && b.attackedBy(c, s, Knight)) ||
                     ((t == Pawn || t == Knight) && b.attackedBy(c, s, Bishop)) || kingDistance(s, ok) == 1;
    if (!b.attackedByAny(e, s, true) && hit) c2++;
    bool pieceGuard = false;
    for (int g = Knight; g <= Queen; g++) pieceGuard |= b.attackedBy(e, s, g);
    if (b.attackedByAny(c, s, false) && pieceGuard && !b.attackedBy(e, s, Pawn)) heldByPieces++;
  }
  for (int s = 0; s < 64; s++) loosePawns += b.is(s, c, Pawn) && !b.attackedByAny(c, s, false);
  sum.add(TH[std::min(c1, 17)]);
  sum.add(TH[std::min(c1 + c2, 17)]);
  sum.add(30, 37, heldByPieces);
  sum.add(-15, -30, loosePawns);

  // The remaining king-attack units and the table.
  const int kingFileCentre = std::min(std::max(fileOf(ek), 1), 6);
  bool queen = false;
  for (int s = 0; s < 64; s++) {
    queen |= b.is(s, c, Queen);
    if (b.is(s, c, Pawn) && std::abs(fileOf(s) - kingFileCentre) <= 1) {
      const int rr = relRank(c, rankOf(s));
      units += rr == 3 ? 1 : (rr == 4 || rr == 5) ? 2 : 0;
    }
    if (kingDistance(s, ek) == 1 && b.attackedByAny(c, s, true) && !b.attackedByAny(e, s, false)) units += 2;
  }
  units += 3 - enemyPawns.shelter - (queen ? 0 : 3) + std::min(queenChecks, 25);
  sum.add(KA[std::clamp(units, 0, 255)]);
  return sum;
}

// Second-layer passed-pawn terms of c's passers: own[c] gets c's share,
// theirs[e] the enemy's (king next to the queening square, rook in front).
void passedSide(const Board& b, const std::vector<Square>& passers, int c, Sum own[2]) {
  const Position& pos = b.pos;
  const int e = other(c);
  const Square ok = pos.kingSquare(c), ek = pos.kingSquare(e);
  const bool queens = pos.phase == 44 && pos.pieces[White][Queen] && pos.pieces[Black][Queen];
  for (const Square s : passers) {
    const int r = relRank(c, rankOf(s)) - 1, k = r * (r - 1);
    queens ? own[c].add(48 * k, 41 * (r * r + 1)) : own[c].add(40 * k, 34 * (r * r + 1));
    if (r < 2) continue;
    const int step = 8 * forward(c), stop = s + step;
    const Square queening = makeSquare(fileOf(s), c == White ? 7 : 0);
    own[c].add(KO[r][kingDistance(ok, stop)]);
    own[c].add(KE[r][kingDistance(ek, stop)]);
    if (kingDistance(ok, queening) <= 1) own[c].add(0, 125);
    if (kingDistance(ek, queening) <= 1) own[e].add(0, 125);
    for (int x = 0; x < 2 && r != 2; x++)
      for (int t = stop; t >= 0 && t < 64; t += step)
        if (b.is(t, x, Rook)) {
          own[x].add(60, 300);
          break;
        }
    if (pos.board[stop]) continue;
    bool xray = false;  // the nearest piece behind is an enemy rook or queen
    for (int t = s - step; t >= 0 && t < 64; t -= step)
      if (pos.board[t]) {
        xray = b.is(t, e, Rook) || b.is(t, e, Queen);
        break;
      }
    bool attacked = false, allDefended = true, covered = true, ownPiece = false;
    for (int t = stop; t >= 0 && t < 64; t += step) {
      const bool d = b.attackedByAny(c, t, false), a = xray || b.attackedByAny(e, t, false) || b.colourAt(t) == e;
      attacked |= a, allDefended &= d, covered &= !a || d, ownPiece |= b.colourAt(t) == c;
    }
    if (!attacked) allDefended ? own[c].add(12 * k, 64 * k) : own[c].add(10 * k, 60 * k);
    else if (covered) own[c].add(10 * k, 38 * k);
    if (!ownPiece) own[c].add(k, 3 * k);
  }
}

void expectSame(ScorePair engine, const Sum& reference, const std::string& what) {
  EXPECT_EQ(mgOf(engine), reference.mg) << what;
  EXPECT_EQ(egOf(engine), reference.eg) << what;
}

}  // namespace

TEST(EvalReference, TermsMatchASquareBySquareReference) {
  const std::vector<std::string> fens = variedFens(120);
  for (const std::string& text : fens) {
    for (const std::string& fen : {text, mirrorFen(text)}) {
      Position pos = fromFen(fen);
      Board board{pos};

      // First pawn layer, per side.
      int prox[2] = {0, 0};
      PawnFacts facts[2];
      Sum pawns[2] = {pawnSide(board, White, prox, facts[White]), pawnSide(board, Black, prox, facts[Black])};
      int n = popcount(pos.pieces[White][Pawn] | pos.pieces[Black][Pawn]), fileSum = 0;
      for (Bitboard p = pos.pieces[White][Pawn] | pos.pieces[Black][Pawn]; p;) fileSum += fileOf(popLsb(p));
      for (int c = 0; c < 2; c++) {
        pawns[c].add(0, prox[c]);
        if (n) pawns[c].add(0, -egOf(kingPawnMass[n][std::abs(fileSum / n - fileOf(pos.kingSquare(c)))]));
      }
      ScorePair sides[2];
      pawnSideScores(pos, sides);
      expectSame(sides[White], pawns[White], fen + " pawns, white");
      expectSame(sides[Black], pawns[Black], fen + " pawns, black");

      // Pieces, king safety and threats, then the passed pawns.
      PawnEntry entry;
      computePawnEntry(pos, entry);
      EvalScratch s;
      clearScratch(pos, s);
      pieceTerms(pos, entry, s);
      kingSafety(pos, entry, s);
      threatTerms(pos, s);
      expectSame(s.score[White], pieceSide(board, facts[Black], White), fen + " pieces, white");
      expectSame(s.score[Black], pieceSide(board, facts[White], Black), fen + " pieces, black");
      ScorePair before[2] = {s.score[White], s.score[Black]};
      passedPawnTerms(pos, entry, s);
      Sum passed[2];
      passedSide(board, facts[White].passers, White, passed);
      passedSide(board, facts[Black].passers, Black, passed);
      expectSame(subPair(s.score[White], before[White]), passed[White], fen + " passed, white");
      expectSame(subPair(s.score[Black], before[Black]), passed[Black], fen + " passed, black");
      if (HasFailure()) return;
    }
  }
}
