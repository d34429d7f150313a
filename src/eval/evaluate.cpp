// The evaluation driver: caches, material, known endings, lazy exit and the
// final scaling of the positional sum computed by the term functions.
//
// Units: the evaluation works in fine units (1/10 of a score unit); phase
// interpolated sums are fine units x 96.  The caches belong to one search
// thread each; the special material table and the tables of tables.h are
// read-only while any search runs, so nothing here takes a lock or allocates.
#include "eval/evaluate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "board/output.h"
#include "board/settings.h"
#include "eval/endgame.h"
#include "eval/pawns.h"
#include "eval/tables.h"
#include "eval/terms.h"
#include "platform/memory.h"

Key materialTableMask = 0;
SpecialMaterial specialMaterial[SpecialMaterialSlots];

namespace {

void noTableHook() {}

// A known material configuration, named by its pieces: upper case for one
// side, lower case for the other (P pawn, N knight, B light-squared bishop,
// C dark-squared bishop, R rook, Q queen; kings are implied).  Values are fine
// units for the upper-case side.
struct SpecialRecord {
  const char* name;
  int value;
  EndgameFunction function;
};

const SpecialRecord SpecialRecords[] = {
    {"", 0, nullptr},         {"B", 10, nullptr},       {"C", 10, nullptr},
    {"BCb", 60, nullptr},     {"BCc", 60, nullptr},     {"BC", 6000, nullptr},
    {"BCn", 1000, nullptr},   {"BN", 5000, bishopKnightMate}, {"CN", 5000, bishopKnightMate},
    {"BNb", 50, nullptr},     {"CNb", 50, nullptr},     {"BNc", 50, nullptr},
    {"CNc", 50, nullptr},     {"BNn", 60, nullptr},     {"CNn", 60, nullptr},
    {"NP", 2000, knightPawnVersusKing},                 {"Bb", 0, nullptr},
    {"Cb", 0, nullptr},       {"Bc", 0, nullptr},       {"Cc", 0, nullptr},
    {"Bn", 0, nullptr},       {"Cn", 0, nullptr},       {"Bp", -20, nullptr},
    {"Bpp", -125, nullptr},   {"Cpp", -125, nullptr},   {"Bppp", -400, nullptr},
    {"Cppp", -400, nullptr},  {"Cp", -20, nullptr},     {"N", 10, nullptr},
    {"NN", 25, nullptr},      {"NNb", 20, nullptr},     {"NNc", 20, nullptr},
    {"NNp", 400, nullptr},    {"NNn", 20, nullptr},     {"Nn", 0, nullptr},
    {"Np", -80, nullptr},     {"Npp", -700, nullptr},   {"P", 0, kingPawnVersusKing},
    {"Q", 8000, nullptr},     {"Qb", 6000, nullptr},    {"Qc", 6000, nullptr},
    {"Qn", 5000, nullptr},    {"Qq", 0, nullptr},       {"Qr", 3000, nullptr},
    {"R", 7000, nullptr},     {"RPr", 500, rookPawnVersusRook}, {"RNr", 400, nullptr},
    {"RNrp", 200, nullptr},   {"RBr", 500, nullptr},    {"RCr", 500, nullptr},
    {"RBrp", 250, nullptr},   {"RCrp", 250, nullptr},   {"Rbp", 150, nullptr},
    {"Rcp", 150, nullptr},    {"Rnp", 125, nullptr},    {"Rb", 300, nullptr},
    {"Rc", 300, nullptr},     {"Rn", 250, nullptr},     {"Rr", 0, nullptr},
    {"-", 0, nullptr}};

// Material key of a record name with `side` owning the upper-case letters.
Key specialKey(const char* name, int side) {
  Key key = 0;
  for (const char* p = name; *p; p++) {
    char ch = *p;
    int colour = (ch >= 'A' && ch <= 'Z') ? side : other(side);
    char upper = (ch >= 'a' && ch <= 'z') ? (char)(ch - 'a' + 'A') : ch;
    int type = upper == 'P' ? Pawn : upper == 'N' ? Knight : upper == 'R' ? Rook : upper == 'Q' ? Queen : Bishop;
    int dark = upper == 'C' ? 1 : 0;
    key += materialValue[colour][type][dark];
  }
  return key;
}

// Caches registered by allocateEvalCaches, so a table rebuild can empty
// every thread's pawn table.
EvalCaches* registeredCaches[MaxCacheSets];

// The build chosen from hasPopcnt.
int (*evaluateBuild)(Position&, int, int) = evaluateSoft;

// Smallest power of two not below half of x (at least 1).
uint64_t tableEntries(double x) {
  uint64_t h = (uint64_t)(x / 2);
  if (h < 1) h = 1;
  h -= 1;
  h |= h >> 1, h |= h >> 2, h |= h >> 4, h |= h >> 8, h |= h >> 16, h |= h >> 32;
  return h + 1;
}

template <class T>
T* zeroedTable(uint64_t entries) {
  T* table = static_cast<T*>(allocateZeroed(entries * sizeof(T)));
  if (!table)
    fatalError("could not allocate %llu bytes for the evaluation caches", (unsigned long long)(entries * sizeof(T)));
  return table;
}

// Per-side material sums, kept apart for the trace.
struct MaterialDetail {
  int mg[2], eg[2];
  MaterialEntry entry;
};

// Material balance: piece values with pawn-count adjustments, the bishop
// pair, imbalance corrections, and a scale that pulls drawish material
// (opposite bishops, few pawns for the stronger side, small pawnless edges)
// towards zero.
template <class PC>
inline __attribute__((always_inline)) void materialBalance(const Position& pos, MaterialDetail& d) {
  int count[2][6], h[2];
  for (int c = 0; c < 2; c++) {
    for (int t = Pawn; t <= Queen; t++) count[c][t] = PC::count(pos.pieces[c][t]);
    int P = count[c][Pawn], N = count[c][Knight], B = count[c][Bishop], R = count[c][Rook], Q = count[c][Queen];
    int mg = P * 620 + N * 3300 + N * (P - 5) * 22 + B * 3425 + R * 4600 + R * (P - 5) * -21 + Q * 9550 +
             Q * (P - 5) * -5;
    int eg = P * 950 + N * 3300 + N * (P - 5) * 22 + B * 3425 + R * 5750 + R * (P - 5) * -21 + Q * 10150 +
             Q * (P - 5) * -5;
    if (B >= 2) mg += 320, eg += 515;
    if (R >= 2) mg -= 210, eg -= 120;
    if (Q >= 1 && R >= 1) mg -= 155, eg -= 105;
    d.mg[c] = mg, d.eg[c] = eg;
    h[c] = 24 * N + 28 * B + 40 * R + 72 * Q;
  }
  int minors[2], pieces[2];
  for (int c = 0; c < 2; c++) {
    minors[c] = count[c][Knight] + count[c][Bishop];
    pieces[c] = count[c][Rook] + minors[c] + count[c][Queen];
  }
  // The side with more minor pieces prefers them to be bishops.
  for (int c = 0; c < 2; c++) {
    int e = other(c);
    if (minors[c] <= minors[e]) continue;
    if (count[c][Bishop] > count[e][Bishop]) d.mg[c] += 25, d.eg[c] += 50;
    if (count[c][Knight] > count[e][Knight]) d.mg[c] -= 25, d.eg[c] -= 50;
  }
  // Two or more extra pieces (against pawns or exchange material) are worth more.
  if (pieces[White] - pieces[Black] >= 2) d.mg[White] += 620, d.eg[White] += 250;
  else if (pieces[Black] - pieces[White] >= 2) d.mg[Black] += 620, d.eg[Black] += 250;

  int w = phaseWeight[std::min<int>(pos.phase, 96)];
  int64_t m = (int64_t)(d.mg[White] - d.mg[Black]) * w + (int64_t)(d.eg[White] - d.eg[Black]) * (96 - w);
  double scale = materialScaleBase[w];
  bool anyPawn = pos.pieces[White][Pawn] | pos.pieces[Black][Pawn];
  if (anyPawn && h[White] == 0 && h[Black] == 0) scale = 1.3;
  if (count[White][Bishop] == 1 && count[Black][Bishop] == 1 &&
      squareColour[lsb(pos.pieces[White][Bishop])] != squareColour[lsb(pos.pieces[Black][Bishop])])
    scale = (h[White] == 28 && h[Black] == 28) ? 0.6 : scale * 0.95;
  if (!anyPawn) {
    int diff = std::abs(h[White] / 8 - h[Black] / 8);
    if (diff < 3) scale *= 0.1;
    else if (diff == 3) scale *= 0.2;
    else if (diff == 4) scale *= 0.5;
  } else {
    constexpr double FewPawns[5] = {0.4, 0.55, 0.7, 0.8, 0.9};
    int aheadPawns = count[m >= 0 ? White : Black][Pawn];
    if (aheadPawns < 5) scale *= FewPawns[aheadPawns];
  }
  d.entry.key = pos.materialKey;
  d.entry.scale = scale;
  d.entry.value = (int32_t)(m * scale);
  d.entry.spare = 0;
}

constexpr Bitboard Rank2 = 0xFF00ull, Rank7 = 0x00FF000000000000ull;
constexpr Bitboard FileA = 0x0101010101010101ull, FileH = FileA << 7;

// Far from zero the score grows faster as material comes off, so that the
// search converts won endings rather than keeping pieces on.
inline int stretch(int r, int phase) {
  if (r >= 101) return r + (96 - phase) * (r - 100) / 384;
  if (r <= -101) return r + (96 - phase) * (r + 100) / 384;
  return r;
}

// A bishop that does not control the queening square of its rook pawns
// cannot win against a king in that corner: cap the score near zero.
inline int wrongBishopCap(const Position& pos, int r) {
  if (r >= 31) {
    Bitboard pawns = pos.pieces[White][Pawn], bishops = pos.pieces[White][Bishop];
    if (bishops && !pos.pieces[White][Knight] && pawns) {
      bool light = !squareColour[lsb(bishops)];
      Square k = pos.kingSquare(Black);
      bool hCorner = k == 54 || k == 55 || k == 62 || k == 63;
      bool aCorner = k == 48 || k == 49 || k == 56 || k == 57;
      if ((!(pawns & ~FileH) && light && hCorner) || (!(pawns & ~FileA) && !light && aCorner)) return 30;
    }
  } else if (r <= -31) {
    Bitboard pawns = pos.pieces[Black][Pawn], bishops = pos.pieces[Black][Bishop];
    if (bishops && !pos.pieces[Black][Knight] && pawns) {
      bool light = !squareColour[lsb(bishops)];
      Square k = pos.kingSquare(White);
      bool aCorner = k == 0 || k == 1 || k == 8 || k == 9;
      bool hCorner = k == 6 || k == 7 || k == 14 || k == 15;
      if ((light && !(pawns & ~FileA) && aCorner) || (!light && !(pawns & ~FileH) && hCorner)) return -30;
    }
  }
  return r;
}

// The evaluation proper.  Cached = false skips every cache (for the trace);
// Lazy = false never takes the lazy exit.
template <class PC, bool Cached, bool Lazy>
inline __attribute__((always_inline)) int evaluateWith(Position& pos, int alpha, int beta) {
  const int stm = pos.sideToMove();

  // Step 1. A finished score for this very position.
  EvalCacheEntry* cached = nullptr;
  if constexpr (Cached) {
    cached = &pos.evalCache[pos.key & evalCacheMask];
    if (cached->key == pos.key) return cached->score;
  }

  // Step 2. Material: the per-thread table, then the known configurations,
  // else the computed balance.  Endgame-function results depend on the piece
  // squares, so they are never stored.
  int value;
  double scale = 1.0;
  MaterialEntry* me = nullptr;
  if constexpr (Cached) me = &pos.materialTable[pos.materialKey & materialTableMask];
  if (Cached && me->key == pos.materialKey) {
    value = me->value;
    scale = me->scale;
  } else {
    const SpecialMaterial& special = specialMaterial[pos.materialKey & 0xFFFF];
    MaterialEntry fresh;
    bool store = true;
    if (special.key == pos.materialKey) {
      if (special.function) {
        value = special.function(pos, &scale) * 96;
        store = false;
      } else {
        value = special.value * 96;
        scale = special.scale;
      }
      fresh = MaterialEntry{pos.materialKey, scale, value, 0};
    } else {
      MaterialDetail d;
      materialBalance<PC>(pos, d);
      fresh = d.entry;
      value = fresh.value, scale = fresh.scale;
    }
    if (Cached && store) *me = fresh;
  }

  // Step 3. Scale 0: the material value is the whole answer.
  if (scale == 0.0) {
    int r = stretch(rdiv(stm == White ? value : -value, 960), pos.phase);
    if constexpr (Cached) cached->key = pos.key, cached->score = r;
    return r;
  }

  // Step 4. Lazy exit: the positional part of the last full evaluation on
  // this record stands in for this one; when that estimate is far outside
  // the window the details cannot matter.  Pawns about to promote make the
  // estimate unreliable, and so does a nearly bare board.
  if constexpr (Lazy) {
    if (!(pos.pieces[White][Pawn] & Rank7) && !(pos.pieces[Black][Pawn] & Rank2) && pos.phase > 4) {
      int64_t e = (int64_t)(pos.lastPositional * scale) + value;
      int r = rdiv(e, 960);
      if (stm == Black) r = -r;
      if (r > beta || r < alpha) return r;
    }
  }

  // Step 5. Pawn structure from the per-thread pawn table.
  PawnEntry local;
  const PawnEntry* pawns = &local;
  if constexpr (Cached) pawns = &probePawns(pos);
  else computePawnEntry(pos, local);

  // Steps 6-7. Piece, king-safety, threat and passed-pawn terms plus the
  // piece-square sum, weighted up a little against the pawn structure.
  EvalScratch scratch;
  ScorePair positional = addPair(positionalTerms(pos, *pawns, scratch), pos.psq);
  ScorePair sum = addPair(makePair(mgOf(positional) * 136 / 128, egOf(positional) * 136 / 128), pawns->score);

  // Step 8. Pawn endings: a wide pawn front is easier to win.
  const int p = std::min<int>(pos.phase, 96);
  if (p < 18) sum = subPair(addPair(sum, countAt(pawnSpanPair, pawns->span[White])), countAt(pawnSpanPair, pawns->span[Black]));

  // Step 9. Interpolate between middle game and end game.
  int v = mgOf(sum) * p + egOf(sum) * (96 - p);
  pos.lastPositional = v;

  // Steps 10-11. Scale the positional part, damp locked structures, add material.
  int64_t scaled = (int64_t)(v * scale);
  if (pawns->locked) scaled = (int64_t)(scaled * 0.9);
  int r = rdiv(scaled + value, 96);

  // Step 12. Wrong bishop with rook pawns.
  if (p >= 3 && p <= 6 && (r > 30 || r < -30)) r = wrongBishopCap(pos, r);

  // Step 13. Side to move's view.
  if (stm == Black) r = -r;

  // Step 14. Fade towards a fifty-move draw (never past zero).
  if (pos.rule50 > 85) r = std::max(0, 101 - pos.rule50) * r / 15;

  // Step 15. The side to move has the initiative.
  r += tempoBonus[p];

  // Steps 16-17. Score units, stretched away from zero; cache and return.
  int f = stretch(rdiv(r, 10), p);
  if constexpr (Cached) cached->key = pos.key, cached->score = f;
  return f;
}

}  // namespace

void (*afterInitTables)() = noTableHook;

int evaluateSoft(Position& pos, int alpha, int beta) { return evaluateWith<SoftCount, true, true>(pos, alpha, beta); }

ORVANE_TARGET_POPCNT int evaluateHard(Position& pos, int alpha, int beta) {
  return evaluateWith<HardCount, true, true>(pos, alpha, beta);
}

int evaluate(Position& pos, int alpha, int beta) { return evaluateBuild(pos, alpha, beta); }

MaterialEntry computeMaterial(const Position& pos) {
  MaterialDetail d;
  materialBalance<SoftCount>(pos, d);
  return d.entry;
}

void allocateEvalCaches(EvalCaches& caches, int tableMemoryMb, int threadCount, CacheMasks masks) {
  freeEvalCaches(caches);
  double bytes = (double)tableMemoryMb * 1024 * 1024;
  double threads = threadCount < 1 ? 1 : threadCount;
  uint64_t n = tableEntries(bytes * 0.03 / threads / sizeof(MaterialEntry));
  caches.materialTable = zeroedTable<MaterialEntry>(n);
  caches.materialEntries = n;
  if (masks == CacheMasks::Shared) materialTableMask = n - 1;
  bytes -= (double)(n * sizeof(MaterialEntry));
  n = tableEntries(bytes * 0.45 / threads / sizeof(PawnEntry));
  caches.pawnTable = zeroedTable<PawnEntry>(n);
  caches.pawnEntries = n;
  if (masks == CacheMasks::Shared) pawnTableMask = n - 1;
  bytes -= (double)(n * sizeof(PawnEntry));
  n = tableEntries(bytes / threads / sizeof(EvalCacheEntry));
  caches.evalCache = zeroedTable<EvalCacheEntry>(n);
  caches.evalEntries = n;
  if (masks == CacheMasks::Shared) evalCacheMask = n - 1;
  for (EvalCaches*& slot : registeredCaches)
    if (slot == &caches) return;
  for (EvalCaches*& slot : registeredCaches)
    if (!slot) {
      slot = &caches;
      return;
    }
}

void freeEvalCaches(EvalCaches& caches) {
  freeZeroed(caches.evalCache, caches.evalEntries * sizeof(EvalCacheEntry));
  freeZeroed(caches.pawnTable, caches.pawnEntries * sizeof(PawnEntry));
  freeZeroed(caches.materialTable, caches.materialEntries * sizeof(MaterialEntry));
  caches = EvalCaches{};
  for (EvalCaches*& slot : registeredCaches)
    if (slot == &caches) slot = nullptr;
}

// A pawn table that no position has been given since it was allocated or
// last cleared is empty already.
void clearPawnTable(EvalCaches& caches) {
  if (caches.pawnTable && caches.pawnTableUsed)
    std::memset(static_cast<void*>(caches.pawnTable), 0, caches.pawnEntries * sizeof(PawnEntry));
  caches.pawnTableUsed = false;
}

void clearEvalCaches(EvalCaches& caches) {
  if (caches.pawnTable) std::memset(static_cast<void*>(caches.pawnTable), 0, caches.pawnEntries * sizeof(PawnEntry));
  caches.pawnTableUsed = false;
  if (caches.evalCache) std::memset(static_cast<void*>(caches.evalCache), 0, caches.evalEntries * sizeof(EvalCacheEntry));
  if (caches.materialTable)
    std::memset(static_cast<void*>(caches.materialTable), 0, caches.materialEntries * sizeof(MaterialEntry));
}

void attachEvalCaches(Position& pos, const EvalCaches& caches) {
  caches.pawnTableUsed = true;
  pos.evalCache = caches.evalCache;
  pos.pawnTable = caches.pawnTable;
  pos.materialTable = caches.materialTable;
}

void buildSpecialMaterialTable() {
  std::memset(static_cast<void*>(specialMaterial), 0, sizeof specialMaterial);
  for (int pass = 0; pass < 2; pass++) {
    int side = pass == 0 ? White : Black, sign = pass == 0 ? 1 : -1;
    for (const SpecialRecord* rec = SpecialRecords; rec->name[0] != '-'; rec++) {
      Key key = specialKey(rec->name, side);
      SpecialMaterial& slot = specialMaterial[key & 0xFFFF];
      slot.key = key;
      slot.value = sign * rec->value;
      slot.function = rec->function;
      slot.scale = (slot.value >= -1999 && slot.value <= 1999) ? std::sqrt(std::abs(slot.value) / 2000.0) : 1.0;
    }
  }
  evaluateBuild = hasPopcnt ? evaluateHard : evaluateSoft;
}

void initTables() {
  buildEvalTables();
  evaluateBuild = hasPopcnt ? evaluateHard : evaluateSoft;
  afterInitTables();
  // Pawn entries embed table values: empty every registered pawn table.
  for (EvalCaches* caches : registeredCaches)
    if (caches) clearPawnTable(*caches);
}

namespace {

// Trace helpers: one line per term, white, black and white minus black, in
// score units with two decimals.
std::string pairText(ScorePair p) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%7.2f %7.2f", mgOf(p) / 10.0, egOf(p) / 10.0);
  return buf;
}

void traceLine(std::ostringstream& out, const char* name, ScorePair white, ScorePair black) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%16s | %s | %s | %s\n", name, pairText(white).c_str(), pairText(black).c_str(),
                pairText(subPair(white, black)).c_str());
  out << buf;
}

void traceTotal(std::ostringstream& out, const char* name, ScorePair total) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%16s |  ----    ----  |  ----    ----  | %s\n", name, pairText(total).c_str());
  out << buf;
}

}  // namespace

std::string evalTrace(Position& pos) {
  Position copy = pos;
  std::ostringstream out;
  out << "            Term |      White      |      Black      |      Total\n"
      << "                 |    MG      EG   |    MG      EG   |    MG      EG\n"
      << "-----------------+-----------------+-----------------+----------------\n";

  const SpecialMaterial& special = specialMaterial[copy.materialKey & 0xFFFF];
  double scale;
  if (special.key == copy.materialKey) {
    int value = special.value;
    scale = special.scale;
    if (special.function) value = special.function(copy, &scale);
    char buf[128];
    std::snprintf(buf, sizeof buf, "Known ending: material %.1f (white's view), scale %.3f\n", value / 10.0, scale);
    out << buf;
  } else {
    MaterialDetail d;
    materialBalance<SoftCount>(copy, d);
    scale = d.entry.scale;
    traceLine(out, "Material", makePair(d.mg[White], d.eg[White]), makePair(d.mg[Black], d.eg[Black]));
  }
  if (scale != 0.0) {
    PawnEntry pawns;
    computePawnEntry(copy, pawns);
    ScorePair pawnSides[2];
    pawnSideScores(copy, pawnSides);
    // Run the terms in the evaluation's order, keeping each step's share.
    EvalScratch s;
    clearScratch(copy, s);
    ScorePair before[2] = {s.score[White], s.score[Black]};
    ScorePair share[4][2];
    auto step = [&](ScorePair* out) {
      out[White] = subPair(s.score[White], before[White]), out[Black] = subPair(s.score[Black], before[Black]);
      before[White] = s.score[White], before[Black] = s.score[Black];
    };
    pieceTerms(copy, pawns, s);
    step(share[0]);
    kingSafety(copy, pawns, s);
    step(share[1]);
    threatTerms(copy, s);
    step(share[2]);
    passedPawnTerms(copy, pawns, s);
    step(share[3]);
    traceLine(out, "Pawns", pawnSides[White], pawnSides[Black]);
    traceLine(out, "Passed pawns", share[3][White], share[3][Black]);
    traceLine(out, "Pieces", subPair(share[0][White], s.mobility[White]), subPair(share[0][Black], s.mobility[Black]));
    traceLine(out, "Mobility", s.mobility[White], s.mobility[Black]);
    traceLine(out, "Threats", share[2][White], share[2][Black]);
    traceLine(out, "King safety", share[1][White], share[1][Black]);
    traceTotal(out, "Piece squares", copy.psq);
    if (std::min<int>(copy.phase, 96) < 18)
      traceLine(out, "Pawn span", countAt(pawnSpanPair, pawns.span[White]), countAt(pawnSpanPair, pawns.span[Black]));
  }
  char buf[160];
  std::snprintf(buf, sizeof buf, "Phase %d, material scale %.3f, tempo %.1f for the side to move\n", copy.phase, scale,
                tempoBonus[std::min<int>(copy.phase, 96)] / 10.0);
  out << buf;
  int score = evaluateWith<SoftCount, false, false>(copy, -35000, 35000);
  out << "Evaluation: " << score << "\n";
  return out.str();
}
