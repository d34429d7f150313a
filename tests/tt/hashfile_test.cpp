// The hash file: a saved table comes back byte for byte, a file the search
// could not have written never replaces the table, and a failed write is
// reported as one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/settings.h"
#include "tt/tt.h"

namespace {

class HashFile : public ::testing::Test {
 protected:
  std::string name = ::testing::TempDir() + "orvane_hashfile_" + std::to_string(getpid());
  double progressSeconds = 0;  // the engine's setting, restored after the test
  void SetUp() override {
    settings::analyseMode = 0;
    ttAllocate(1);
    settings::hashFileName = name;
    progressSeconds = setHashFileProgressSeconds(1e9);  // no progress lines but where a test asks for them
    // Entries of every kind the search stores, spread over the table.
    std::mt19937_64 random(99);
    const int bounds[4] = {BoundUpper, BoundLower, BoundExact, BoundExact | BoundTerminal};
    for (int i = 0; i < 30000; ++i) {
      if (i % 5000 == 0) ttNewSearch();
      ttStore(random() | 1, (int)(random() % 40) - 2, (int)(random() % 64001) - 32000, bounds[random() % 4],
              (Move)(random() & 0xFFFF), (int)(random() % 2));
    }
  }
  void TearDown() override {
    setHashFileProgressSeconds(progressSeconds);
    std::remove(name.c_str());
    settings::hashFileName.clear();
  }
  static std::vector<char> tableBytes() {
    const char* p = reinterpret_cast<const char*>(tt.buckets);
    return std::vector<char>(p, p + tt.byteSize);
  }
  std::vector<char> fileBytes() const {
    std::ifstream in(name, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void writeFile(const std::vector<char>& bytes) const {
    std::ofstream(name, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
  }
  static std::string load() {
    testing::internal::CaptureStdout();
    loadHash();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(HashFile, SaveClearLoadGivesBackTheSameTable) {
  const std::vector<char> before = tableBytes();
  testing::internal::CaptureStdout();
  saveHash();
  ttClear();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string Saving Hash\ninfo string Hash Saved\ninfo string Clearing Hash\n");
  EXPECT_EQ(load(), "info string Loading Hash from " + name + "\ninfo string Hash Loaded\n");
  EXPECT_TRUE(tableBytes() == before);
  EXPECT_EQ(ttHashfull(), 0);  // loaded slots are not counted as filled
}

// The percentages of the progress lines "<what> <n>%" among the lines of
// out, in order; the other lines are left in out.
std::vector<int> progressLines(std::vector<std::string>& out, const std::string& what) {
  std::vector<int> shown;
  std::vector<std::string> rest;
  for (const std::string& line : out) {
    const std::string prefix = "info string " + what + " ";
    if (line.rfind(prefix, 0) == 0 && line.back() == '%')
      shown.push_back(std::stoi(line.substr(prefix.size())));
    else
      rest.push_back(line);
  }
  out = rest;
  return shown;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// With a line due after every piece of the file (1024 buckets, 16 pieces in
// a 1 MB table), a save shows each piece's share and a load each piece of
// its two passes, rising and short of 100 %, between the lines a save or
// load always prints.
TEST_F(HashFile, ProgressLinesBetweenTheFirstAndLast) {
  ASSERT_EQ(tt.bucketCount, 16u * 1024);
  setHashFileProgressSeconds(0);
  testing::internal::CaptureStdout();
  saveHash();
  std::vector<std::string> out = splitLines(testing::internal::GetCapturedStdout());
  std::vector<int> shown = progressLines(out, "Saving Hash");
  EXPECT_EQ(out, (std::vector<std::string>{"info string Saving Hash", "info string Hash Saved"}));
  EXPECT_EQ(shown, (std::vector<int>{6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81, 87, 93}));
  out = splitLines(load());
  shown = progressLines(out, "Loading Hash");
  EXPECT_EQ(out, (std::vector<std::string>{"info string Loading Hash from " + name, "info string Hash Loaded"}));
  ASSERT_EQ(shown.size(), 31u);
  EXPECT_EQ(shown[15], 50);  // the check of every slot is half the work
  for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], (int)(i + 1) * 100 / 32);
}

// A file in the documented layout, written without the engine: a terminal
// entry, a quiescence depth, a mate score and a negative tag all load.
TEST_F(HashFile, FilesInTheDocumentedLayoutLoad) {
  std::vector<char> bytes(tt.byteSize, 0);
  const Key key = 0x1234567800000000ull | 77;
  char* slot = &bytes[(key & tt.mask) * 64 + 16];
  const int16_t score = -32000, depth = -2;
  const uint16_t move = makeMove16(12, 28);
  std::memcpy(slot, &key, 8);
  std::memcpy(slot + 8, &score, 2);
  std::memcpy(slot + 10, &move, 2);
  std::memcpy(slot + 12, &depth, 2);
  slot[14] = (char)(7 | 0xF0);
  slot[15] = 3;
  writeFile(bytes);
  EXPECT_EQ(load(), "info string Loading Hash from " + name + "\ninfo string Hash Loaded\n");
  TTData d;
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.score, -32000);
  EXPECT_EQ(d.move, move);
  EXPECT_EQ(d.depth, -2);
  EXPECT_EQ(d.bound, 7);
  EXPECT_EQ(d.tag, -1);
  EXPECT_EQ(d.generation, 3);
}

// One damaged slot, or a file of the wrong size, leaves the table exactly as
// it was, with one line saying why.
TEST_F(HashFile, DamagedFilesLeaveTheTableAsItWas) {
  testing::internal::CaptureStdout();
  saveHash();
  testing::internal::GetCapturedStdout();
  const std::vector<char> good = fileBytes();
  ASSERT_EQ(good.size(), tt.byteSize);
  ttNewSearch();
  ttStore(0xFEEDull << 20, 8, 55, BoundExact, 0, 0);
  const std::vector<char> before = tableBytes();
  // The first filled and the first empty slot of the saved file.
  auto slotKey = [&](size_t offset) {
    uint64_t key;
    std::memcpy(&key, &good[offset], 8);
    return key;
  };
  size_t used = 0, empty = 0;
  while (slotKey(used) == 0) used += 16;
  while (slotKey(empty) != 0) empty += 16;

  struct Damage {
    size_t offset;
    std::vector<char> bytes;
    const char* reason;
  };
  const Damage damages[] = {
      {used + 8, {(char)0xFF, 0x7F}, "a score outside the mate range"},
      {used + 14, {0}, "an invalid bound"},
      {used + 12, {0x00, 0x10}, "a depth out of range"},
      {used, {(char)(good[used] ^ 1)}, "a key outside its bucket"},
      {empty + 15, {5}, "an empty slot with data"},
  };
  for (const Damage& damage : damages) {
    std::vector<char> bad = good;
    std::memcpy(&bad[damage.offset], damage.bytes.data(), damage.bytes.size());
    writeFile(bad);
    const std::string said = load();
    EXPECT_NE(said.find(damage.reason), std::string::npos) << said;
    EXPECT_NE(said.find("table unchanged"), std::string::npos) << said;
    EXPECT_TRUE(tableBytes() == before) << damage.reason;
  }
  for (size_t size : {tt.byteSize - 16, tt.byteSize + 1, (size_t)0}) {
    writeFile(std::vector<char>(good.begin(), good.begin() + std::min(size, good.size())));
    if (size > good.size()) std::ofstream(name, std::ios::binary | std::ios::app).put(0);
    EXPECT_EQ(load(), "info string Loading Hash from " + name + "\ninfo string File size does not match Hash size\n");
    EXPECT_TRUE(tableBytes() == before);
  }
}

// Two threads storing into one slot at once can leave the key word of one
// store beside the data word of another.  Such a slot is saved as an empty
// slot, so the engine's own file loads; every other slot comes back as it was.
TEST_F(HashFile, TornSlotIsSavedEmptyAndTheFileLoads) {
  TTEntry* filled[2] = {nullptr, nullptr};
  uint64_t tornBucket = 0;
  for (uint64_t b = 0; b < tt.bucketCount && !filled[1]; ++b)
    for (TTEntry& e : tt.buckets[b].slot)
      if (e.check && !filled[1]) {
        if (!filled[0]) tornBucket = b;
        filled[filled[0] ? 1 : 0] = &e;
      }
  ASSERT_NE(filled[1], nullptr);
  filled[0]->data = filled[1]->data;
  ASSERT_NE((filled[0]->check ^ filled[0]->data) & tt.mask, tornBucket);  // the load's check would refuse it
  std::vector<char> expected = tableBytes();
  std::fill_n(expected.begin() + (reinterpret_cast<char*>(filled[0]) - reinterpret_cast<char*>(tt.buckets)), 16, 0);
  testing::internal::CaptureStdout();
  saveHash();
  ttClear();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(load(), "info string Loading Hash from " + name + "\ninfo string Hash Loaded\n");
  EXPECT_TRUE(tableBytes() == expected);
}

// A memory figure of /proc/self/status in kilobytes (VmRSS: in use now,
// VmHWM: the peak).
long statusKilobytes(const std::string& field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  ADD_FAILURE() << field << " not found in /proc/self/status";
  return -1;
}

// A load reads the file a piece at a time: loading a 64 MB table raises the
// process's peak memory by far less than a second copy of the table would.
TEST_F(HashFile, LoadingNeedsNoSecondTable) {
  ttAllocate(64);
  testing::internal::CaptureStdout();
  ttClear();  // every page of the table in memory
  saveHash();
  testing::internal::GetCapturedStdout();
  std::ofstream resetPeak("/proc/self/clear_refs");
  ASSERT_TRUE(resetPeak << "5" << std::flush) << "cannot reset the peak memory figure";
  const long before = statusKilobytes("VmRSS");
  EXPECT_EQ(load(), "info string Loading Hash from " + name + "\ninfo string Hash Loaded\n");
  EXPECT_LT(statusKilobytes("VmHWM") - before, 16 * 1024);
}

// Bytes that never reach the disk make a failed save, not "Hash Saved".
TEST_F(HashFile, FailedWriteIsReported) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full not available";
  settings::hashFileName = "/dev/full";
  testing::internal::CaptureStdout();
  saveHash();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string Saving Hash\ninfo string error writing file /dev/full\n");
}

}  // namespace
