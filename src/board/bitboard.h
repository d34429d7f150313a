// Bitboards and attack tables.  Bit n of a Bitboard is square n.  Every
// table here is filled once by initBitboards() at start-up, before any other
// thread exists, and is read-only afterwards.  Sliding attacks use fixed-shift
// magic multiplication into one table shared by rooks and bishops.
#pragma once

#include "board/types.h"
#include "platform/cpu.h"

constexpr Bitboard notFileA = 0xFEFEFEFEFEFEFEFEull;
constexpr Bitboard notFileH = 0x7F7F7F7F7F7F7F7Full;
constexpr Bitboard fileABB = 0x0101010101010101ull;
constexpr Bitboard rank1BB = 0xFFull;

struct MagicRecord {
  uint64_t magic;
  int32_t offset;
};

constexpr int SliderTableSize = 97264;

// Everything one slider lookup reads, in one record per square: the
// relevant occupancy mask, the magic and the square's block of attack sets.
struct alignas(32) SliderRecord {
  Bitboard mask;
  uint64_t magic;
  const Bitboard* attacks;
};

extern Bitboard squareBB[64];
extern Bitboard kingAttacks[64];
extern Bitboard knightAttacks[64];
extern Bitboard between[64][64];
extern Bitboard rookLines[64];
extern Bitboard bishopLines[64];
extern Bitboard queenLines[64];
extern Bitboard rookMask[64];
extern Bitboard bishopMask[64];
extern MagicRecord rookMagic[64];
extern MagicRecord bishopMagic[64];
extern Bitboard sliderAttacks[SliderTableSize];
extern SliderRecord rookSlider[64];
extern SliderRecord bishopSlider[64];
// pawnAttacks[c][s]: squares a pawn of colour c on s attacks.
extern Bitboard pawnAttacks[2][64];

// Set once at start-up from cpuHasPopcnt(); picks the bit counter.
extern int hasPopcnt;

// Fills squareBB and every attack table.  Idempotent.
void initBitboards();

// Software population count (SWAR), identical to the builtin.
constexpr int popcountSoft(Bitboard b) {
  b = b - ((b >> 1) & 0x5555555555555555ull);
  b = (b & 0x3333333333333333ull) + ((b >> 2) & 0x3333333333333333ull);
  b = (b + (b >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return (int)((b * 0x0101010101010101ull) >> 56);
}
// Hardware population count.  The instruction is written out because the
// compiler builtin, in code not compiled for a popcnt-capable target, turns
// into a library call that counts in software.  popcount() takes this path
// only when the processor has the instruction (hasPopcnt).
inline int popcountHard(Bitboard b) {
#ifdef ORVANE_X86
  Bitboard count;
  __asm__("popcntq %1, %0" : "=r"(count) : "rm"(b) : "cc");
  return (int)count;
#else
  return __builtin_popcountll(b);
#endif
}
inline int popcount(Bitboard b) { return hasPopcnt ? popcountHard(b) : popcountSoft(b); }
// Lowest set bit; b must not be 0.
inline Square lsb(Bitboard b) { return __builtin_ctzll(b); }
inline Square popLsb(Bitboard& b) { Square s = lsb(b); b &= b - 1; return s; }
inline bool moreThanOne(Bitboard b) { return b & (b - 1); }

inline Bitboard rookAttacks(Square s, Bitboard occ) {
  const SliderRecord& r = rookSlider[s];
  return r.attacks[((occ & r.mask) * r.magic) >> 52];
}
inline Bitboard bishopAttacks(Square s, Bitboard occ) {
  const SliderRecord& r = bishopSlider[s];
  return r.attacks[((occ & r.mask) * r.magic) >> 55];
}
inline Bitboard queenAttacks(Square s, Bitboard occ) { return rookAttacks(s, occ) | bishopAttacks(s, occ); }

// Squares attacked by a set of pawns of colour c.
inline Bitboard pawnAttacksBB(int c, Bitboard p) {
  return c == White ? (((p << 9) & notFileA) | ((p << 7) & notFileH))
                    : (((p >> 7) & notFileA) | ((p >> 9) & notFileH));
}
// Squares on the same rank directly beside the set b.
inline Bitboard besideBB(Bitboard b) { return ((b >> 1) & notFileH) | ((b << 1) & notFileA); }
inline Bitboard shiftUp(int c, Bitboard b) { return c == White ? b << 8 : b >> 8; }
