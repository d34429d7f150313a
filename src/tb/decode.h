// Syzygy table files: the in-memory record of one table, the checks and
// decoding tables built when a mapped file is first used, the index of a
// position inside a table and the decompression of the value stored there.
//
// A table file holds one sub-table per side to move (WDL files, unless the
// material is symmetric) or one side only (DTZ files); tables with pawns
// have such sub-tables for each of the files a-d of the leading pawn.  Each
// sub-table is a pair-compressed stream: an index table points into blocks
// of variable-length codes, each code a symbol that expands into a run of
// values.
//
// decodeTable checks every offset, size, symbol and index entry of a mapped
// file against its length once, so the decoder afterwards reads without
// bounds tests on its hot path.  The few tests left there (the walk between
// blocks, the end of the block area) guard against damage inside the
// compressed data, which no load-time check can see.
//
// Threads: the records are written once, under the registry's loading
// mutex, before the entry is published as ready; afterwards every search
// thread reads them without locks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board/types.h"

constexpr int TbPieces = 6;     // most men in a table, kings included
constexpr int MaxCodeLen = 32;  // codes are read from a 32-bit window

// Decoding tables of one pair-compressed sub-table.
struct SubTableCodec {
  const uint8_t* indexTable = nullptr;  // 6-byte entries: 32-bit block, 16-bit offset
  const uint8_t* sizeTable = nullptr;   // 16-bit entries: values in the block minus 1
  const uint8_t* data = nullptr;        // realBlocks blocks of 2^blockSize bytes
  const uint8_t* dataEnd = nullptr;
  const uint8_t* symPat = nullptr;      // 3-byte symbol patterns
  std::vector<uint32_t> symLen;         // values a symbol expands to, minus 1
  uint64_t base[MaxCodeLen] = {};       // smallest left-aligned code, by length - minLen
  uint16_t offset[MaxCodeLen] = {};     // first symbol, by length - minLen
  uint64_t indexEntries = 0;
  uint32_t realBlocks = 0;              // blocks with data
  uint32_t numBlocks = 0;               // size-table entries
  uint32_t numSyms = 0;
  uint8_t blockSize = 0;                // log2 of bytes per block
  uint8_t idxBits = 0;                  // 0: one value for the whole sub-table
  uint8_t minLen = 0;                   // shortest code; the value of a one-value sub-table
  uint8_t maxLen = 0;
  uint8_t flags = 0;                    // DTZ: side stored, value maps, plies flags
};

// Encoding of one side (and, for pawn tables, one leading-pawn file).
struct EncodingData {
  uint8_t pieces[TbPieces] = {};  // colour * 8 + type per table slot (colour 0 = first side of the name)
  uint8_t norm[TbPieces] = {};    // group length at a group's first slot, else 0
  uint64_t factor[TbPieces] = {}; // multiplier of each group's index
  uint64_t tableSize = 0;
  SubTableCodec codec;
};

// One table: the common registry part and the decoding data of its file.
// WDL entries live in the registry; DTZ entries in the DTZ cache, which
// copies the common part from the WDL entry of the same material.
struct TbEntry {
  const uint8_t* data = nullptr;  // base of the mapped file, null until loaded
  size_t mapping = 0;             // mapped length
  Key key = 0;                    // material key of the name (its colour orientation)
  Key swappedKey = 0;             // the same material with the colours exchanged
  char name[16] = {};             // material string, e.g. "KRPvKR"
  std::atomic<uint8_t> ready{0};  // 0 not loaded, 1 decoded, 2 unusable
  uint8_t dtzUnusable = 0;        // WDL entry: its DTZ file is missing or unusable
  uint8_t num = 0;                // men, kings included
  uint8_t symmetric = 0;          // same material on both sides
  uint8_t hasPawns = 0;
  uint8_t leaderKind = 0;         // pawnless: how the leading pieces are encoded
  uint8_t pawns[2] = {};          // leading colour's pawns first
  EncodingData enc[4][2];         // [file][side]; pawnless tables use file 0
  // DTZ only: per file, the value maps (start and length of each of four).
  const uint8_t* valueMap[4][4] = {};
  uint8_t valueMapLen[4][4] = {};
};

// Piece counts of a material string such as "KRPvKR", indexed by
// colour * 8 + type (colour 0 = the side before the 'v').
void countMaterial(const char* name, int counts[16]);

// Builds the constant index tables (binomials, pawn orders, king pairs).
// Idempotent; run before any table is decoded.
void initIndexTables();

// Checks the mapped file of e (WDL or DTZ) and builds its decoding data.
// On failure returns false with the reason in *why; e is then unusable.
bool decodeTable(TbEntry& e, bool wdl, std::string* why);

// Index of a pawnless position: squares in the order of d.pieces (like
// pieces lowest square first); the squares are rewritten (mirrored, sorted).
uint64_t indexPieces(const TbEntry& e, const EncodingData& d, int* squares);
// Leading-pawn file 0..3 of the leading pawns squares[0 .. pawns[0]); moves
// the pawn that decides it to the front.
int pawnFile(const TbEntry& e, int* squares);
// Index of a position with pawns; squares as for indexPieces, leading pawns first.
uint64_t indexPawns(const TbEntry& e, const EncodingData& d, int* squares);

// The value byte stored at index (below d's table size), or -1 when the
// compressed data turn out damaged.
int decompressValue(const SubTableCodec& d, uint64_t index);
