// Feeds arbitrary text to the FEN set-up routine alone.  Every FEN it
// accepts must give a consistent position, write back a FEN that sets up
// the same position (and the same castling data), and have a perft 2 count
// from the engine's move generator equal to the count from an independent
// generator written here (attack sets, pawn steps, castling from the
// castling data); both test legality by making every move.
#include <cstring>
#include <string>

#include "board/movegen.h"
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

uint64_t referencePerft(const Position& pos, int depth) {
  Move list[MaxMoves];
  const int n = referenceMoves(pos, list);
  uint64_t total = 0;
  Position child;
  for (int i = 0; i < n; ++i) {
    if (!makeMove(pos, child, list[i])) continue;
    child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
    total += depth <= 1 ? 1 : referencePerft(child, depth - 1);
  }
  return total;
}

// The engine's legal moves must pass its own pseudo-legality test (the
// picker trusts it for hash and killer moves) and leave consistent children.
void checkChildren(const Position& pos, const std::string& fen) {
  int list[MaxMoves];
  const int n = generateAll(pos, list);
  Position child;
  for (int i = 0; i < n; ++i) {
    const Move m = entryMove(list[i]);
    if (!isPseudoLegal(pos, m)) fuzzFailure("generated move " + std::to_string(m) + " not pseudo-legal in " + fen);
    if (!makeMove(pos, child, m)) continue;
    child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
    const std::string fault = positionFault(child);
    if (!fault.empty()) fuzzFailure("after move " + std::to_string(m) + " in " + fen + ": " + fault);
  }
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

  checkChildren(pos, fen);
  const uint64_t engine = perft(pos, 2), reference = referencePerft(pos, 2);
  if (engine != reference)
    fuzzFailure("perft 2 of " + fen + ": engine " + std::to_string(engine) + ", reference " + std::to_string(reference));
  return 0;
}
