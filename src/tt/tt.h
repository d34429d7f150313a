// The transposition table: one process-wide hash table of search results
// shared by every search thread.
//
// Layout: a power-of-two array of 64-byte buckets (one cache line each),
// four 16-byte slots per bucket; a position's bucket is key & mask.  A slot
// is two 64-bit words: the check word and the data word (score, move,
// depth, flags, generation packed little-endian, see packData).
//
// Threads: the search threads probe and store without any lock.  Every word
// is read and written with relaxed atomic operations, so nothing is undefined,
// but two threads writing the same slot can interleave their two words.  To
// keep such a mixed slot from ever matching a probe, the check word holds
// key XOR data: a slot whose words come from different stores fails the key
// test and reads as a miss.  Moves from the table are still only hints (the
// picker tests them for pseudo-legality).
//
// Allocation, resize, clear and the hash file are main-thread operations that
// must not run while a search is in progress (the command handler defers a
// "Hash" change that arrives during a search).  The generation is written by
// the driver at search start only.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/types.h"

// Bound bits of the flags byte.
constexpr int BoundUpper = 1;     // the score did not exceed alpha
constexpr int BoundLower = 2;     // the score reached beta
constexpr int BoundExact = 3;
constexpr int BoundTerminal = 4;  // no legal move (stored as 7 with exact)

// Stores accept only scores inside this range.
constexpr int TTScoreLimit = 32500;
// Depths (half plies) the search can store: the quiescence search stores 0
// or -2, and no iteration with its extensions reaches the upper limit.
constexpr int TTMinDepth = -2;
constexpr int TTMaxDepth = 1024;

struct TTEntry {
  uint64_t check;  // key ^ data; 0 (with data 0) = empty slot
  uint64_t data;
};
struct alignas(64) TTBucket {
  TTEntry slot[4];
};
static_assert(sizeof(TTEntry) == 16 && sizeof(TTBucket) == 64, "a bucket is one cache line");

// The count of filled slots, which every search thread adds to while the
// table fills.  One shared word would bounce between the threads' caches at
// almost every store (and share a line with the fields every probe reads),
// so the count is split over cache-line sized shards chosen by key bits.
class SlotCounter {
 public:
  static constexpr int Shards = 16;
  void add(Key key) { shard[(key >> 40) & (Shards - 1)].n.fetch_add(1, std::memory_order_relaxed); }
  uint64_t load() const {
    uint64_t total = 0;
    for (const Shard& s : shard) total += s.n.load(std::memory_order_relaxed);
    return total;
  }
  void reset() {
    for (Shard& s : shard) s.n.store(0, std::memory_order_relaxed);
  }

 private:
  struct alignas(64) Shard {
    std::atomic<uint64_t> n{0};
  };
  Shard shard[Shards];
};

struct TranspositionTable {
  uint64_t bucketCount = 0;          // a power of two
  uint64_t mask = 0;                 // bucketCount - 1
  uint32_t generation = 0;           // low 8 bits go into entries
  SlotCounter usedSlots;             // empty slots filled since the last clear
  TTBucket* buckets = nullptr;
  uint64_t byteSize = 0;             // bucketCount * 64
  int allocatedMegabytes = -5;       // "Hash" value of the last resize
  uint8_t ttDirty = 0;               // a search ran since the last clear
};
extern TranspositionTable tt;

// One slot's content as a probe returns it.
struct TTData {
  int score;       // as stored (apply scoreFromTT for mate scores)
  Move move;       // 0 = none
  int depth;       // half plies
  int bound;       // low 4 bits of the flags byte (BoundUpper/Lower/Exact, +Terminal)
  int tag;         // signed 4-bit caller tag
  int generation;  // low 8 bits of the generation of the store
};

// Sizes and allocates the table for megabytes M >= 1 (0.51..1.02 of M, a
// power of two of buckets), halving on allocation failure and then saying
// in one "info string" line which size it has; fatal when even 4 buckets
// cannot be had.  Leaves the table zeroed.
void ttAllocate(int megabytes);
// The "Hash" option's change action; its "Hash table size is now" line
// gives the table's real size when the allocation fell back.
void ttResize(int megabytes);
// "Clear Hash": empties the table and says so.
void ttClear();
// The same without the message (after option changes when ttDirty is set).
void ttClearSilently();
// Starts a new search age (when a table is in use).
void ttNewSearch();
// Stores a search result; flags are the bound bits, tag a small signed
// number the replacement rule subtracts (the search passes cutNode).
void ttStore(Key key, int depth, int score, int flags, Move move, int tag);
// Finds the slot holding key; true and its content in data on a hit.
bool ttProbe(Key key, TTData& data);
// Per-mille of slots in use (slots filled since the last clear).
int ttHashfull();

// Mate scores are kept relative to the node that stores them, so that the
// same entry is right at any distance from the root.
inline int scoreToTT(int score, int ply) {
  return score > MateBound - 1 ? score + ply : score < -(MateBound - 1) ? score - ply : score;
}
inline int scoreFromTT(int score, int ply) {
  return score > MateBound - 1 ? score - ply : score < -(MateBound - 1) ? score + ply : score;
}

// Hash file: the raw table image, one 16-byte slot as key, score, move,
// depth, flags, generation (little-endian).  Both print their own
// "info string" reports.  Neither changes the generation or the count of
// used slots; a load replaces the table only with a complete file whose
// every slot could have been stored by the search, and otherwise leaves
// the table as it was.  A save writes a slot that would fail that check (a
// slot two threads wrote at once) as an empty one.  Both read or write the
// file in pieces, never holding a second copy of the table, and report
// their progress ("Saving Hash 40%", "Loading Hash 40%") every few
// seconds.  A name that is a FIFO, a socket or a directory is refused at
// once with one line.
void saveHash();
void loadHash();
// How often the progress lines come (2 s by default; 0 gives a line after
// every piece of the file); the previous setting.
double setHashFileProgressSeconds(double seconds);

// Packing of the data word: score bits 0-15, move 16-31, depth 32-47,
// flags 48-55, generation 56-63.
constexpr uint64_t packData(int score, Move move, int depth, int flagsByte, int generation) {
  return (uint64_t)(uint16_t)score | ((uint64_t)(uint16_t)move << 16) | ((uint64_t)(uint16_t)depth << 32) |
         ((uint64_t)(uint8_t)flagsByte << 48) | ((uint64_t)(uint8_t)generation << 56);
}
constexpr int dataScore(uint64_t d) { return (int16_t)(d & 0xFFFF); }
constexpr Move dataMove(uint64_t d) { return (int)((d >> 16) & 0xFFFF); }
constexpr int dataDepth(uint64_t d) { return (int16_t)((d >> 32) & 0xFFFF); }
constexpr int dataFlags(uint64_t d) { return (int)((d >> 48) & 0xFF); }
constexpr int dataGeneration(uint64_t d) { return (int)(d >> 56); }
// The tag stored in the high nibble of the flags byte, as a signed number.
constexpr int flagsTag(int flagsByte) { return (int)(int8_t)(uint8_t)flagsByte >> 4; }
