// Damaged table files: empty, truncated and bit-flipped copies of real
// tables.  None may crash the engine or make it read outside the mapping
// (run these under the AddressSanitizer build); an unusable file is
// reported once and its probes fail.
#include <filesystem>
#include <fstream>

#include "board/movegen.h"
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

// Whether pos has a legal capture.  Without one, its win/draw/loss probe
// must read its own table (no capture can decide the value first).
bool hasLegalCapture(const Position& pos) {
  int list[MaxMoves];
  const int n = generateAll(pos, list);
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entryMove(list[i]);
    if ((pos.board[moveTo(m)] || moveKind(m) == KindEnPassant) && makeMove(pos, child, m)) return true;
  }
  return false;
}

// One probed position and the answers of the intact tables.
struct Probed {
  Position pos;
  std::string material;
  int wdl, dtz;
};

// What the probes answered with one file damaged.
struct Answers {
  std::string output;
  std::vector<int> wdlOk, dtzOk, wdl, dtz;
  int failed = 0, wdlFailed = 0;
};

// All kept tables in a scratch directory; one of them can be replaced by a
// damaged copy.  Only positions without a legal capture that the intact
// tables answer are probed, so which probes need which file is known: the
// win/draw/loss and the distance probes of a position both read its WDL
// file; the distance probe also reads its DTZ file unless the position is
// drawn or a pawn move keeps the win at once (DTZ 1, or 101 when cursed).
class TbDamage : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::vector<Probed> positions;

  void SetUp() override {
    initBoardTables();
    for (const auto& f : std::filesystem::directory_iterator(localTables()))
      dir.copy(f.path().string(), f.path().filename().string());
    captureOutput([&] { tbInit(dir.path); });
    for (const char* material : {"KPvKP", "KQvKQ", "KRvKR"}) {
      int kept = 0;
      for (const Position& pos : randomPositions(material, 80)) {
        int wdlOk = 0, dtzOk = 0;
        const int wdl = probeWdl(pos, &wdlOk);
        const int dtz = probeDtz(pos, &dtzOk);
        if (wdlOk && dtzOk && !hasLegalCapture(pos)) {
          positions.push_back({pos, material, wdl, dtz});
          kept++;
        }
      }
      ASSERT_GT(kept, 20) << material;
    }
  }
  void TearDown() override { tbInit(""); }

  // Probes whose answer must fail once `file` is unusable.
  int needing(const std::string& file) const {
    const bool wdlFile = file.find(".rtbw") != std::string::npos;
    int n = 0;
    for (const Probed& p : positions) {
      if (file.rfind(p.material + ".", 0) != 0) continue;
      if (wdlFile) n += 2;
      else n += p.wdl != 0 && !(p.wdl > 0 && (p.dtz == 1 || p.dtz == 101));
    }
    return n;
  }

  // Re-reads the directory with file replaced by bytes and probes every
  // position.  Answers that succeed must be the intact ones: a position of
  // another material never reads the damaged file, and one that does must
  // fail rather than answer from damaged data it did not detect.
  Answers probeWith(const std::string& file, const std::string& bytes, bool exactWhenDetected = true) {
    writeFile(dir.file(file), bytes);
    Answers a;
    a.output = captureOutput([&] {
      tbInit(dir.path);
      for (const Probed& p : positions) {
        int wdlOk = 0, dtzOk = 0;
        a.wdl.push_back(probeWdl(p.pos, &wdlOk));
        a.dtz.push_back(probeDtz(p.pos, &dtzOk));
        a.wdlOk.push_back(wdlOk);
        a.dtzOk.push_back(dtzOk);
        a.failed += !wdlOk + !dtzOk;
        a.wdlFailed += !wdlOk;
      }
    });
    for (size_t i = 0; i < positions.size(); i++) {
      const Probed& p = positions[i];
      const bool sameMaterial = file.rfind(p.material + ".", 0) == 0;
      if (!sameMaterial) {
        EXPECT_TRUE(a.wdlOk[i] && a.dtzOk[i]) << file << ": " << p.material << " failed";
      }
      if (!sameMaterial || exactWhenDetected) {
        if (a.wdlOk[i]) {
          EXPECT_EQ(a.wdl[i], p.wdl) << file << ": " << p.material;
        }
        if (a.dtzOk[i]) {
          EXPECT_EQ(a.dtz[i], p.dtz) << file << ": " << p.material;
        }
      } else if (a.wdlOk[i]) {
        EXPECT_TRUE(a.wdl[i] >= -2 && a.wdl[i] <= 2) << a.wdl[i];
      }
    }
    return a;
  }
};

TEST_F(TbDamage, EmptyFileIsReportedOnceAndNeverProbed) {
  const Answers a = probeWith("KQvKQ.rtbw", "");
  EXPECT_EQ(a.failed, needing("KQvKQ.rtbw"));
  EXPECT_EQ(occurrences(a.output, "info string Could not mmap() " + dir.file("KQvKQ.rtbw") + ": empty file"), 1)
      << a.output;
  EXPECT_EQ(occurrences(a.output, "info string"), 2) << a.output;  // and the Found line
}

TEST_F(TbDamage, TruncatedCopiesAreReportedOnce) {
  for (const char* file : {"KPvKP.rtbw", "KPvKP.rtbz", "KQvKQ.rtbz", "KRvKR.rtbw"}) {
    const std::string intact = readFile(localTables() + "/" + file);
    const int expected = needing(file);
    ASSERT_GE(expected, 4) << file;
    // The last 16 bytes are a checksum the decoder does not read.
    for (size_t cut : {size_t(3), size_t(5), size_t(12), size_t(40), size_t(100), intact.size() / 3,
                       intact.size() / 2, intact.size() - 17}) {
      const Answers a = probeWith(file, intact.substr(0, cut));
      EXPECT_EQ(a.failed, expected) << file << " cut at " << cut;
      EXPECT_EQ(occurrences(a.output, "info string Corrupted table " + dir.file(file)), 1)
          << file << " cut at " << cut << ":\n" << a.output;
    }
    writeFile(dir.file(file), intact);
  }
}

// Flipped bits in the headers and index area, and in the compressed data:
// either the damage is found and reported (at most once per file), or the
// probes answer values in range.  A failed probe of the damaged kind
// (win/draw/loss for a WDL file) always comes with a report, no probe fails that does not read the damaged file, and
// the other tables answer as before.  (A distance probe may still fail
// unreported: wrong values from an undetected flip in a WDL file can send
// it past its recursion bound, which gives up silently.)
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
      const Answers a = probeWith(file, damaged, false);
      int reports = occurrences(a.output, "info string Corrupted table");
      EXPECT_LE(reports, 1) << file << " bit flipped at " << at << ":\n" << a.output;
      const bool dtzFile = std::string(file).find(".rtbz") != std::string::npos;
      if (dtzFile ? a.failed : a.wdlFailed) {
        EXPECT_EQ(reports, 1) << file << " bit flipped at " << at << ": " << a.failed << " failures";
      }
      EXPECT_LE(a.failed, needing(file)) << file << " bit flipped at " << at;
      reported += reports;
    }
    EXPECT_GT(reported, 0) << file;
    writeFile(dir.file(file), intact);
  }
}

}  // namespace
