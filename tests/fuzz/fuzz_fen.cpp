// Feeds arbitrary text to the FEN set-up routine alone.  Every FEN it
// accepts must give a consistent position and write back a FEN that sets
// up the same position (and the same castling data).  Its perft 2 is then
// taken by the engine's move generator and by an independent one written
// here (attack sets, pawn steps, castling from the castling data), move by
// move: at the root and in every child both must find the same legal
// moves, legality tested by making every move, and every child must be
// consistent.  Equal move sets make equal perft 2 counts, and a difference
// is reported with the move.
#include <algorithm>
#include <cstring>
#include <string>

#include "board/movegen.h"
#include "board/movetext.h"
#include "common.h"

namespace {

// Adds a move for every square of targets.
void addTargets(Square from, Bitboard targets, int kind, Move* list, int& n) {
  for (; targets; targets &= targets - 1) list[n++] = makeMove16(from, lsb(targets), kind);
}

void addPawnMoves(Square from, Square to, bool promotes, Move* list, int& n) {
  if (!promotes) {
    list[n++] = makeMove16(from, to);
    return;
  }
  for (int kind : {KindPromoQueen, KindPromoKnight, KindPromoRook, KindPromoBishop})
    list[n++] = makeMove16(from, to, kind);
}

// Castling written as the king taking its own rook, when the right stands,
// the squares between are empty and no square the king crosses is attacked.
void addCastling(const Position& pos, Move* list, int& n) {
  const int us = pos.sideToMove();
  if (pos.inCheck) return;
  const Square king = pos.kingSquare(us);
  const Bitboard attacked = attacksBy(pos, other(us));
  for (int r = 2 * us; r < 2 * us + 2; ++r) {
    if (pos.castleLost & (1 << r)) continue;
    const Square rook = castling.castleRook[r];
    const Bitboard blockers = pos.occupied & ~squareBB[king] & ~squareBB[rook];
    if (castling.castleEmpty[r] & blockers) continue;
    if (castling.castlePath[r] & attacked) continue;
    list[n++] = makeMove16(king, rook, KindCastle);
  }
}

// Every pseudo-legal move of the side to move, generated without the
// engine's generators.
int referenceMoves(const Position& pos, Move* list) {
  const int us = pos.sideToMove(), them = other(us);
  const Bitboard own = pos.pieces[us][0], enemy = pos.pieces[them][0], occ = pos.occupied;
  int n = 0;
  for (Bitboard b = own; b; b &= b - 1) {
    const Square s = lsb(b);
    switch (typeOfCode(pos.board[s])) {
      case Knight: addTargets(s, knightAttacks[s] & ~own, KindNormal, list, n); break;
      case Bishop: addTargets(s, bishopAttacks(s, occ) & ~own, KindNormal, list, n); break;
      case Rook: addTargets(s, rookAttacks(s, occ) & ~own, KindNormal, list, n); break;
      case Queen: addTargets(s, queenAttacks(s, occ) & ~own, KindNormal, list, n); break;
      case King: addTargets(s, kingAttacks[s] & ~own, KindNormal, list, n); break;
      case Pawn: {
        const int up = us == White ? 8 : -8;
        const bool promotes = relativeRank(us, s) == 6;
        if (!(occ & squareBB[s + up])) {
          addPawnMoves(s, s + up, promotes, list, n);
          if (relativeRank(us, s) == 1 && !(occ & squareBB[s + 2 * up])) list[n++] = makeMove16(s, s + 2 * up, KindDouble);
        }
        const Bitboard hits = pawnAttacksBB(us, squareBB[s]);
        for (Bitboard t = hits & enemy; t; t &= t - 1) addPawnMoves(s, lsb(t), promotes, list, n);
        if (hits & pos.enPassant) list[n++] = makeMove16(s, lsb(pos.enPassant), KindEnPassant);
        break;
      }
    }
  }
  addCastling(pos, list, n);
  return n;
}

// Where a finding was made, for its message: the FEN, or the FEN and the
// root move leading to the position.
std::string place(const std::string& fen, Move via) { return via ? fen + " after " + moveToText(via) : fen; }

// Sorts a generator's moves; a move listed twice (or the null move) would
// be counted twice (or made as a pass) and is a fault.
void sortMoves(Move* list, int n, const char* generator, const std::string& fen, Move via) {
  std::sort(list, list + n);
  if (n > 0 && list[0] == 0) fuzzFailure(std::string(generator) + " lists the null move in " + place(fen, via));
  if (std::adjacent_find(list, list + n) != list + n)
    fuzzFailure(std::string(generator) + " lists a move twice in " + place(fen, via));
}

// The legal moves of pos: the engine's generator and the reference must
// both list every one of them (either may list illegal ones, which making
// the move refuses).  Each distinct move is made once, since both test
// legality with the same makeMove; visit sees every legal child.  via is
// the root move that led to pos, 0 at the root, where every engine move
// must also pass the engine's own pseudo-legality test (the move picker
// trusts it for hash and killer moves).
template <class Visit>
int legalMoves(const Position& pos, const std::string& fen, Move via, Visit visit) {
  int entries[MaxMoves];
  Move engine[MaxMoves], reference[MaxMoves];
  const int ne = generateAll(pos, entries);
  for (int i = 0; i < ne; ++i) engine[i] = entryMove(entries[i]);
  const int nr = referenceMoves(pos, reference);
  sortMoves(engine, ne, "the engine", fen, via);
  sortMoves(reference, nr, "the reference", fen, via);
  if (!via)
    for (int i = 0; i < ne; ++i)
      if (!isPseudoLegal(pos, engine[i]))
        fuzzFailure("generated move " + moveToText(engine[i]) + " not pseudo-legal in " + fen);
  int count = 0;
  Position child;
  for (int i = 0, j = 0; i < ne || j < nr;) {
    const bool byEngine = j >= nr || (i < ne && engine[i] <= reference[j]);
    const bool byReference = i >= ne || (j < nr && reference[j] <= engine[i]);
    const Move m = byEngine ? engine[i] : reference[j];
    i += byEngine;
    j += byReference;
    if (!makeMove(pos, child, m)) continue;
    if (!byEngine || !byReference)
      fuzzFailure("legal move " + moveToText(m) + " missing from " + (byEngine ? "the reference's" : "the engine's") +
                  " moves in " + place(fen, via));
    child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
    ++count;
    visit(child, m);
  }
  return count;
}

bool samePosition(const Position& a, const Position& b) {
  return std::memcmp(a.pieces, b.pieces, sizeof a.pieces) == 0 && std::memcmp(a.board, b.board, sizeof a.board) == 0 &&
         a.key == b.key && a.pawnKey == b.pawnKey && a.materialKey == b.materialKey && a.tbKey == b.tbKey &&
         a.enPassant == b.enPassant && a.castleLost == b.castleLost && a.sideToMove() == b.sideToMove() &&
         a.inCheck == b.inCheck && a.pieceCount == b.pieceCount;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  startEngine();
  const std::string text(reinterpret_cast<const char*>(data), size);
  Position pos;
  if (!setPosition(pos, text.c_str())) return 0;
  const CastlingData first = castling;
  const std::string fen = positionToFen(pos);
  std::string fault = positionFault(pos);
  if (!fault.empty()) fuzzFailure("set-up of \"" + text + "\": " + fault);

  Position again;
  std::string error;
  if (!setPosition(again, fen.c_str(), &error)) fuzzFailure("written FEN " + fen + " refused: " + error);
  if (!samePosition(pos, again) || std::memcmp(&first, &castling, sizeof first) != 0)
    fuzzFailure("written FEN " + fen + " sets up another position than \"" + text + "\"");
  if (positionToFen(again) != fen) fuzzFailure("FEN " + fen + " is not written back unchanged");

  // Perft 2 by both generators, compared move by move: the root's legal
  // moves, each child's consistency and each child's legal moves.
  const int rootMoves = legalMoves(pos, fen, 0, [&](const Position& child, Move m) {
    const std::string childFault = positionFault(child);
    if (!childFault.empty()) fuzzFailure(place(fen, m) + ": " + childFault);
    legalMoves(child, fen, m, [](const Position&, Move) {});
  });
  if (perft(pos, 1) != (uint64_t)rootMoves)
    fuzzFailure("perft 1 of " + fen + " is " + std::to_string(perft(pos, 1)) + ", not " + std::to_string(rootMoves));
  return 0;
}
