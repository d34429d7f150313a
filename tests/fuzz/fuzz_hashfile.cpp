// Feeds arbitrary bytes to the hash file loader as patches to a file the
// engine saved (the smallest table, 1 MB, after searches of a few
// positions): raw bytes at any offset, new data words for stored entries,
// keys placed in their own bucket, and a changed file length.  After the
// load the table must either be unchanged (empty) or hold exactly the
// patched file, every entry one the search could have stored; then a
// search of a few hundred nodes runs on the loaded table.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/settings.h"
#include "search/driver.h"
#include "search/timeman.h"
#include "tt/tt.h"
#include "common.h"

namespace {

const char* const SearchFens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
    "6k1/5ppp/8/8/8/8/5PPP/3Q2K1 w - -",
};
constexpr int BuildDepth = 6;
constexpr int FuzzDepth = 3;
constexpr size_t RecordBytes = 12;
constexpr size_t MaxRecords = 64;

struct HashImage {
  std::vector<uint8_t> file;       // the saved file, patched in place per input
  std::vector<TTEntry> expected;   // the table it loads into, patched alike
  std::vector<uint32_t> used;      // slots of the saved file that hold entries
  std::vector<Position> roots;
  std::string path;
};

uint64_t wordAt(const std::vector<uint8_t>& file, size_t slot, int word) {
  uint64_t v;
  std::memcpy(&v, file.data() + slot * 16 + word * 8, 8);
  return v;
}
void setWord(std::vector<uint8_t>& file, size_t slot, int word, uint64_t v) {
  std::memcpy(file.data() + slot * 16 + word * 8, &v, 8);
}

// Whether a file slot (plain key, data word) is empty or an entry the
// search can store: its key's bucket, a storable score, a bound the search
// writes, a depth it reaches.
bool plausibleSlot(uint64_t key, uint64_t data, size_t slot) {
  if (key == 0) return data == 0;
  const int bound = dataFlags(data) & 15;
  return (key & tt.mask) == slot / 4 && std::abs(dataScore(data)) <= TTScoreLimit &&
         (bound == BoundUpper || bound == BoundLower || bound == BoundExact || bound == (BoundExact | BoundTerminal)) &&
         dataDepth(data) >= TTMinDepth && dataDepth(data) <= TTMaxDepth;
}

void runSearch(const Position& root, int depth) {
  Position pos = root;
  nodeLimit = NoNodeLimit;
  search(pos, depth, "", NoTimeLimit, NoTimeLimit);
}

// Fills the table by searching the positions, saves it and keeps the file.
HashImage& image() {
  static HashImage im;
  if (!im.file.empty()) return im;
  discardStandardOutput();
  startEngine();
  for (const char* fen : SearchFens) {
    Position pos;
    if (!setPosition(pos, fen)) fuzzFailure(std::string("search position refused: ") + fen);
    im.roots.push_back(pos);
    runSearch(pos, BuildDepth);
  }
  im.path = scratchDir() + "/fuzz.hash";
  settings::hashFileName = im.path;
  saveHash();
  FILE* f = std::fopen(im.path.c_str(), "rb");
  im.file.resize(tt.byteSize);
  if (!f || std::fread(im.file.data(), 1, im.file.size(), f) != im.file.size()) fuzzFailure("no saved hash file");
  std::fclose(f);
  im.expected.resize(tt.bucketCount * 4);
  for (size_t s = 0; s < im.expected.size(); ++s) {
    const uint64_t key = wordAt(im.file, s, 0), data = wordAt(im.file, s, 1);
    if (!plausibleSlot(key, data, s)) fuzzFailure("the engine saved an implausible slot " + std::to_string(s));
    im.expected[s] = {key ^ data, data};
    if (key) im.used.push_back((uint32_t)s);
  }
  if (im.used.size() < 100) fuzzFailure("the searches stored too few entries");
  return im;
}

struct Patch {
  std::vector<size_t> slots;  // slots touched
  long sizeChange = 0;
};

uint64_t readLe(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Applies the input's records to the file: mode, 24-bit place, 64-bit value.
Patch applyRecords(HashImage& im, const uint8_t* data, size_t size) {
  Patch patch;
  const size_t slots = im.expected.size();
  for (size_t r = 0; r < std::min(size / RecordBytes, MaxRecords); ++r) {
    const uint8_t* rec = data + r * RecordBytes;
    const uint32_t place = (uint32_t)readLe(rec + 1, 3);
    const uint64_t value = readLe(rec + 4, 8);
    switch (rec[0] % 4) {
      case 0: {  // raw bytes anywhere
        const size_t at = place % (im.file.size() - 7), len = 1 + (rec[0] >> 2) % 8;
        std::memcpy(im.file.data() + at, &value, len);
        patch.slots.push_back(at / 16);
        patch.slots.push_back((at + len - 1) / 16);
        break;
      }
      case 1: {  // a new data word for a stored entry
        const size_t s = im.used[place % im.used.size()];
        setWord(im.file, s, 1, value);
        patch.slots.push_back(s);
        break;
      }
      case 2: {  // a key in its own bucket
        const size_t s = place % slots;
        setWord(im.file, s, 0, (value & ~tt.mask) | (s / 4));
        patch.slots.push_back(s);
        break;
      }
      default:
        patch.sizeChange = (long)(place % 33) - 16;
    }
  }
  return patch;
}

void restore(HashImage& im, const Patch& patch, const std::vector<uint8_t>& pristine) {
  for (size_t s : patch.slots) {
    std::memcpy(im.file.data() + s * 16, pristine.data() + s * 16, 16);
    const uint64_t key = wordAt(im.file, s, 0), data = wordAt(im.file, s, 1);
    im.expected[s] = {key ^ data, data};
  }
}

bool tableIsEmpty() {
  static const std::vector<uint8_t> zeros(tt.byteSize, 0);
  return std::memcmp(tt.buckets, zeros.data(), tt.byteSize) == 0;
}

// Brings the file on disk to the patched image: only the touched slots
// and the length are written (a whole megabyte per input would cost more
// than the load itself).
void syncFile(int fd, const HashImage& im, const Patch& patch) {
  for (size_t s : patch.slots)
    if (pwrite(fd, im.file.data() + s * 16, 16, (off_t)(s * 16)) != 16) fuzzFailure("cannot patch the hash file");
  const off_t length = (off_t)im.file.size() + patch.sizeChange;
  if (ftruncate(fd, length) != 0) fuzzFailure("cannot size the hash file");
  if (patch.sizeChange > 0) {
    const std::vector<uint8_t> tail(patch.sizeChange, 0xA5);
    if (pwrite(fd, tail.data(), tail.size(), (off_t)im.file.size()) != (ssize_t)tail.size())
      fuzzFailure("cannot extend the hash file");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HashImage& im = image();
  static const std::vector<uint8_t> pristine = im.file;
  static const int fd = open(im.path.c_str(), O_RDWR);
  if (fd < 0) fuzzFailure("cannot open the saved hash file");
  const Patch patch = applyRecords(im, data, size);
  syncFile(fd, im, patch);

  ttClearSilently();
  loadHash();
  bool plausible = true;
  for (size_t s : patch.slots) {
    const uint64_t key = wordAt(im.file, s, 0), value = wordAt(im.file, s, 1);
    plausible &= plausibleSlot(key, value, s);
    im.expected[s] = {key ^ value, value};
  }
  if (tableIsEmpty()) {
    if (patch.sizeChange == 0 && plausible) fuzzFailure("a plausible complete hash file was refused");
  } else {
    if (patch.sizeChange != 0) fuzzFailure("a hash file of the wrong size was loaded");
    if (!plausible) fuzzFailure("a hash file with an implausible slot was loaded");
    if (std::memcmp(tt.buckets, im.expected.data(), tt.byteSize) != 0)
      fuzzFailure("the loaded table differs from the file");
    runSearch(im.roots[size % im.roots.size()], FuzzDepth);
  }
  restore(im, patch, pristine);
  syncFile(fd, im, Patch{patch.slots, 0});
  return 0;
}
