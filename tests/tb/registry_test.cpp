// The registry on directories built for the test: what is found along a
// path, how entries are keyed, the DTZ cache's release order, and the
// engine's "d" and "SyzygyPath" through the engine process.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "../engine/engine_process.h"
#include "tb/registry.h"
#include "tb_test_util.h"

namespace {

TEST(TbRegistry, PathsCountsAndKeys) {
  initBoardTables();
  ScratchDir dir;
  mkdir(dir.file("a").c_str(), 0755);
  mkdir(dir.file("b").c_str(), 0755);
  dir.copy(localTables() + "/KQvK.rtbw", "a/KQvK.rtbw");
  dir.copy(localTables() + "/KRvK.rtbw", "b/KRvK.rtbw");
  dir.copy(localTables() + "/KRvKR.rtbw", "b/KRvKR.rtbw");
  dir.copy(localTables() + "/KRvKR.rtbz", "b/KRvKR.rtbz");

  std::string out = captureOutput([&] { tbInit(":" + dir.file("a") + "::" + dir.file("b") + ":"); });
  EXPECT_EQ(out, "info string Found 3 tablebases (up to 4-man).\n");
  EXPECT_EQ(tbPaths, (std::vector<std::string>{dir.file("a"), dir.file("b")}));
  EXPECT_EQ(tbEntryCount(), 3);
  EXPECT_EQ(maxMen, 4);

  // Both colour orientations find the same entry; the symmetric material
  // is in the hash once.
  Position white = fenPosition("8/8/8/4k3/8/8/3KQ3/8 b - - 0 1");
  Position black = fenPosition("8/3kq3/8/8/4K3/8/8/8 w - - 0 1");
  ASSERT_NE(tbFindEntry(white.tbKey), nullptr);
  EXPECT_NE(white.tbKey, black.tbKey);
  EXPECT_EQ(tbFindEntry(white.tbKey), tbFindEntry(black.tbKey));
  EXPECT_EQ(tbFindEntry(white.tbKey)->key, materialKeyOf("KQvK", false));
  TbEntry* rook = tbFindEntry(fenPosition("8/8/4k3/8/8/8/r7/R3K3 w - - 0 1").tbKey);
  ASSERT_NE(rook, nullptr);
  EXPECT_TRUE(rook->symmetric);
  int pairs = 0;
  for (auto& bucket : tbHash)
    for (const TbHashPair& p : bucket) pairs += p.entry == rook && p.key;
  EXPECT_EQ(pairs, 1);

  // Nothing is mapped until a probe needs it; both colours probe right.
  EXPECT_EQ(tbMappedFiles(), 0);
  int success = 0;
  EXPECT_EQ(probeWdl(white, &success), -2);
  EXPECT_EQ(probeWdl(black, &success), -2);
  EXPECT_EQ(tbMappedFiles(), 1);

  out = captureOutput([] { tbInit("<empty>"); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(tbEntryCount(), 0);
  EXPECT_EQ(maxMen, 0);
  EXPECT_EQ(tbMappedFiles(), 0);
  EXPECT_EQ(tbFindEntry(white.tbKey), nullptr);
}

TEST(TbRegistry, UnusableDirectoriesAreReported) {
  ScratchDir dir;
  std::FILE* f = std::fopen(dir.file("plain").c_str(), "w");
  std::fclose(f);
  std::string longName(5000, 'x');
  std::string out = captureOutput([&] { tbInit(dir.file("plain") + ":" + dir.file("missing") + ":/" + longName); });
  EXPECT_NE(out.find("info string SyzygyPath: " + dir.file("plain") + " is not a directory"), std::string::npos) << out;
  EXPECT_NE(out.find("info string SyzygyPath: cannot read " + dir.file("missing")), std::string::npos) << out;
  EXPECT_NE(out.find("too long"), std::string::npos) << out;
  EXPECT_NE(out.find("info string Found 0 tablebases (up to 0-man)."), std::string::npos) << out;
  tbInit("");
}

// Writes a table file whose sub-tables each hold one value: the smallest
// valid file for a pawnless material (leading pieces first, like pieces together).
void writeOneValueTable(const std::string& path, const std::string& name, bool wdl) {
  int counts[16];
  countMaterial(name.c_str(), counts);
  std::string pieces;
  for (int pass = 0; pass < 2; pass++)
    for (int c = 0; c < 16; c++)
      if ((counts[c] == 1) == (pass == 0)) pieces.append(counts[c], (char)c);
  std::string file = wdl ? std::string("\x71\xe8\x23\x5d\x01", 5) : std::string("\xd7\x66\x0c\xa5\x01", 5);
  file += '\0';  // both sides' leading group first
  for (char p : pieces) file += (char)(p | p << 4);
  if (file.size() & 1) file += '\0';
  file += wdl ? std::string("\x80\x04\x80\x00", 4) : std::string("\x80\x00", 2);
  file.resize(128, '\0');
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
}

// A position with the material of name: white king a1, black king h8,
// white pieces from c2 on, black pieces from c7 on.
Position positionOf(const std::string& name) {
  char board[64];
  std::fill(board, board + 64, '1');
  board[0 ^ 56] = 'K';
  board[63 ^ 56] = 'k';
  int white = 10, black = 50;
  bool weak = false;
  for (char c : name.substr(1)) {
    if (c == 'v') weak = true;
    else if (c != 'K') board[(weak ? black++ : white++) ^ 56] = weak ? (char)std::tolower(c) : c;
  }
  std::string fen;
  for (int r = 0; r < 8; r++) fen += std::string(board + 8 * r, 8) + (r < 7 ? "/" : " w - - 0 1");
  return fenPosition(fen);
}

// With 64 DTZ tables cached, a 65th releases the least recently used one.
TEST(TbRegistry, DtzCacheReleasesTheLeastRecentlyUsedTable) {
  initBoardTables();
  ScratchDir dir;
  std::vector<std::string> names;
  const char* kinds = "QRBN";
  for (int a = 0; a < 4; a++)
    for (int b = a; b < 4; b++)
      for (int c = b; c < 4; c++)
        for (int d = 0; d < 4; d++) names.push_back(std::string("K") + kinds[a] + kinds[b] + kinds[c] + "vK" + kinds[d]);
  ASSERT_GE(names.size(), 66u);
  names.resize(66);
  for (const std::string& n : names) {
    writeOneValueTable(dir.file(n + ".rtbw"), n, true);
    writeOneValueTable(dir.file(n + ".rtbz"), n, false);
  }
  captureOutput([&] { tbInit(dir.path); });
  ASSERT_EQ(tbEntryCount(), 66);

  int success = 1;
  for (int i = 0; i < 64; i++) {
    EXPECT_EQ(probeDtzTable(positionOf(names[i]), 2, &success), 0) << names[i];
    ASSERT_EQ(success, 1) << names[i];
  }
  EXPECT_EQ(dtzCacheNames().size(), 64u);
  EXPECT_EQ(tbMappedFiles(), 64);
  probeDtzTable(positionOf(names[0]), 2, &success);  // names[1] is now the oldest
  EXPECT_EQ(dtzCacheNames().front(), names[0]);
  probeDtzTable(positionOf(names[64]), 2, &success);
  std::vector<std::string> cached = dtzCacheNames();
  EXPECT_EQ(cached.size(), 64u);
  EXPECT_EQ(cached.front(), names[64]);
  EXPECT_EQ(std::count(cached.begin(), cached.end(), names[1]), 0);
  EXPECT_EQ(std::count(cached.begin(), cached.end(), names[0]), 1);
  EXPECT_EQ(tbMappedFiles(), 64);
  probeDtzTable(positionOf(names[65]), 2, &success);
  cached = dtzCacheNames();
  EXPECT_EQ(std::count(cached.begin(), cached.end(), names[2]), 0);
  EXPECT_EQ(tbMappedFiles(), 64);
  tbInit("");
  EXPECT_EQ(tbMappedFiles(), 0);
}

// "SyzygyPath" and "d" through the engine process: the registry's reports
// (one of them longer than the usual line), the table values "d" shows,
// and every line of the front end and the tablebases written in one piece
// (the engine's output is a packet socket, on which the session checks
// that every write is one whole line).
TEST(TbRegistry, EngineReportsTablesAndProbesInDisplay) {
  ScratchDir dir;
  std::string tables = dir.path;
  for (int i = 0; i < 3; i++) {
    tables += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(tables.c_str(), 0755), 0);
  }
  std::filesystem::copy_file(localTables() + "/KQvK.rtbw", tables + "/KQvK.rtbw");
  std::filesystem::copy_file(localTables() + "/KQvK.rtbz", tables + "/KQvK.rtbz");
  ASSERT_EQ(mkdir((tables + "/KRvK.rtbw").c_str(), 0755), 0);  // named like a table, not a file

  EngineProcess engine({}, EngineProcess::Output::Packets);
  ASSERT_TRUE(engine.running());
  ASSERT_TRUE(engine.sync(20000).has_value());  // the start-up banner, printed before any other thread runs
  engine.send("uci");
  auto out = engine.sync(20000);
  ASSERT_TRUE(out.has_value());
  EXPECT_TRUE(std::count(out->begin(), out->end(), "uciok"));

  engine.send("setoption name SyzygyPath value " + tables);
  out = engine.sync(20000);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out, (std::vector<std::string>{"info string Could not open " + tables + "/KRvK.rtbw: not a regular file",
                                            "info string Found 1 tablebases (up to 3-man).",
                                            "info string Probing tablebases up to 3-man."}));

  engine.send("position fen 8/8/8/4k3/8/8/3KQ3/8 b - - 0 1");
  engine.send("d");
  out = engine.sync(20000);
  ASSERT_TRUE(out.has_value());
  ASSERT_GE(out->size(), 2u);
  EXPECT_EQ((*out)[out->size() - 2], "Tablebases WDL: -2");
  EXPECT_EQ((*out)[out->size() - 1], "Tablebases DTZ: -14");
  engine.send("position startpos");
  engine.send("d");
  out = engine.sync(20000);
  ASSERT_TRUE(out.has_value());
  ASSERT_GE(out->size(), 1u);
  EXPECT_EQ(out->back().rfind("Key: ", 0), 0u);
}

}  // namespace
