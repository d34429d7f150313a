// Shared vocabulary of the engine: squares, colours, pieces, moves, scores
// and the packed middle-game/end-game score pair.  Everything here is a
// plain integer with one-line constexpr helpers; every subsystem includes it.
#pragma once

#include <cstdint>

using Bitboard = uint64_t;
using Key = uint64_t;

// Square 0 = a1, 1 = b1 ... 7 = h1, 8 = a2 ... 63 = h8.
using Square = int;
constexpr int fileOf(Square s) { return s & 7; }
constexpr int rankOf(Square s) { return s >> 3; }
constexpr Square makeSquare(int file, int rank) { return rank * 8 + file; }

// Colour 0 = white, 1 = black.
constexpr int White = 0, Black = 1;
constexpr int other(int c) { return c ^ 1; }
// Rank seen from colour c's side (0 = its back rank).
constexpr int relativeRank(int c, Square s) { return c == White ? rankOf(s) : 7 - rankOf(s); }

// Piece types; type 0 in pieces[c][0] means "all pieces of colour c".
constexpr int AllPieces = 0, Pawn = 1, Knight = 2, Bishop = 3, Rook = 4, Queen = 5, King = 6;

// Piece code on a board square: colour bit (16 white, 8 black) OR type.
// White P..K = 17..22, black p..k = 9..14, 0 = empty.
constexpr int WhiteBit = 16, BlackBit = 8;
constexpr int pieceCode(int c, int t) { return (c == White ? WhiteBit : BlackBit) | t; }
constexpr int typeOfCode(int code) { return code & 7; }
constexpr int colourOfCode(int code) { return (code & 8) ? Black : White; }
// Row of the per-piece tables (zobrist, piece-square): colour * 8 + type.
constexpr int pieceRow(int c, int t) { return c * 8 + t; }

// Move: a 16-bit word held in an int.
//   bits 0-5   to square
//   bits 6-11  from square
//   bits 12-14 kind: 0 normal, 1 double push, 2 en passant,
//              3 castling (king takes own rook), 4..7 promotion to Q, N, R, B
// 0 is "no move" and, for makeMove, the null move.
// Move-list entries are 32 bits: the Move in the low 16 bits and a signed
// ordering score in the high 16 bits; consumers mask with 0xFFFF.
using Move = int;
constexpr int KindNormal = 0, KindDouble = 1, KindEnPassant = 2, KindCastle = 3,
              KindPromoQueen = 4, KindPromoKnight = 5, KindPromoRook = 6, KindPromoBishop = 7;
constexpr Move makeMove16(Square from, Square to, int kind = KindNormal) { return (kind << 12) | (from << 6) | to; }
constexpr Square moveTo(Move m) { return m & 63; }
constexpr Square moveFrom(Move m) { return (m >> 6) & 63; }
constexpr int moveKind(Move m) { return (m >> 12) & 7; }
constexpr bool isPromotion(Move m) { return moveKind(m) >= KindPromoQueen; }
// Type of the promoted piece for kinds 4..7: queen, knight, rook, bishop.
constexpr int promotionType(Move m) { return moveKind(m) == 4 ? Queen : moveKind(m) == 5 ? Knight : moveKind(m) == 6 ? Rook : Bishop; }
constexpr int entryMove(int entry) { return entry & 0xFFFF; }
constexpr int entryScore(int entry) { return entry >> 16; }
constexpr int makeEntry(Move m, int score) { return (int)(((unsigned)score << 16) | (unsigned)(m & 0xFFFF)); }

// Scores: side-to-move view, about 100 per pawn.
constexpr int MateScore = 32000;     // a side mated at ply p scores p - 32000
constexpr int MateBound = 31800;     // |score| >= this is a mate score
constexpr int NoScore = 32001;
constexpr int MaxMoves = 256;        // room for any move list

// ScorePair: middle-game value in bits 32..62, end-game value in bits 0..30,
// each a signed 31-bit number wrapping on its own; bits 31 and 63 stay 0.
using ScorePair = uint64_t;
constexpr uint64_t PairMask = 0x7FFFFFFF7FFFFFFFull;
constexpr ScorePair makePair(int mg, int eg) {
  return ((((uint64_t)(uint32_t)mg) & 0x7FFFFFFF) << 32) | (((uint64_t)(uint32_t)eg) & 0x7FFFFFFF);
}
constexpr int sext31(uint64_t v) { return (int)((uint32_t)(v << 1)) >> 1; }
constexpr int mgOf(ScorePair p) { return sext31((p >> 32) & 0x7FFFFFFF); }
constexpr int egOf(ScorePair p) { return sext31(p & 0x7FFFFFFF); }
constexpr ScorePair addPair(ScorePair a, ScorePair b) { return (a + b) & PairMask; }
constexpr ScorePair subPair(ScorePair a, ScorePair b) { return (a + ((0x8000000080000000ull - b) & PairMask)) & PairMask; }
// Each half multiplied by its own small integer, modulo 2^31.
constexpr ScorePair mulPair(ScorePair a, int mgFactor, int egFactor) {
  return makePair((int)((uint32_t)mgOf(a) * (uint32_t)mgFactor), (int)((uint32_t)egOf(a) * (uint32_t)egFactor));
}
constexpr ScorePair mulPair(ScorePair a, int factor) { return mulPair(a, factor, factor); }

// Rounded division, halves away from zero.
constexpr int rdiv(int64_t x, int64_t d) { return (int)(x >= 0 ? (x + d / 2) / d : (x - d / 2) / d); }
