#include "tb/decode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t WdlMagic = 0x5D23E871;
constexpr uint32_t DtzMagic = 0xA50C66D7;

// Index tables, built once by initIndexTables.
uint64_t binomial[5][64];       // binomial[k][n] = C(n, k + 1)
int diagonalSide[64];           // +1 above the a1-h8 diagonal, 0 on it, -1 below
int diagonalMirror[64];         // square reflected in the a1-h8 diagonal
int triangle[64];               // class of a square under the eight board symmetries
int diag[64];                   // position along a1-h8 (0..7) or h1-a8 (8..15)
int kingPairIndex[10][64];      // two leading kings: 0..461, -1 where impossible
int leadPawnIndex[64];          // leading pawn's slot within its file block
int leadPawnSquare[24];         // inverse of leadPawnIndex on files a-d
uint64_t leadPawnOffset[5][24];
uint64_t leadPawnFactor[5][4];
bool indexTablesReady = false;

// Squares below the a1-h8 diagonal 0..27, the diagonal 28..35, squares above
// it the value of their mirror image.  Rows from rank 8 down to rank 1.
constexpr int LowerByRow[64] = {
    6, 12, 17, 21, 24, 26, 27, 35,  5, 11, 16, 20, 23, 25, 34, 27,
    4, 10, 15, 19, 22, 33, 25, 26,  3, 9,  14, 18, 32, 22, 23, 24,
    2, 8,  13, 31, 18, 19, 20, 21,  1, 7,  30, 13, 14, 15, 16, 17,
    0, 29, 7,  8,  9,  10, 11, 12,  28, 0, 1,  2,  3,  4,  5,  6};

// Order of the non-leading pawns of the leading colour.  Rows from rank 8 down.
constexpr int PawnOrderByRow[64] = {
    0,  0,  0,  0,  0,  0,  0,  0,   37, 25, 13, 1,  0,  12, 24, 36,
    39, 27, 15, 3,  2,  14, 26, 38,  41, 29, 17, 5,  4,  16, 28, 40,
    43, 31, 19, 7,  6,  18, 30, 42,  45, 33, 21, 9,  8,  20, 32, 44,
    47, 35, 23, 11, 10, 22, 34, 46,  0,  0,  0,  0,  0,  0,  0,  0};

constexpr int fileFold[8] = {0, 1, 2, 3, 3, 2, 1, 0};
constexpr uint64_t leadGroupFactor[3] = {31332, 28056, 462};

inline int lower(int s) { return LowerByRow[s ^ 56]; }
inline int pawnOrderIndex(int s) { return PawnOrderByRow[s ^ 56]; }

inline uint32_t le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint16_t le16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t be32(const uint8_t* p) { return __builtin_bswap32(le32(p)); }

// Sorts a few squares ascending (groups hold at most five).
inline void sortSquares(int* p, int n) {
  for (int i = 1; i < n; i++)
    for (int j = i; j > 0 && p[j - 1] > p[j]; j--) std::swap(p[j - 1], p[j]);
}

// Adds the index of each group of like pieces from slot i on: the group's
// squares, with the squares of earlier groups taken out, as a combination.
uint64_t indexGroups(const EncodingData& d, int* p, int i, int num) {
  uint64_t idx = 0;
  while (i < num) {
    int len = d.norm[i];
    sortSquares(p + i, len);
    uint64_t s = 0;
    for (int m = i; m < i + len; m++) {
      int j = 0;
      for (int k = 0; k < i; k++) j += p[m] > p[k];
      s += binomial[m - i][p[m] - j];
    }
    idx += s * d.factor[i];
    i += len;
  }
  return idx;
}

// Bounds-checked reading of a mapped file.  The position may pass the end
// (a pad byte skipped after the last byte of the file); nothing is then left.
struct Cursor {
  const uint8_t* base;
  size_t size;
  size_t pos;
  bool has(uint64_t n) const { return pos <= size && n <= size - pos; }
  const uint8_t* at() const { return base + pos; }
};

bool fail(std::string* why, const char* reason) {
  *why = reason;
  return false;
}

// Whether the piece list of an encoding is the table's material in an order
// the index functions can use: every like piece counted once, the leading
// group made of unique pieces (pawnless) or of the two colours' pawns.
bool piecesMatchMaterial(const TbEntry& e, const EncodingData& d) {
  int counts[16], seen[16] = {};
  countMaterial(e.name, counts);
  for (int i = 0; i < e.num; i++) {
    int c = d.pieces[i];
    if ((c & 7) == 0 || (c & 7) == 7) return false;
    seen[c]++;
  }
  for (int c = 0; c < 16; c++)
    if (seen[c] != counts[c]) return false;
  for (int i = 1; i < e.num; i++)  // like pieces stand together
    for (int k = 0; k + 1 < i && d.pieces[i] != d.pieces[i - 1]; k++)
      if (d.pieces[k] == d.pieces[i]) return false;
  if (!e.hasPawns) {
    int lead = e.leaderKind == 0 ? 3 : 2;
    for (int i = 0; i < lead; i++)
      if (counts[d.pieces[i]] != 1) return false;
    return true;
  }
  int leadPawn = d.pieces[0], otherPawn = leadPawn ^ 8;
  if ((leadPawn & 7) != 1 || counts[leadPawn] != e.pawns[0] || counts[otherPawn] != e.pawns[1]) return false;
  for (int i = 0; i < e.pawns[0] + e.pawns[1]; i++)
    if (d.pieces[i] != (i < e.pawns[0] ? leadPawn : otherPawn)) return false;
  return true;
}

// Group lengths and index multipliers of one side (and file), and the
// size of its table.  order and order2 are the header's positions of the
// leading group and of the second colour's pawns (15 = none).
bool setEncoding(const TbEntry& e, EncodingData& d, int order, int order2, int file) {
  int num = e.num;
  if (!piecesMatchMaterial(e, d)) return false;
  std::fill(d.norm, d.norm + TbPieces, 0);
  int i;
  if (!e.hasPawns) {
    d.norm[0] = e.leaderKind == 0 ? 3 : e.leaderKind == 2 ? 2 : e.leaderKind - 1;
    i = d.norm[0];
  } else {
    d.norm[0] = e.pawns[0];
    if (e.pawns[1]) d.norm[e.pawns[0]] = e.pawns[1];
    i = e.pawns[0] + e.pawns[1];
  }
  for (; i < num; i += d.norm[i])
    for (int j = i; j < num && d.pieces[j] == d.pieces[i]; j++) d.norm[i]++;

  bool leadSet = false, secondSet = !e.hasPawns || e.pawns[1] == 0;
  if (e.hasPawns && (order2 < 15) != (e.pawns[1] != 0)) return false;
  i = d.norm[0];
  if (e.hasPawns && order2 < 15) i += d.norm[i];
  int n = 64 - i;
  uint64_t f = 1;
  for (int k = 0; i < num || k == order || k == order2; k++) {
    if (k == order) {
      d.factor[0] = f;
      f *= e.hasPawns ? leadPawnFactor[d.norm[0] - 1][file] : leadGroupFactor[e.leaderKind];
      leadSet = true;
    } else if (k == order2) {
      d.factor[d.norm[0]] = f;
      f *= binomial[d.norm[d.norm[0]] - 1][48 - d.norm[0]];
      secondSet = true;
    } else {
      d.factor[i] = f;
      f *= binomial[d.norm[i] - 1][n];
      n -= d.norm[i];
      i += d.norm[i];
    }
  }
  d.tableSize = f;
  return leadSet && secondSet;
}

// Sizes of a sub-table's index table, size table and block area.
struct CodecSizes {
  uint64_t index = 0, sizes = 0, blocks = 0;
};

// Expansion lengths of all symbols, children before parents; false on a
// child out of range, a cycle or an absurd length.
bool computeSymbolLengths(SubTableCodec& d) {
  std::vector<uint8_t> state(d.numSyms, 0);  // 0 new, 1 on the stack, 2 done
  std::vector<uint32_t> stack;
  d.symLen.assign(d.numSyms, 0);
  for (uint32_t root = 0; root < d.numSyms; root++) {
    if (state[root] == 2) continue;
    stack.push_back(root);
    while (!stack.empty()) {
      uint32_t s = stack.back();
      const uint8_t* w = d.symPat + 3 * s;
      uint32_t s1 = ((w[1] & 15) << 8) | w[0], s2 = (w[2] << 4) | (w[1] >> 4);
      if (s2 == 0xFFF) {
        state[s] = 2;
        stack.pop_back();
        continue;
      }
      if (s1 >= d.numSyms || s2 >= d.numSyms) return false;
      state[s] = 1;
      bool pushed = false;
      for (uint32_t c : {s1, s2}) {
        if (state[c] == 1) return false;
        if (state[c] == 0) {
          stack.push_back(c);
          pushed = true;
        }
      }
      if (pushed) continue;
      uint64_t len = (uint64_t)d.symLen[s1] + d.symLen[s2] + 1;
      if (len > (1u << 30)) return false;
      d.symLen[s] = (uint32_t)len;
      state[s] = 2;
      stack.pop_back();
    }
  }
  return true;
}

// Reads one pair-compression header at the cursor and builds its decoding
// tables; returns the sizes of the parts that follow later in the file.
bool readCodec(Cursor& c, uint64_t tableSize, bool wdl, SubTableCodec& d, CodecSizes& sizes, std::string* why) {
  if (!c.has(2)) return fail(why, "header beyond the end of the file");
  const uint8_t* h = c.at();
  d.flags = h[0];
  if (h[0] & 0x80) {
    d.idxBits = 0;
    d.minLen = wdl ? h[1] : 0;
    c.pos += 2;
    if (wdl && d.minLen > 4) return fail(why, "value out of range");
    return true;
  }
  if (!c.has(12)) return fail(why, "header beyond the end of the file");
  d.blockSize = h[1];
  d.idxBits = h[2];
  d.realBlocks = le32(h + 4);
  d.numBlocks = d.realBlocks + h[3];
  d.maxLen = h[8];
  d.minLen = h[9];
  if (d.blockSize > 30 || d.idxBits == 0 || d.idxBits > 40 || d.minLen == 0 || d.maxLen > MaxCodeLen ||
      d.minLen > d.maxLen)
    return fail(why, "bad codec parameters");
  int len = d.maxLen - d.minLen + 1;
  if (!c.has(12 + 2 * (uint64_t)len)) return fail(why, "header beyond the end of the file");
  for (int i = 0; i < len; i++) d.offset[i] = le16(h + 10 + 2 * i);
  d.numSyms = le16(h + 10 + 2 * len);
  uint64_t headerLen = 12 + 2 * (uint64_t)len + 3 * (uint64_t)d.numSyms + (d.numSyms & 1);
  if (d.numSyms == 0 || d.numSyms > 0xFFF) return fail(why, "bad symbol count");
  if (!c.has(headerLen)) return fail(why, "symbols beyond the end of the file");
  d.symPat = h + 12 + 2 * len;
  c.pos += headerLen;
  if (!computeSymbolLengths(d)) return fail(why, "bad symbol tree");
  if (wdl)
    for (uint32_t s = 0; s < d.numSyms; s++) {
      const uint8_t* w = d.symPat + 3 * s;
      if (((w[2] << 4) | (w[1] >> 4)) == 0xFFF && w[0] > 4) return fail(why, "value out of range");
    }

  // Smallest code of each length, left-aligned in 32 bits; every code a
  // 32-bit window can hold must lead to an existing symbol.
  int64_t base[MaxCodeLen];
  base[len - 1] = 0;
  for (int i = len - 2; i >= 0; i--) {
    int64_t t = base[i + 1] + d.offset[i] - d.offset[i + 1];
    if (t < 0) return fail(why, "bad code lengths");
    base[i] = t / 2;
  }
  uint64_t upper = 1ull << 32;
  for (int i = 0; i < len; i++) {
    int l = d.minLen + i;
    d.base[i] = (uint64_t)base[i] << (32 - l);
    if (d.base[i] < upper) {
      uint64_t lastSym = d.offset[i] + ((upper - 1 - d.base[i]) >> (32 - l));
      if (lastSym >= d.numSyms) return fail(why, "code beyond the symbol table");
      upper = d.base[i];
    }
  }

  d.indexEntries = (tableSize + (1ull << d.idxBits) - 1) >> d.idxBits;
  sizes.index = 6 * d.indexEntries;
  sizes.sizes = 2 * (uint64_t)d.numBlocks;
  sizes.blocks = (uint64_t)d.realBlocks << d.blockSize;
  return true;
}

}  // namespace

void countMaterial(const char* name, int counts[16]) {
  std::fill(counts, counts + 16, 0);
  int colour = 0;
  for (const char* c = name; *c; c++) {
    const char* letters = "PNBRQK";
    const char* hit = std::strchr(letters, *c);
    if (*c == 'v') colour = 8;
    else if (hit) counts[colour + 1 + (int)(hit - letters)]++;
  }
}

void initIndexTables() {
  if (indexTablesReady) return;
  for (int k = 0; k < 5; k++)
    for (int n = 0; n < 64; n++) {
      uint64_t f = 1, l = 1;
      for (int i = 0; i <= k; i++) {
        f *= (uint64_t)(n - i);
        l *= (uint64_t)(i + 1);
      }
      binomial[k][n] = n > k ? f / l : 0;
    }
  for (int s = 0; s < 64; s++) {
    int f = fileOf(s), r = rankOf(s);
    diagonalSide[s] = f < r ? 1 : f == r ? 0 : -1;
    diagonalMirror[s] = makeSquare(r, f);
    diag[s] = f == r ? f : f + r == 7 ? 8 + r : 0;
    int ff = f > 3 ? 7 - f : f, rr = r > 3 ? 7 - r : r;
    if (ff < rr) std::swap(ff, rr);
    constexpr int classes[10] = {1, 2, 3, 10, 11, 19, 0, 9, 18, 27};  // b1 c1 d1 c2 d2 d3 a1 b2 c3 d4
    triangle[s] = (int)(std::find(classes, classes + 10, makeSquare(ff, rr)) - classes);
  }

  // King pairs: the second king anywhere it may stand beside the first
  // (below the diagonal when the first is on it), then on the diagonal.
  constexpr int representative[10] = {1, 2, 3, 10, 11, 19, 0, 9, 18, 27};
  auto apart = [](int a, int b) { return a != b && (std::abs(fileOf(a) - fileOf(b)) > 1 || std::abs(rankOf(a) - rankOf(b)) > 1); };
  int next = 0;
  for (int t = 0; t < 10; t++)
    for (int s = 0; s < 64; s++) {
      kingPairIndex[t][s] = -1;
      if (!apart(representative[t], s)) continue;
      if (t >= 6 && diagonalSide[s] >= 0) continue;
      kingPairIndex[t][s] = next++;
    }
  for (int t = 6; t < 10; t++)
    for (int s = 0; s < 64; s++)
      if (apart(representative[t], s) && diagonalSide[s] == 0) kingPairIndex[t][s] = next++;

  for (int s = 0; s < 64; s++) {
    int f = fileOf(s), r = rankOf(s);
    leadPawnIndex[s] = r >= 1 && r <= 6 ? 6 * std::min(f, 7 - f) + r - 1 : 0;
    if (f < 4 && r >= 1 && r <= 6) leadPawnSquare[leadPawnIndex[s]] = s;
  }
  for (int i = 0; i < 5; i++)
    for (int f = 0; f < 4; f++) {
      uint64_t sum = 0;
      for (int j = 6 * f; j < 6 * f + 6; j++) {
        leadPawnOffset[i][j] = sum;
        sum += i == 0 ? 1 : binomial[i - 1][pawnOrderIndex(leadPawnSquare[j])];
      }
      leadPawnFactor[i][f] = sum;
    }
  indexTablesReady = true;
}

uint64_t indexPieces(const TbEntry& e, const EncodingData& d, int* p) {
  int num = e.num;
  if (p[0] & 4)
    for (int i = 0; i < num; i++) p[i] ^= 7;
  if (p[0] & 32)
    for (int i = 0; i < num; i++) p[i] ^= 56;
  int lead = e.leaderKind == 0 ? 3 : 2;
  int first = 0;
  while (first < num && diagonalSide[p[first]] == 0) first++;
  if (first < lead && diagonalSide[p[first]] > 0)
    for (int i = 0; i < num; i++) p[i] = diagonalMirror[p[i]];

  int64_t idx;
  int p0 = p[0], p1 = p[1], p2 = p[2];
  if (e.leaderKind == 0) {
    int i = p1 > p0, j = (p2 > p0) + (p2 > p1);
    if (diagonalSide[p0]) idx = triangle[p0] * 3906 + (p1 - i) * 62 + (p2 - j);
    else if (diagonalSide[p1]) idx = 23436 + diag[p0] * 1736 + lower(p1) * 62 + (p2 - j);
    else if (diagonalSide[p2]) idx = 30380 + diag[p0] * 196 + (diag[p1] - i) * 28 + lower(p2);
    else idx = 31164 + diag[p0] * 42 + (diag[p1] - i) * 6 + (diag[p2] - j);
  } else if (e.leaderKind == 1) {
    int j = (p2 > p0) + (p2 > p1);
    int x = kingPairIndex[triangle[p0]][p1];
    if (x < 441) idx = x + 441 * (p2 - j);
    else idx = 26901 + x + 21 * lower(p2) - (diagonalSide[p2] == 0 ? 21 * j : 0);
  } else {
    idx = kingPairIndex[triangle[p0]][p1];
  }
  // A negative leading index (kings side by side) wraps to an index beyond
  // the table, which the caller rejects.
  return (uint64_t)idx * d.factor[0] + indexGroups(d, p, d.norm[0], num);
}

int pawnFile(const TbEntry& e, int* p) {
  for (int i = 1; i < e.pawns[0]; i++)
    if (leadPawnIndex[p[0]] > leadPawnIndex[p[i]]) std::swap(p[0], p[i]);
  return fileFold[p[0] & 7];
}

uint64_t indexPawns(const TbEntry& e, const EncodingData& d, int* p) {
  int num = e.num, leading = e.pawns[0];
  if (p[0] & 4)
    for (int i = 0; i < num; i++) p[i] ^= 7;
  for (int i = 1; i < leading - 1; i++)
    for (int j = i + 1; j < leading; j++)
      if (pawnOrderIndex(p[i]) < pawnOrderIndex(p[j])) std::swap(p[i], p[j]);
  int t = leading - 1;
  uint64_t idx = leadPawnOffset[t][leadPawnIndex[p[0]]];
  for (int i = t; i > 0; i--) idx += binomial[t - i][pawnOrderIndex(p[i])];
  idx *= d.factor[0];

  // The other colour's pawns, on the 48 squares of ranks 2-7.
  int i = leading;
  if (e.pawns[1]) {
    int end = i + e.pawns[1];
    sortSquares(p + i, e.pawns[1]);
    uint64_t s = 0;
    for (int m = i; m < end; m++) {
      int j = 0;
      for (int k = 0; k < i; k++) j += p[m] > p[k];
      s += binomial[m - i][p[m] - j - 8];
    }
    idx += s * d.factor[i];
    i = end;
  }
  return idx + indexGroups(d, p, i, num);
}

int decompressValue(const SubTableCodec& d, uint64_t index) {
  if (d.idxBits == 0) return d.minLen;

  // The index entry gives the block and position of the middle of its
  // range; walk from there to the block that holds this index.
  uint64_t mainIdx = index >> d.idxBits;
  int64_t lit = (int64_t)(index & ((1ull << d.idxBits) - 1)) - ((int64_t)1 << (d.idxBits - 1));
  const uint8_t* entry = d.indexTable + 6 * mainIdx;
  uint32_t block = le32(entry);
  lit += le16(entry + 4);
  while (lit < 0) {
    if (block == 0) return -1;
    --block;
    lit += (int64_t)le16(d.sizeTable + 2 * (uint64_t)block) + 1;
  }
  while (lit > le16(d.sizeTable + 2 * (uint64_t)block)) {
    lit -= (int64_t)le16(d.sizeTable + 2 * (uint64_t)block) + 1;
    if (++block >= d.numBlocks) return -1;
  }
  if (block >= d.realBlocks) return -1;

  // Decode symbols until the one that covers lit.  Bits past the end of the
  // block area (only in damaged data) read as zeros.
  uint64_t limit = (uint64_t)(d.dataEnd - d.data);
  uint64_t pos = (uint64_t)block << d.blockSize;
  auto word = [&](uint64_t at) { return at + 4 <= limit ? be32(d.data + at) : 0u; };
  uint64_t buf = ((uint64_t)word(pos) << 32) | word(pos + 4);
  pos += 8;
  int bits = 64;
  const uint32_t* symLen = d.symLen.data();
  int sym;
  for (;;) {
    uint64_t code = buf >> 32;
    int i = 0;
    while (code < d.base[i]) i++;
    int l = d.minLen + i;
    sym = d.offset[i] + (int)((code - d.base[i]) >> (32 - l));
    if (lit < (int64_t)symLen[sym] + 1) break;
    lit -= (int64_t)symLen[sym] + 1;
    buf <<= l;
    bits -= l;
    if (bits <= 32) {
      buf |= (uint64_t)word(pos) << (32 - bits);
      pos += 4;
      bits += 32;
    }
  }

  // Expand the symbol down to the value at lit.
  while (symLen[sym]) {
    const uint8_t* w = d.symPat + 3 * sym;
    int s1 = ((w[1] & 15) << 8) | w[0];
    if (lit < (int64_t)symLen[s1] + 1) sym = s1;
    else {
      lit -= (int64_t)symLen[s1] + 1;
      sym = (w[2] << 4) | (w[1] >> 4);
    }
  }
  return d.symPat[3 * sym];
}

bool decodeTable(TbEntry& e, bool wdl, std::string* why) {
  Cursor c{e.data, e.mapping, 0};
  if (!c.has(5)) return fail(why, "shorter than its header");
  if (le32(e.data) != (wdl ? WdlMagic : DtzMagic)) return fail(why, "wrong magic bytes");
  uint8_t fileFlags = e.data[4];
  bool split = wdl && (fileFlags & 1);
  if (((fileFlags & 2) != 0) != (e.hasPawns != 0)) return fail(why, "pawn flag does not match the material");
  if (wdl && !split && !e.symmetric) return fail(why, "one side to move missing");
  if (e.leaderKind > 2 || e.num < 3 || e.num > TbPieces) return fail(why, "unsupported material");
  int files = e.hasPawns ? 4 : 1, sides = split ? 2 : 1;
  c.pos = 5;

  // Piece orders: low nibbles for side 0, high nibbles for side 1.
  for (int f = 0; f < files; f++) {
    uint64_t need = 1 + (e.hasPawns && e.pawns[1] ? 1 : 0) + e.num;
    if (!c.has(need)) return fail(why, "piece orders beyond the end of the file");
    const uint8_t* r = c.at();
    int order[2] = {r[0] & 15, r[0] >> 4}, order2[2] = {15, 15};
    if (need > 1u + e.num) {
      order2[0] = r[1] & 15;
      order2[1] = r[1] >> 4;
    }
    const uint8_t* pieces = r + need - e.num;
    for (int s = 0; s < (wdl ? 2 : 1); s++) {
      EncodingData& d = e.enc[f][s];
      for (int i = 0; i < std::min<int>(e.num, TbPieces); i++) d.pieces[i] = s ? pieces[i] >> 4 : pieces[i] & 15;
      if (s < sides && !setEncoding(e, d, order[s], order2[s], f)) return fail(why, "bad piece order");
    }
    if (f > 0 && e.enc[f][0].pieces[0] != e.enc[0][0].pieces[0]) return fail(why, "bad piece order");
    c.pos += need;
  }
  c.pos += c.pos & 1;

  // Pair-compression headers of all sub-tables, in file order.
  CodecSizes sizes[4][2];
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++)
      if (!readCodec(c, e.enc[f][s].tableSize, wdl, e.enc[f][s].codec, sizes[f][s], why)) return false;

  // DTZ value maps: four per file, each a length byte and its values.
  if (!wdl) {
    for (int f = 0; f < files; f++) {
      if (!(e.enc[f][0].codec.flags & 2)) continue;
      for (int i = 0; i < 4; i++) {
        if (!c.has(1) || !c.has(1 + (uint64_t)*c.at())) return fail(why, "value map beyond the end of the file");
        e.valueMapLen[f][i] = *c.at();
        e.valueMap[f][i] = c.at() + 1;
        c.pos += 1 + e.valueMapLen[f][i];
      }
    }
    c.pos += c.pos & 1;
  }

  // Index tables, then size tables, then 64-byte aligned block areas.
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++) {
      if (!c.has(sizes[f][s].index)) return fail(why, "index table beyond the end of the file");
      e.enc[f][s].codec.indexTable = c.at();
      c.pos += sizes[f][s].index;
    }
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++) {
      if (!c.has(sizes[f][s].sizes)) return fail(why, "size table beyond the end of the file");
      e.enc[f][s].codec.sizeTable = c.at();
      c.pos += sizes[f][s].sizes;
    }
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++) {
      SubTableCodec& d = e.enc[f][s].codec;
      uint64_t aligned = (c.pos + 63) & ~(uint64_t)63;
      if (aligned > c.size) return fail(why, "data beyond the end of the file");
      c.pos = aligned;
      if (!c.has(sizes[f][s].blocks)) return fail(why, "data beyond the end of the file");
      d.data = c.at();
      d.dataEnd = d.data + sizes[f][s].blocks;
      c.pos += sizes[f][s].blocks;
      // Every index entry must name a block of the size table (the last
      // entries may name the extra ones past the blocks with data).
      for (uint64_t k = 0; k < d.indexEntries; k++)
        if (le32(d.indexTable + 6 * k) >= d.numBlocks) return fail(why, "index entry beyond the blocks");
    }

  // An unsplit symmetric WDL table serves side 1 from side 0's data.
  if (wdl && !split)
    for (int f = 0; f < files; f++) e.enc[f][1] = e.enc[f][0];
  return true;
}
