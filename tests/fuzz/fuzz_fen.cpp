// Feeds arbitrary text to the FEN set-up routine alone.  Every FEN it
// accepts must give a consistent position and write back a FEN that sets
// up the same position (and the same castling data).  Its perft 2 is then
// taken by the engine and by a reference written here that shares nothing
// with it: the reference reads the written FEN into a board array of its
// own (castling rooks from the castling field: KQkq the outermost rook,
// file letters that file, so Chess960 rights too), finds attacks by walking
// rays on that array, and tests a move's legality by making it on a copy
// and looking for an attack on its own king; castling also needs the king
// out of check, the squares between king, rook and their destinations empty
// and no square of the king's way attacked.  At the root and in every child
// both must find the same legal moves as sets, the engine's child must hold
// the reference child's board and castling rights, and each child must be
// consistent.  Equal move sets make equal perft 2 counts, and a difference
// is reported with the move.
#include <algorithm>
#include <cstring>
#include <string>

#include "board/movegen.h"
#include "board/movetext.h"
#include "common.h"

namespace {

// The reference's position: pieces as FEN letters (0 empty) on squares
// a1 = 0 .. h8 = 63, the side to move (0 White), the en-passant target
// square or -1, and for each right (White king side, White queen side,
// Black king side, Black queen side) the castling rook's square or -1.
struct RefBoard {
  char square[64];
  int side;
  int enPassant;
  int castleRook[4];
};

int fileOfSq(int s) { return s & 7; }
int rankOfSq(int s) { return s >> 3; }
bool isWhite(char piece) { return piece >= 'A' && piece <= 'Z'; }
char upper(char piece) { return isWhite(piece) ? piece : (char)(piece - 32); }
bool owns(char piece, int colour) { return piece && isWhite(piece) == (colour == 0); }
char colourPiece(char upperLetter, int colour) { return colour == 0 ? upperLetter : (char)(upperLetter + 32); }

// The written FEN's first four fields into a board; false when they do not
// read as the engine writes them.
bool readFen(const std::string& fen, RefBoard& b) {
  std::memset(b.square, 0, sizeof b.square);
  size_t i = 0;
  int rank = 7, file = 0;
  for (; i < fen.size() && fen[i] != ' '; ++i) {
    const char c = fen[i];
    if (c == '/') --rank, file = 0;
    else if (c >= '1' && c <= '8') file += c - '0';
    else if (file < 8 && rank >= 0) b.square[rank * 8 + file++] = c;
    else return false;
  }
  if (i + 3 > fen.size()) return false;
  b.side = fen[i + 1] == 'w' ? 0 : 1;
  i += 3;
  const size_t castlingEnd = fen.find(' ', i);
  if (castlingEnd == std::string::npos) return false;
  const std::string rights = fen.substr(i, castlingEnd - i), ep = fen.substr(castlingEnd + 1, 2);
  for (int& r : b.castleRook) r = -1;
  for (char c : rights) {
    if (c == '-') continue;
    const int colour = isWhite(c) ? 0 : 1, base = colour * 56;
    int king = -1;
    for (int f = 0; f < 8; ++f)
      if (b.square[base + f] == colourPiece('K', colour)) king = base + f;
    if (king < 0) return false;
    int rook = -1;
    if (upper(c) == 'K' || upper(c) == 'Q') {
      const int step = upper(c) == 'K' ? 1 : -1;
      for (int s = king + step; s >= base && s < base + 8; s += step)
        if (b.square[s] == colourPiece('R', colour)) rook = s;
    } else {
      rook = base + (upper(c) - 'A');
    }
    if (rook < 0 || b.square[rook] != colourPiece('R', colour)) return false;
    b.castleRook[colour * 2 + (rook > king ? 0 : 1)] = rook;
  }
  b.enPassant = ep.size() < 2 || ep[0] == '-' ? -1 : (ep[0] - 'a') + 8 * (ep[1] - '1');
  return true;
}

// Whether a piece of colour `by` attacks square s.
bool attacked(const RefBoard& b, int s, int by) {
  const int f = fileOfSq(s), r = rankOfSq(s);
  auto at = [&](int df, int dr) -> char {
    const int nf = f + df, nr = r + dr;
    return nf < 0 || nf > 7 || nr < 0 || nr > 7 ? 0 : b.square[nr * 8 + nf];
  };
  const int pawnRank = by == 0 ? -1 : 1;  // a white pawn attacks from the rank below
  if (at(-1, pawnRank) == colourPiece('P', by) || at(1, pawnRank) == colourPiece('P', by)) return true;
  static const int knight[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  for (const auto& d : knight)
    if (at(d[0], d[1]) == colourPiece('N', by)) return true;
  static const int rays[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  for (int i = 0; i < 8; ++i) {
    if (at(rays[i][0], rays[i][1]) == colourPiece('K', by)) return true;
    const char slider = i < 4 ? 'R' : 'B';
    for (int step = 1; step < 8; ++step) {
      const int nf = f + step * rays[i][0], nr = r + step * rays[i][1];
      if (nf < 0 || nf > 7 || nr < 0 || nr > 7) break;
      const char piece = b.square[nr * 8 + nf];
      if (!piece) continue;
      if (piece == colourPiece(slider, by) || piece == colourPiece('Q', by)) return true;
      break;
    }
  }
  return false;
}

bool kingAttackedRef(const RefBoard& b, int colour) {
  for (int s = 0; s < 64; ++s)
    if (b.square[s] == colourPiece('K', colour)) return attacked(b, s, 1 - colour);
  return true;  // no king: never legal
}

// The board after move m (in the engine's encoding) by the side to move,
// castling rights and en-passant square updated.
RefBoard made(const RefBoard& b, Move m) {
  RefBoard c = b;
  const int from = moveFrom(m), to = moveTo(m), kind = moveKind(m), us = b.side;
  const char piece = b.square[from];
  c.enPassant = -1;
  if (kind == KindCastle) {
    const bool kingSide = to > from;
    const int base = us * 56;
    c.square[from] = c.square[to] = 0;
    c.square[base + (kingSide ? 6 : 2)] = colourPiece('K', us);
    c.square[base + (kingSide ? 5 : 3)] = colourPiece('R', us);
  } else {
    c.square[to] = piece;
    c.square[from] = 0;
    if (kind == KindEnPassant) c.square[to + (us == 0 ? -8 : 8)] = 0;
    if (kind == KindDouble) c.enPassant = (from + to) / 2;
    if (kind >= KindPromoQueen) c.square[to] = colourPiece("QNRB"[kind - KindPromoQueen], us);
  }
  for (int r = 0; r < 4; ++r)
    if ((upper(piece) == 'K' && r / 2 == us) || b.castleRook[r] == from || b.castleRook[r] == to) c.castleRook[r] = -1;
  c.side = 1 - us;
  return c;
}

void addPawnMove(int from, int to, int kind, Move* list, int& n) {
  if (rankOfSq(to) == 0 || rankOfSq(to) == 7) {
    for (int promotion : {KindPromoQueen, KindPromoKnight, KindPromoRook, KindPromoBishop})
      list[n++] = makeMove16(from, to, promotion);
  } else {
    list[n++] = makeMove16(from, to, kind);
  }
}

// Castling with right r: written as the king taking its rook.
bool castlingAllowed(const RefBoard& b, int r) {
  const int us = b.side, rook = b.castleRook[r];
  if (rook < 0 || r / 2 != us) return false;
  int king = -1;
  for (int s = us * 56; s < us * 56 + 8; ++s)
    if (b.square[s] == colourPiece('K', us)) king = s;
  if (king < 0 || attacked(b, king, 1 - us)) return false;
  const bool kingSide = r % 2 == 0;
  const int kingTo = us * 56 + (kingSide ? 6 : 2), rookTo = us * 56 + (kingSide ? 5 : 3);
  const int lo = std::min({king, rook, kingTo, rookTo}), hi = std::max({king, rook, kingTo, rookTo});
  for (int s = lo; s <= hi; ++s)
    if (s != king && s != rook && b.square[s]) return false;
  for (int s = std::min(king, kingTo); s <= std::max(king, kingTo); ++s)
    if (attacked(b, s, 1 - us)) return false;
  return true;
}

// The legal moves of b in the engine's encoding.
int referenceMoves(const RefBoard& b, Move* list) {
  const int us = b.side;
  Move pseudo[256];
  int n = 0;
  auto target = [&](int from, int f, int r) {
    if (f < 0 || f > 7 || r < 0 || r > 7) return false;
    const char there = b.square[r * 8 + f];
    if (!owns(there, us)) pseudo[n++] = makeMove16(from, r * 8 + f);
    return there == 0;
  };
  static const int knight[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  static const int rays[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  for (int s = 0; s < 64; ++s) {
    const char piece = b.square[s];
    if (!owns(piece, us)) continue;
    const int f = fileOfSq(s), r = rankOfSq(s);
    switch (upper(piece)) {
      case 'N':
        for (const auto& d : knight) target(s, f + d[0], r + d[1]);
        break;
      case 'K':
        for (const auto& d : rays) target(s, f + d[0], r + d[1]);
        break;
      case 'B': case 'R': case 'Q':
        for (int i = upper(piece) == 'B' ? 4 : 0; i < (upper(piece) == 'R' ? 4 : 8); ++i)
          for (int step = 1; target(s, f + step * rays[i][0], r + step * rays[i][1]); ++step) {}
        break;
      case 'P': {
        const int up = us == 0 ? 8 : -8;
        if (!b.square[s + up]) {
          addPawnMove(s, s + up, KindNormal, pseudo, n);
          if (r == (us == 0 ? 1 : 6) && !b.square[s + 2 * up]) pseudo[n++] = makeMove16(s, s + 2 * up, KindDouble);
        }
        for (int df : {-1, 1}) {
          if (f + df < 0 || f + df > 7) continue;
          const int to = s + up + df;
          if (b.square[to] && !owns(b.square[to], us)) addPawnMove(s, to, KindNormal, pseudo, n);
          if (to == b.enPassant) pseudo[n++] = makeMove16(s, to, KindEnPassant);
        }
        break;
      }
    }
  }
  for (int r = 2 * us; r < 2 * us + 2; ++r)
    if (castlingAllowed(b, r)) {
      for (int s = us * 56; s < us * 56 + 8; ++s)
        if (b.square[s] == colourPiece('K', us)) pseudo[n++] = makeMove16(s, b.castleRook[r], KindCastle);
    }
  int legal = 0;
  for (int i = 0; i < n; ++i)
    if (!kingAttackedRef(made(b, pseudo[i]), us)) list[legal++] = pseudo[i];
  return legal;
}

// The engine's child against the reference's: the board and the rights.
std::string childDifference(const Position& pos, const RefBoard& b) {
  for (int s = 0; s < 64; ++s) {
    const int code = pos.board[s];
    const char piece = code ? colourPiece(" PNBRQK"[typeOfCode(code)], colourOfCode(code)) : 0;
    if (piece != b.square[s]) return "the board differs on square " + std::to_string(s);
  }
  for (int r = 0; r < 4; ++r)
    if (((pos.castleLost >> r) & 1) != (b.castleRook[r] < 0)) return "castling right " + std::to_string(r) + " differs";
  if (pos.sideToMove() != b.side) return "the side to move differs";
  return "";
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

// The legal moves of pos (the engine's generator, legality by the engine's
// makeMove) against the reference's legal moves of b, as sets; visit sees
// every legal child of both.  via is the root move that led to pos, 0 at
// the root, where every engine move must also pass the engine's own
// pseudo-legality test (the move picker trusts it for hash and killer
// moves).
template <class Visit>
int legalMoves(const Position& pos, const RefBoard& b, const std::string& fen, Move via, Visit visit) {
  int entries[MaxMoves];
  Move engine[MaxMoves], reference[256];
  const int generated = generateAll(pos, entries);
  for (int i = 0; i < generated; ++i) engine[i] = entryMove(entries[i]);
  sortMoves(engine, generated, "the engine", fen, via);
  if (!via)
    for (int i = 0; i < generated; ++i)
      if (!isPseudoLegal(pos, engine[i]))
        fuzzFailure("generated move " + moveToText(engine[i]) + " not pseudo-legal in " + fen);
  const int nr = referenceMoves(b, reference);
  sortMoves(reference, nr, "the reference", fen, via);
  Position children[MaxMoves];
  Move legal[MaxMoves];
  int ne = 0;
  for (int i = 0; i < generated; ++i)
    if (makeMove(pos, children[ne], engine[i])) legal[ne++] = engine[i];
  for (int i = 0, j = 0; i < ne || j < nr;) {
    if (j >= nr || (i < ne && legal[i] < reference[j]))
      fuzzFailure("the engine's legal move " + moveToText(legal[i]) + " is not legal for the reference in " +
                  place(fen, via));
    if (i >= ne || reference[j] < legal[i])
      fuzzFailure("legal move " + moveToText(reference[j]) + " missing from the engine's moves in " + place(fen, via));
    Position& child = children[i];
    child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
    visit(child, made(b, legal[i]), legal[i]);
    ++i, ++j;
  }
  return ne;
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

  // Perft 2 by both sides, compared move by move: the root's legal moves,
  // each child's board, rights and consistency, and each child's legal moves.
  RefBoard board;
  if (!readFen(fen, board)) fuzzFailure("the reference cannot read the written FEN " + fen);
  const int rootMoves = legalMoves(pos, board, fen, 0, [&](const Position& child, const RefBoard& b, Move m) {
    std::string childFault = positionFault(child);
    if (childFault.empty()) childFault = childDifference(child, b);
    if (!childFault.empty()) fuzzFailure(place(fen, m) + ": " + childFault);
    legalMoves(child, b, fen, m, [](const Position&, const RefBoard&, Move) {});
  });
  if (perft(pos, 1) != (uint64_t)rootMoves)
    fuzzFailure("perft 1 of " + fen + " is " + std::to_string(perft(pos, 1)) + ", not " + std::to_string(rootMoves));
  return 0;
}
