// Damaged table files: empty, truncated and bit-flipped copies of real
// tables.  None may crash the engine or make it read outside the mapping
// (run these under the AddressSanitizer build); an unusable file is
// reported once and its probes fail.
#include <filesystem>
#include <fstream>

#include "tb/registry.h"
#include "tb_test_util.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), (std::streamsize)bytes.size());
}

int occurrences(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) n++;
  return n;
}

// All kept tables in a scratch directory; one of them can be replaced by a
// damaged copy.  Only positions the intact tables answer are probed.
class TbDamage : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::vector<Position> positions;

  void SetUp() override {
    initBoardTables();
    for (const auto& f : std::filesystem::directory_iterator(localTables()))
      dir.copy(f.path().string(), f.path().filename().string());
    captureOutput([&] { tbInit(dir.path); });
    for (const char* material : {"KPvKP", "KQvKQ", "KRvKR"})
      for (const Position& pos : randomPositions(material, 40)) {
        int wdlOk = 0, dtzOk = 0;
        probeWdl(pos, &wdlOk);
        probeDtz(pos, &dtzOk);
        if (wdlOk && dtzOk) positions.push_back(pos);
      }
    ASSERT_GT(positions.size(), 90u);
  }
  void TearDown() override { tbInit(""); }

  // Re-reads the directory with file replaced by bytes and probes every
  // position; returns the output.  Counts the probes that failed.
  std::string probeWith(const std::string& file, const std::string& bytes, int* failed) {
    writeFile(dir.file(file), bytes);
    *failed = 0;
    return captureOutput([&] {
      tbInit(dir.path);
      for (const Position& pos : positions) {
        int success = 0;
        int wdl = probeWdl(pos, &success);
        if (!success) ++*failed;
        else EXPECT_TRUE(wdl >= -2 && wdl <= 2) << wdl;
        probeDtz(pos, &success);
        if (!success) ++*failed;
      }
    });
  }
};

TEST_F(TbDamage, EmptyFileIsReportedOnceAndNeverProbed) {
  int failed = 0;
  std::string out = probeWith("KQvKQ.rtbw", "", &failed);
  EXPECT_GT(failed, 0);
  EXPECT_EQ(occurrences(out, "info string Could not mmap() " + dir.file("KQvKQ.rtbw") + ": empty file"), 1) << out;
  EXPECT_EQ(occurrences(out, "info string"), 2) << out;  // and the Found line
}

TEST_F(TbDamage, TruncatedCopiesAreReportedOnce) {
  for (const char* file : {"KPvKP.rtbw", "KPvKP.rtbz", "KQvKQ.rtbz", "KRvKR.rtbw"}) {
    const std::string intact = readFile(localTables() + "/" + file);
    // The last 16 bytes are a checksum the decoder does not read.
    for (size_t cut : {size_t(3), size_t(5), size_t(12), size_t(40), size_t(100), intact.size() / 3,
                       intact.size() / 2, intact.size() - 17}) {
      int failed = 0;
      std::string out = probeWith(file, intact.substr(0, cut), &failed);
      EXPECT_GT(failed, 0) << file << " cut at " << cut;
      EXPECT_EQ(occurrences(out, "info string Corrupted table " + dir.file(file)), 1)
          << file << " cut at " << cut << ":\n" << out;
    }
    writeFile(dir.file(file), intact);
  }
}

// Flipped bits in the headers and index area, and in the compressed data:
// either the damage is found and reported (at most once per file), or the
// probes answer values in range.  A failed probe always comes with a report.
TEST_F(TbDamage, FlippedBitsNeverCrashTheProbes) {
  for (const char* file : {"KPvKP.rtbw", "KPvKP.rtbz", "KQvKQ.rtbw", "KQvKQ.rtbz"}) {
    const std::string intact = readFile(localTables() + "/" + file);
    std::vector<size_t> offsets;
    size_t head = std::min<size_t>(intact.size(), 1200);
    for (size_t at = 4; at < head; at += at < 64 ? 1 : 7) offsets.push_back(at);
    for (size_t at = head; at < intact.size(); at += intact.size() / 60) offsets.push_back(at);
    int reported = 0;
    for (size_t at : offsets) {
      std::string damaged = intact;
      damaged[at] ^= (char)(1 << (at % 8));
      int failed = 0;
      std::string out = probeWith(file, damaged, &failed);
      int reports = occurrences(out, "info string Corrupted table");
      EXPECT_LE(reports, 1) << file << " bit flipped at " << at << ":\n" << out;
      if (failed) {
        EXPECT_EQ(reports, 1) << file << " bit flipped at " << at << ": " << failed << " failures";
      }
      reported += reports;
    }
    EXPECT_GT(reported, 0) << file;
    writeFile(dir.file(file), intact);
  }
}

}  // namespace
