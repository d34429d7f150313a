// Small bitboard vocabulary shared by the pawn, piece and king-safety terms:
// file fills, spans in front of and behind a set seen from one colour, and
// relative ranks.  Everything takes the colour as a parameter so each term is
// written once for both sides.
#pragma once

#include "board/bitboard.h"

namespace evalbits {

constexpr Bitboard FileMask[8] = {fileABB,      fileABB << 1, fileABB << 2, fileABB << 3,
                                  fileABB << 4, fileABB << 5, fileABB << 6, fileABB << 7};
constexpr Bitboard EdgeFiles = FileMask[0] | FileMask[7];
constexpr Bitboard DarkSquares = 0xAA55AA55AA55AA55ull;

// Bit count of the evaluation terms.  Their hot paths run inside the two
// builds of the evaluation, where the builtin becomes the processor's
// instruction in the popcnt build and a library routine in the portable one
// (the same counts), with no test of the processor flag per count.
inline int countBits(Bitboard b) { return __builtin_popcountll(b); }

inline Bitboard northFill(Bitboard b) { b |= b << 8; b |= b << 16; return b | (b << 32); }
inline Bitboard southFill(Bitboard b) { b |= b >> 8; b |= b >> 16; return b | (b >> 32); }
// Every square of each file holding a member of b.
inline Bitboard fileFill(Bitboard b) { return northFill(b) | southFill(b); }
// The 8-bit mask of files holding a member of b (bit f = file f).
inline int fileBits(Bitboard b) { return (int)(southFill(b) & 0xFF); }

inline Bitboard shiftDown(int c, Bitboard b) { return c == White ? b >> 8 : b << 8; }
// b and every square in front of it (towards c's enemy), inclusive.
inline Bitboard forwardFill(int c, Bitboard b) { return c == White ? northFill(b) : southFill(b); }
// b and every square behind it (towards c's back rank), inclusive.
inline Bitboard backwardFill(int c, Bitboard b) { return c == White ? southFill(b) : northFill(b); }
// Squares strictly in front of / behind members of b on their files.
inline Bitboard frontSpan(int c, Bitboard b) { return forwardFill(c, shiftUp(c, b)); }
inline Bitboard rearSpan(int c, Bitboard b) { return backwardFill(c, shiftDown(c, b)); }
// Squares on the files adjacent to those holding members of b.
inline Bitboard adjacentFiles(Bitboard b) { return besideBB(fileFill(b)); }

// The whole board rank that is c's relative rank rr (0 = c's back rank).
constexpr Bitboard relativeRankBB(int c, int rr) { return rank1BB << (8 * (c == White ? rr : 7 - rr)); }
// Square s seen from c's side: white's squares unchanged, black's mirrored.
constexpr Square relativeSquare(int c, Square s) { return c == White ? s : s ^ 56; }
// Squares strictly ahead of rank rank (board rank 0..7) for colour c.
inline Bitboard ranksAhead(int c, int rank) {
  return c == White ? (rank == 7 ? 0 : ~0ull << (8 * (rank + 1))) : (rank == 0 ? 0 : ~0ull >> (8 * (8 - rank)));
}

inline int distance(Square a, Square b) {
  int df = fileOf(a) - fileOf(b), dr = rankOf(a) - rankOf(b);
  df = df < 0 ? -df : df;
  dr = dr < 0 ? -dr : dr;
  return df > dr ? df : dr;
}
// Squares of the same colour as s.
inline Bitboard sameColourSquares(Square s) { return (DarkSquares & squareBB[s]) ? DarkSquares : ~DarkSquares; }
// The three files centred on the king's file, moved inwards at the edge.
inline Bitboard kingFiles(Square k) {
  int f = fileOf(k) < 1 ? 1 : fileOf(k) > 6 ? 6 : fileOf(k);
  return FileMask[f - 1] | FileMask[f] | FileMask[f + 1];
}

}  // namespace evalbits
