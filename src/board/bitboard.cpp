#include "board/bitboard.h"


#include "board/position.h"

// Fixed-shift magic multipliers and offsets (Volker Annuss' published set):
// every (square, occupancy) pair of both slider kinds indexes one shared table,
// and pairs that collide on an index need the same attack set there.
MagicRecord rookMagic[64] = {
    {0x00A801F7FBFEFFFFull, 85487}, {0x00180012000BFFFFull, 43101},
    {0x0040080010004004ull, 0}, {0x0040040008004002ull, 49085},
    {0x0040020004004001ull, 93168}, {0x0020008020010202ull, 78956},
    {0x0040004000800100ull, 60703}, {0x0810020990202010ull, 64799},
    {0x000028020A13FFFEull, 30640}, {0x003FEC008104FFFFull, 9256},
    {0x00001800043FFFE8ull, 28647}, {0x00001800217FFFE8ull, 10404},
    {0x0000200100020020ull, 63775}, {0x0000200080010020ull, 14500},
    {0x0000300043FFFF40ull, 52819}, {0x000038010843FFFDull, 2048},
    {0x00D00018010BFFF8ull, 52037}, {0x0009000C000EFFFCull, 16435},
    {0x0004000801020008ull, 29104}, {0x0002002004002002ull, 83439},
    {0x0001002002002001ull, 86842}, {0x0001001000801040ull, 27623},
    {0x0000004040008001ull, 26599}, {0x0000802000200040ull, 89583},
    {0x0040200010080010ull, 7042}, {0x0000080010040010ull, 84463},
    {0x0004010008020008ull, 82415}, {0x0000020020040020ull, 95216},
    {0x0000010020020020ull, 35015}, {0x0000008020010020ull, 10790},
    {0x0000008020200040ull, 53279}, {0x0000200020004081ull, 70684},
    {0x0040001000200020ull, 38640}, {0x0000080400100010ull, 32743},
    {0x0004010200080008ull, 68894}, {0x0000200200200400ull, 62751},
    {0x0000200100200200ull, 41670}, {0x0000200080200100ull, 25575},
    {0x0000008000404001ull, 3042}, {0x0000802000200040ull, 36591},
    {0x00FFFFB50C001800ull, 69918}, {0x007FFF98FF7FEC00ull, 9092},
    {0x003FFFF919400800ull, 17401}, {0x001FFFF01FC03000ull, 40688},
    {0x0000010002002020ull, 96240}, {0x0000008001002020ull, 91632},
    {0x0003FFF673FFA802ull, 32495}, {0x0001FFFE6FFF9001ull, 51133},
    {0x00FFFFD800140028ull, 78319}, {0x007FFFE87FF7FFECull, 12595},
    {0x003FFFD800408028ull, 5152}, {0x001FFFF111018010ull, 32110},
    {0x000FFFF810280028ull, 13894}, {0x0007FFFEB7FF7FD8ull, 2546},
    {0x0003FFFC0C480048ull, 41052}, {0x0001FFFFA2280028ull, 77676},
    {0x00FFFFE4FFDFA3BAull, 73580}, {0x007FFB7FBFDFEFF6ull, 44947},
    {0x003FFFBFDFEFF7FAull, 73565}, {0x001FFFEFF7FBFC22ull, 17682},
    {0x000FFFFBF7FC2FFEull, 56607}, {0x0007FFFDFA03FFFFull, 56135},
    {0x0003FFDEFF7FBDECull, 44989}, {0x0001FFFF99FFAB2Full, 21479},
};
MagicRecord bishopMagic[64] = {
    {0x007BFEFFBFEFFBFFull, 16530}, {0x003EFFBFEFFBFE08ull, 9162},
    {0x0000401020200000ull, 9674}, {0x0000200810000000ull, 18532},
    {0x0000110080000000ull, 19172}, {0x0000080100800000ull, 17700},
    {0x0007EFE0BFFF8000ull, 5730}, {0x00000FB0203FFF80ull, 19661},
    {0x00007DFF7FDFF7FDull, 17065}, {0x0000011FDFF7EFFFull, 12921},
    {0x0000004010202000ull, 15683}, {0x0000002008100000ull, 17764},
    {0x0000001100800000ull, 19684}, {0x0000000801008000ull, 18724},
    {0x000007EFE0BFFF80ull, 4108}, {0x000000080F9FFFC0ull, 12936},
    {0x0000400080808080ull, 15747}, {0x0000200040404040ull, 4066},
    {0x0000400080808080ull, 14359}, {0x0000200200801000ull, 36039},
    {0x0000240080840000ull, 20457}, {0x0000080080840080ull, 43291},
    {0x0000040010410040ull, 5606}, {0x0000020008208020ull, 9497},
    {0x0000804000810100ull, 15715}, {0x0000402000408080ull, 13388},
    {0x0000804000810100ull, 5986}, {0x0000404004010200ull, 11814},
    {0x0000404004010040ull, 92656}, {0x0000101000804400ull, 9529},
    {0x0000080800104100ull, 18118}, {0x0000040400082080ull, 5826},
    {0x0000410040008200ull, 4620}, {0x0000208020004100ull, 12958},
    {0x0000110080040008ull, 55229}, {0x0000020080080080ull, 9892},
    {0x0000404040040100ull, 33767}, {0x0000202040008040ull, 20023},
    {0x0000101010002080ull, 6515}, {0x0000080808001040ull, 6483},
    {0x0000208200400080ull, 19622}, {0x0000104100200040ull, 6274},
    {0x0000208200400080ull, 18404}, {0x0000008840200040ull, 14226},
    {0x0000020040100100ull, 17990}, {0x007FFF80C0280050ull, 18920},
    {0x0000202020200040ull, 13862}, {0x0000101010100020ull, 19590},
    {0x0007FFDFC17F8000ull, 5884}, {0x0003FFEFE0BFC000ull, 12946},
    {0x0000000820806000ull, 5570}, {0x00000003FF004000ull, 18740},
    {0x0000000100202000ull, 6242}, {0x0000004040802000ull, 12326},
    {0x007FFEFFBFEFF820ull, 4156}, {0x003FFF7FDFF7FC10ull, 12876},
    {0x0003FFDFDFC27F80ull, 17047}, {0x000003FFEFE0BFC0ull, 17780},
    {0x0000000008208060ull, 2494}, {0x0000000003FF0040ull, 17716},
    {0x0000000001002020ull, 17067}, {0x0000000040408020ull, 9465},
    {0x00007FFEFFBFEFF9ull, 16196}, {0x007FFDFF7FDFF7FDull, 6166},
};

Bitboard squareBB[64];
Bitboard kingAttacks[64];
Bitboard knightAttacks[64];
Bitboard between[64][64];
Bitboard rookLines[64];
Bitboard bishopLines[64];
Bitboard queenLines[64];
Bitboard rookMask[64];
Bitboard bishopMask[64];
Bitboard sliderAttacks[SliderTableSize];
SliderRecord rookSlider[64];
SliderRecord bishopSlider[64];
Bitboard pawnAttacks[2][64];
int hasPopcnt = 0;

namespace {

constexpr int RookDirs[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
constexpr int BishopDirs[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

bool onBoard(int file, int rank) { return file >= 0 && file < 8 && rank >= 0 && rank < 8; }

// Attack set of a slider on s walking the given directions, each ray up to
// and including the first occupied square.
Bitboard walkAttacks(Square s, Bitboard occ, const int (*dirs)[2]) {
  Bitboard result = 0;
  for (int d = 0; d < 4; d++) {
    int f = fileOf(s) + dirs[d][0], r = rankOf(s) + dirs[d][1];
    while (onBoard(f, r)) {
      Bitboard b = 1ull << makeSquare(f, r);
      result |= b;
      if (occ & b) break;
      f += dirs[d][0];
      r += dirs[d][1];
    }
  }
  return result;
}

// Relevant occupancy of a slider on s: its rays without the last (edge)
// square of each ray, since a piece there cannot block anything further.
Bitboard relevantMask(Square s, const int (*dirs)[2]) {
  Bitboard result = 0;
  for (int d = 0; d < 4; d++) {
    int f = fileOf(s) + dirs[d][0], r = rankOf(s) + dirs[d][1];
    while (onBoard(f + dirs[d][0], r + dirs[d][1])) {
      result |= 1ull << makeSquare(f, r);
      f += dirs[d][0];
      r += dirs[d][1];
    }
  }
  return result;
}

// Leaper targets from s for a list of (file, rank) steps.
Bitboard leaperTargets(Square s, const int (*steps)[2], int count) {
  Bitboard result = 0;
  for (int i = 0; i < count; i++) {
    int f = fileOf(s) + steps[i][0], r = rankOf(s) + steps[i][1];
    if (onBoard(f, r)) result |= 1ull << makeSquare(f, r);
  }
  return result;
}

// Stores the walked attack set of every subset of the mask at its magic index.
void fillSlider(Square s, Bitboard mask, const MagicRecord& m, int shift, const int (*dirs)[2]) {
  Bitboard subset = 0;
  do {
    sliderAttacks[m.offset + ((subset * m.magic) >> shift)] = walkAttacks(s, subset, dirs);
    subset = (subset - mask) & mask;  // next subset (Carry-Rippler)
  } while (subset);
}

}  // namespace

void initBitboards() {
  static const int kingSteps[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  static const int knightSteps[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  for (Square s = 0; s < 64; s++) squareBB[s] = 1ull << s;
  for (Square s = 0; s < 64; s++) {
    kingAttacks[s] = leaperTargets(s, kingSteps, 8);
    knightAttacks[s] = leaperTargets(s, knightSteps, 8);
    rookLines[s] = walkAttacks(s, 0, RookDirs) | squareBB[s];
    bishopLines[s] = walkAttacks(s, 0, BishopDirs) | squareBB[s];
    queenLines[s] = rookLines[s] | bishopLines[s];
    rookMask[s] = relevantMask(s, RookDirs);
    bishopMask[s] = relevantMask(s, BishopDirs);
  }
  // between[a][b]: walk from a towards b along the shared line, if any.
  for (Square a = 0; a < 64; a++)
    for (Square b = 0; b < 64; b++) {
      between[a][b] = 0;
      if (a == b || !(queenLines[a] & squareBB[b])) continue;
      int df = (fileOf(b) > fileOf(a)) - (fileOf(b) < fileOf(a));
      int dr = (rankOf(b) > rankOf(a)) - (rankOf(b) < rankOf(a));
      int f = fileOf(a) + df, r = rankOf(a) + dr;
      while (makeSquare(f, r) != b) {
        between[a][b] |= 1ull << makeSquare(f, r);
        f += df;
        r += dr;
      }
    }
  for (int i = 0; i < SliderTableSize; i++) sliderAttacks[i] = 0;
  for (Square s = 0; s < 64; s++) {
    fillSlider(s, rookMask[s], rookMagic[s], 52, RookDirs);
    fillSlider(s, bishopMask[s], bishopMagic[s], 55, BishopDirs);
    rookSlider[s] = {rookMask[s], rookMagic[s].magic, sliderAttacks + rookMagic[s].offset};
    bishopSlider[s] = {bishopMask[s], bishopMagic[s].magic, sliderAttacks + bishopMagic[s].offset};
    pawnAttacks[White][s] = pawnAttacksBB(White, squareBB[s]);
    pawnAttacks[Black][s] = pawnAttacksBB(Black, squareBB[s]);
  }
  initZobrist();
}
