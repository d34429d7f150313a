#include "board/position.h"

#include <cstring>

#include "board/settings.h"

CastlingData castling;

Key zobrist[16][64];
Key zobristCastle[16];
Key pawnZobrist[16][64];
Key materialValue[2][8][2];

// Square colour: 1 for dark squares (file + rank even, a1 is dark).
const int squareColour[64] = {
    1, 0, 1, 0, 1, 0, 1, 0,  0, 1, 0, 1, 0, 1, 0, 1,  1, 0, 1, 0, 1, 0, 1, 0,  0, 1, 0, 1, 0, 1, 0, 1,
    1, 0, 1, 0, 1, 0, 1, 0,  0, 1, 0, 1, 0, 1, 0, 1,  1, 0, 1, 0, 1, 0, 1, 0,  0, 1, 0, 1, 0, 1, 0, 1,
};
const int phaseValue[8] = {0, 0, 2, 3, 8, 22, 0, 0};

ScorePair pieceSquare[16][64];
ThreadSignals threadSignals[64];

const char* ttBuckets = nullptr;
Key ttMask = 0;
Key evalCacheMask = 0;
Key pawnTableMask = 0;

namespace {

// Fixed-seed xorshift64* generator: the hashing tables must be the same in
// every run because saved hash files hold keys made from them.
struct KeyGenerator {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
};

bool isBackRank(int c, Square s) { return rankOf(s) == (c == White ? 0 : 7); }

}  // namespace

void initZobrist() {
  KeyGenerator gen;
  for (int row = 0; row < 16; row++)
    for (int s = 0; s < 64; s++) zobrist[row][s] = gen.next();
  for (int i = 0; i < 16; i++) zobristCastle[i] = gen.next();
  for (int row = 0; row < 16; row++)
    for (int s = 0; s < 64; s++) {
      Key k = gen.next();
      bool pawnOrKing = row == 1 || row == 6 || row == 9 || row == 14;
      pawnZobrist[row][s] = pawnOrKing ? k : 0;
    }
  for (int c = 0; c < 2; c++)
    for (int t = 0; t < 8; t++) {
      Key k = gen.next(), dark = gen.next();
      bool counted = t >= Pawn && t <= Queen;
      materialValue[c][t][0] = counted ? k : 0;
      materialValue[c][t][1] = counted ? (t == Bishop ? dark : k) : 0;
    }
}

Bitboard attacksBy(const Position& pos, int c) {
  const Bitboard* p = pos.pieces[c];
  Bitboard occ = pos.occupied;
  Bitboard result = pawnAttacksBB(c, p[Pawn]);
  for (Bitboard b = p[Knight]; b; b &= b - 1) result |= knightAttacks[lsb(b)];
  for (Bitboard b = p[Bishop] | p[Queen]; b; b &= b - 1) result |= bishopAttacks(lsb(b), occ);
  for (Bitboard b = p[Rook] | p[Queen]; b; b &= b - 1) result |= rookAttacks(lsb(b), occ);
  for (Bitboard b = p[King]; b; b &= b - 1) result |= kingAttacks[lsb(b)];
  return result;
}

bool inCheckOf(const Position& pos, int c) {
  return (squareBB[pos.kingSquare(c)] & attacksBy(pos, other(c))) != 0;
}

Key computeKey(const Position& pos) {
  Key k = zobrist[0][pos.sideToMove()] ^ zobristCastle[pos.castleLost & 15];
  for (Square s = 0; s < 64; s++)
    if (pos.board[s]) k ^= zobrist[pieceRow(colourOfCode(pos.board[s]), typeOfCode(pos.board[s]))][s];
  if (pos.enPassant) k ^= zobrist[8][lsb(pos.enPassant)];
  return k;
}

Key computePawnKey(const Position& pos) {
  Key k = 0;
  for (Square s = 0; s < 64; s++)
    if (pos.board[s]) k ^= pawnZobrist[pieceRow(colourOfCode(pos.board[s]), typeOfCode(pos.board[s]))][s];
  return k;
}

Key computeMaterialKey(const Position& pos) {
  Key k = 0;
  for (Square s = 0; s < 64; s++)
    if (pos.board[s]) k += materialValue[colourOfCode(pos.board[s])][typeOfCode(pos.board[s])][squareColour[s]];
  return k;
}

Key computeTbKey(const Position& pos) {
  Key k = 0;
  for (Square s = 0; s < 64; s++)
    if (pos.board[s]) k += materialValue[colourOfCode(pos.board[s])][typeOfCode(pos.board[s])][0];
  return k;
}

ScorePair computePsq(const Position& pos) {
  ScorePair p = 0;
  for (Square s = 0; s < 64; s++)
    if (pos.board[s]) p = addPair(p, pieceSquare[pieceRow(colourOfCode(pos.board[s]), typeOfCode(pos.board[s]))][s]);
  return p;
}

int computePhase(const Position& pos) {
  int phase = 0;
  for (Square s = 0; s < 64; s++)
    if (pos.board[s]) phase += phaseValue[typeOfCode(pos.board[s])];
  return phase;
}

namespace {

constexpr Square KingDest[4] = {6, 2, 62, 58};   // g1 c1 g8 c8
constexpr Square RookDest[4] = {5, 3, 61, 59};   // f1 d1 f8 d8

bool refuse(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// Splits text at blanks into at most maxFields fields.
int splitFields(const char* text, std::string* fields, int maxFields) {
  int count = 0;
  const char* p = text;
  while (*p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
    if (!*p) break;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') p++;
    if (count == maxFields) return maxFields + 1;
    fields[count++].assign(start, p - start);
  }
  return count;
}

int pieceTypeOfLetter(char ch) {
  switch (ch | 32) {
    case 'p': return Pawn;
    case 'n': return Knight;
    case 'b': return Bishop;
    case 'r': return Rook;
    case 'q': return Queen;
    case 'k': return King;
    default: return 0;
  }
}

// Reads the board field into pos (pieces and board only).
bool parseBoard(Position& pos, const std::string& field, std::string* error) {
  int rank = 7, file = 0;
  for (char ch : field) {
    if (ch == '/') {
      if (--rank < 0) return refuse(error, "more than 8 ranks in the board field");
      file = 0;
    } else if (ch >= '0' && ch <= '9') {
      file += ch - '0';
      if (file > 8) return refuse(error, "a rank of more than 8 squares in the board field");
    } else if (int t = pieceTypeOfLetter(ch)) {
      if (file >= 8) return refuse(error, "a rank of more than 8 squares in the board field");
      int c = (ch >= 'a') ? Black : White;
      Square s = makeSquare(file, rank);
      pos.pieces[c][t] |= squareBB[s];
      pos.board[s] = pieceCode(c, t);
      file++;
    } else {
      return refuse(error, std::string("unexpected character '") + ch + "' in the board field");
    }
  }
  return true;
}

// The material a legal game can reach: one king each, no pawn on the first
// or last rank, at most 16 pieces and 8 pawns per colour.
bool checkMaterial(const Position& pos, std::string* error) {
  const char* names[2] = {"white", "black"};
  for (int c = 0; c < 2; c++) {
    if (popcount(pos.pieces[c][King]) != 1) return refuse(error, std::string(names[c]) + " must have exactly one king");
    if (popcount(pos.pieces[c][Pawn]) > 8) return refuse(error, std::string("more than 8 ") + names[c] + " pawns");
    if (popcount(pos.pieces[c][0]) > 16) return refuse(error, std::string("more than 16 ") + names[c] + " pieces");
  }
  if ((pos.pieces[White][Pawn] | pos.pieces[Black][Pawn]) & 0xFF000000000000FFull)
    return refuse(error, "a pawn on the first or last rank");
  return true;
}

// Grants castling right r with the rook on rookSq when king and rook stand
// where the right needs them; otherwise the right is silently dropped.
void grantRight(Position& pos, CastlingData& cd, int r, Square rookSq) {
  int c = r >> 1;
  Square k = cd.kingSquare[c];
  if (!isBackRank(c, k) || !isBackRank(c, rookSq)) return;
  if (pos.board[rookSq] != pieceCode(c, Rook)) return;
  bool kingSide = (r & 1) == 0;
  if (kingSide ? rookSq <= k : rookSq >= k) return;
  cd.castleRook[r] = rookSq;
  Square kd = KingDest[r], rd = RookDest[r];
  Square lo = std::min(std::min(k, kd), std::min(rookSq, rd));
  Square hi = std::max(std::max(k, kd), std::max(rookSq, rd));
  cd.castleEmpty[r] = 0;
  for (Square s = lo; s <= hi; s++) cd.castleEmpty[r] |= squareBB[s];
  cd.castlePath[r] = 0;
  for (Square s = std::min(k, kd); s <= std::max(k, kd); s++) cd.castlePath[r] |= squareBB[s];
  pos.castleLost &= ~(1 << r);
}

// Outermost own rook on one side of the king's back rank, or -1.
Square outermostRook(const Position& pos, int c, bool kingSide) {
  Square base = c == White ? 0 : 56;
  for (int i = 0; i < 7; i++) {
    Square s = base + (kingSide ? 7 - i : i);
    if (pos.board[s] == pieceCode(c, King)) break;
    if (pos.board[s] == pieceCode(c, Rook)) return s;
  }
  return -1;
}

// Castling field: KQkq take the outermost rook of that side, file letters
// (Shredder-FEN) name the rook's file on the colour's back rank.
void parseCastling(Position& pos, CastlingData& cd, const std::string& field) {
  for (char ch : field) {
    int c = (ch >= 'a') ? Black : White;
    char up = ch & ~32;
    if (up == 'K' || up == 'Q') {
      bool kingSide = up == 'K';
      Square rook = outermostRook(pos, c, kingSide);
      if (rook >= 0) grantRight(pos, cd, c * 2 + (kingSide ? 0 : 1), rook);
    } else if (up >= 'A' && up <= 'H') {
      Square rook = (c == White ? 0 : 56) + (up - 'A');
      int r = c * 2 + (rook > cd.kingSquare[c] ? 0 : 1);
      grantRight(pos, cd, r, rook);
    }
  }
  // Only the kings' squares and the castling rooks' squares take rights away.
  std::memset(cd.castleSquareMask, 0, sizeof cd.castleSquareMask);
  cd.castleSquareMask[cd.kingSquare[White]] |= 3;
  cd.castleSquareMask[cd.kingSquare[Black]] |= 12;
  for (int r = 0; r < 4; r++) {
    if (!(pos.castleLost & (1 << r))) cd.castleSquareMask[cd.castleRook[r]] |= 1 << r;
    cd.castleKeep[r] = ~(squareBB[cd.kingSquare[r >> 1]] | squareBB[cd.castleRook[r]]);
  }
}

// En-passant field: kept only when it names a square that a double push of
// the side not to move has just passed over; the move is remembered in
// lastMove, and the target only when a pawn of the side to move can capture.
void parseEnPassant(Position& pos, const std::string& field) {
  if (field.size() != 2 || field[0] < 'a' || field[0] > 'h' || field[1] < '1' || field[1] > '8') return;
  int us = pos.sideToMove(), them = other(us);
  Square e = makeSquare(field[0] - 'a', field[1] - '1');
  if (relativeRank(us, e) != 5) return;
  int up = us == White ? 8 : -8;          // towards the side to move's promotion rank
  Square pushed = e - up, origin = e + up;
  if (pos.board[pushed] != pieceCode(them, Pawn) || pos.board[e] || pos.board[origin]) return;
  pos.lastMove = origin * 64 + pushed;
  if (besideBB(squareBB[pushed]) & pos.pieces[us][Pawn]) {
    pos.enPassant = squareBB[e];
    pos.key ^= zobrist[8][e];
  }
}

}  // namespace

bool setPosition(Position& pos, const char* fen, std::string* error) {
  std::string fields[6];
  int count = splitFields(fen ? fen : "", fields, 6);
  if (count == 0) count = splitFields(StartFen, fields, 6);
  if (count > 6) return refuse(error, "too many fields in the FEN");
  if (count < 2) return refuse(error, "the FEN has no side-to-move field");
  if (fields[1] != "w" && fields[1] != "b") return refuse(error, "side to move must be w or b, not \"" + fields[1] + "\"");

  Position p;
  std::memset(&p, 0, sizeof p);
  p.castleLost = 15;
  p.ply = fields[1] == "b" ? 1 : 0;
  if (!parseBoard(p, fields[0], error)) return false;
  for (int c = 0; c < 2; c++)
    for (int t = Pawn; t <= King; t++) p.pieces[c][0] |= p.pieces[c][t];
  if (!checkMaterial(p, error)) return false;
  p.occupied = p.pieces[White][0] | p.pieces[Black][0];
  p.pieceCount = popcount(p.occupied);
  int us = p.sideToMove();
  if (inCheckOf(p, other(us))) return refuse(error, "the side not to move is in check");
  p.inCheck = inCheckOf(p, us) ? 1 : 0;

  CastlingData cd{};
  cd.kingSquare[White] = p.kingSquare(White);
  cd.kingSquare[Black] = p.kingSquare(Black);
  cd.castleRook[0] = 7;
  cd.castleRook[1] = 0;
  cd.castleRook[2] = 63;
  cd.castleRook[3] = 56;
  parseCastling(p, cd, count > 2 ? fields[2] : "-");

  p.key = computeKey(p);
  p.pawnKey = computePawnKey(p);
  p.materialKey = computeMaterialKey(p);
  p.tbKey = computeTbKey(p);
  p.psq = computePsq(p);
  p.phase = computePhase(p);
  if (count > 3) parseEnPassant(p, fields[3]);

  pos = p;
  castling = cd;
  return true;
}

std::string positionToFen(const Position& pos) {
  static const char letters[] = " pnbrqk  PNBRQK";
  std::string fen;
  for (int rank = 7; rank >= 0; rank--) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      int code = pos.board[makeSquare(file, rank)];
      if (!code) { empty++; continue; }
      if (empty) fen += char('0' + empty), empty = 0;
      fen += letters[(code & 8 ? 0 : 8) + (code & 7)];
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  fen += pos.sideToMove() == White ? " w " : " b ";
  std::string rights;
  for (int r = 0; r < 4; r++) {
    if (pos.castleLost & (1 << r)) continue;
    int c = r >> 1;
    Square rook = castling.castleRook[r];
    if (rook == outermostRook(pos, c, (r & 1) == 0))
      rights += "KQkq"[r];
    else
      rights += char((c == White ? 'A' : 'a') + fileOf(rook));
  }
  fen += rights.empty() ? "-" : rights;
  fen += ' ';
  if (pos.enPassant) {
    Square e = lsb(pos.enPassant);
    fen += char('a' + fileOf(e));
    fen += char('1' + rankOf(e));
  } else {
    fen += '-';
  }
  fen += ' ' + std::to_string(pos.rule50) + " 1";
  return fen;
}
