// Table files that are not what they seem: a FIFO named like a table must
// not hang the engine, and a truncated file must never make the decoder
// read past its last byte.
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "../engine/engine_process.h"
#include "tb/registry.h"
#include "tb_test_util.h"

namespace {

// A FIFO without a writer blocks a plain open() for reading forever: named
// like a WDL file it would hang "SyzygyPath", like a DTZ file the first DTZ
// probe.  The engine runs as a child process, so a hang fails the test
// (every read has a deadline) instead of blocking the suite.
TEST(TbFiles, FifoNamedLikeATableIsRefusedPromptly) {
  ScratchDir dir;
  mkdir(dir.file("wdl").c_str(), 0755);
  mkdir(dir.file("dtz").c_str(), 0755);
  ASSERT_EQ(mkfifo(dir.file("wdl/KQvK.rtbw").c_str(), 0644), 0);
  dir.copy(localTables() + "/KQvK.rtbw", "dtz/KQvK.rtbw");
  ASSERT_EQ(mkfifo(dir.file("dtz/KQvK.rtbz").c_str(), 0644), 0);

  EngineProcess engine;
  ASSERT_TRUE(engine.sync(20000).has_value());
  engine.send("setoption name SyzygyPath value " + dir.file("wdl"));
  auto out = engine.sync(10000);
  ASSERT_TRUE(out.has_value()) << "setting a path with a FIFO named KQvK.rtbw hangs";
  EXPECT_EQ(*out, (std::vector<std::string>{"info string Could not open " + dir.file("wdl/KQvK.rtbw") +
                                                ": not a regular file",
                                            "info string Found 0 tablebases (up to 0-man).",
                                            "info string Probing tablebases up to 0-man."}));

  // The WDL file serves; the DTZ probe of "d" and of the root filter finds
  // the FIFO unusable, says so once, and the search goes on with WDL alone.
  engine.send("setoption name SyzygyPath value " + dir.file("dtz"));
  engine.send("position fen 8/8/8/4k3/8/8/3KQ3/8 b - - 0 1");
  engine.send("d");
  out = engine.sync(10000);
  ASSERT_TRUE(out.has_value()) << "the first DTZ probe with a FIFO named KQvK.rtbz hangs";
  ASSERT_GE(out->size(), 2u);
  EXPECT_EQ(out->front(), "info string Found 1 tablebases (up to 3-man).");
  EXPECT_EQ((*out)[out->size() - 2], "Tablebases WDL: -2");  // and no DTZ line
  EXPECT_EQ(out->back(), "info string Could not open " + dir.file("dtz/KQvK.rtbz") + ": not a regular file");
  engine.send("go depth 2");
  std::vector<std::string> lines;
  ASSERT_TRUE(readBestMove(engine, 10000, nullptr, &lines).has_value());
  for (const std::string& line : lines) EXPECT_EQ(line.find("KQvK.rtbz"), std::string::npos) << line;
}

// The decoder on every prefix of every kept table, each copy ending right
// before an inaccessible page: a read past the prefix's last byte faults
// and is caught here.  The pad bytes that follow odd offsets may step past
// a file that ends there; every later bound must still hold.
sigjmp_buf faultJump;
void onFault(int) { siglongjmp(faultJump, 1); }

// Decodes the table of e, catching a fault; false when one happened.
bool decodesWithoutFault(TbEntry& e, bool wdl) {
  std::string why;
  if (sigsetjmp(faultJump, 1) != 0) return false;
  decodeTable(e, wdl, &why);
  return true;
}

// The registry's description of a material, before any file is decoded.
void copyMaterial(const TbEntry& from, TbEntry& to) {
  std::strcpy(to.name, from.name);
  to.key = from.key;
  to.swappedKey = from.swappedKey;
  to.num = from.num;
  to.symmetric = from.symmetric;
  to.hasPawns = from.hasPawns;
  to.leaderKind = from.leaderKind;
  to.pawns[0] = from.pawns[0];
  to.pawns[1] = from.pawns[1];
}

TEST(TbFiles, DecoderNeverReadsPastATruncatedFile) {
  initBoardTables();
  captureOutput([] { tbInit(localTables()); });
  const long page = sysconf(_SC_PAGESIZE);
  constexpr size_t MaxPrefix = 4096;
  const size_t room = (MaxPrefix + page - 1) / page * page;
  auto* area =
      static_cast<uint8_t*>(mmap(nullptr, room + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(area, MAP_FAILED);
  ASSERT_EQ(mprotect(area + room, page, PROT_NONE), 0);
  uint8_t* guard = area + room;

  struct sigaction fault {}, oldSegv {}, oldBus {};
  fault.sa_handler = onFault;
  sigemptyset(&fault.sa_mask);
  sigaction(SIGSEGV, &fault, &oldSegv);
  sigaction(SIGBUS, &fault, &oldBus);

  int files = 0;
  for (const auto& f : std::filesystem::directory_iterator(localTables())) {
    const std::string name = f.path().stem().string(), suffix = f.path().extension().string();
    const bool wdl = suffix == ".rtbw";
    const TbEntry* registered = tbFindEntry(materialKeyOf(name, false));
    ASSERT_NE(registered, nullptr) << name;
    std::ifstream in(f.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    files++;
    for (size_t n = 0; n <= std::min(bytes.size(), MaxPrefix); n++) {
      TbEntry e;
      copyMaterial(*registered, e);
      std::memcpy(guard - n, bytes.data(), n);
      e.data = guard - n;
      e.mapping = n;
      EXPECT_TRUE(decodesWithoutFault(e, wdl)) << name << suffix << " cut to " << n << " bytes: read past its end";
    }
    // The whole file decodes: the copies above hold real tables.
    TbEntry whole;
    copyMaterial(*registered, whole);
    whole.data = reinterpret_cast<const uint8_t*>(bytes.data());
    whole.mapping = bytes.size();
    std::string why;
    EXPECT_TRUE(decodeTable(whole, wdl, &why)) << name << suffix << ": " << why;
  }
  sigaction(SIGSEGV, &oldSegv, nullptr);
  sigaction(SIGBUS, &oldBus, nullptr);
  munmap(area, room + page);
  tbInit("");
  EXPECT_EQ(files, 26);
}

}  // namespace
