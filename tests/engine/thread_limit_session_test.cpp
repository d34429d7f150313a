// Sessions under an address-space limit, kept apart from the other
// sessions because the sanitizers' shadow memory cannot fit in the limit.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

// Starts the engine with the address space limited to `bytes` (and thread
// stacks of 8 MB); the test process keeps its own limits.
struct LimitedEngine {
  rlimit space{}, stack{};
  bool limited = false;
  std::optional<EngineProcess> engine;
  explicit LimitedEngine(rlim_t bytes) {
    if (getrlimit(RLIMIT_AS, &space) != 0 || getrlimit(RLIMIT_STACK, &stack) != 0) return;
    const rlimit tightSpace{bytes, space.rlim_max}, eightMbStacks{8ull << 20, stack.rlim_max};
    limited = setrlimit(RLIMIT_STACK, &eightMbStacks) == 0 && setrlimit(RLIMIT_AS, &tightSpace) == 0;
    engine.emplace();
    setrlimit(RLIMIT_AS, &space);
    setrlimit(RLIMIT_STACK, &stack);
  }
};

// Under an address-space limit that cannot hold 64 thread stacks, asking
// for 64 threads leaves the engine with the helpers the system granted,
// says so, and searches on.  The limit is inherited by the engine only:
// the test process restores its own right after the start.
TEST(ThreadLimitSession, RefusedHelpersShrinkThePool) {
  LimitedEngine limited(450ull << 20);
  ASSERT_TRUE(limited.limited);
  EngineProcess& engine = *limited.engine;

  ASSERT_TRUE(engine.sync(20000));
  engine.send("setoption name Threads value 64");
  auto announced = engine.sync(20000);
  ASSERT_TRUE(announced);
  ASSERT_EQ(announced->size(), 2u);
  int refused = 0, kept = 0;
  ASSERT_EQ(std::sscanf((*announced)[0].c_str(), "info string could not start search thread %d (%*[^)]); searching with %d",
                        &refused, &kept), 2)
      << (*announced)[0];
  EXPECT_EQ(kept, refused - 1);
  EXPECT_TRUE(kept >= 1 && kept < 64) << kept;
  EXPECT_EQ((*announced)[1], "info string Threads now set to " + std::to_string(kept));

  engine.send("go depth 6");
  ASSERT_TRUE(readBestMove(engine, 30000));
  engine.send("setoption name Threads value 2");
  announced = engine.sync(20000);
  ASSERT_TRUE(announced);
  EXPECT_EQ(*announced, std::vector<std::string>{"info string Threads now set to 2"});
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

// A Hash that does not fit in 900 MB of address space: the table falls
// back to the largest power of two that fits (512 MB), the size line gives
// that size and one more line says the 4096 MB could not be had.  The
// search works with it, and the hash file is checked against the table the
// engine has: a file of the table's size is saved and loaded back, one of
// the size asked for is refused.
TEST(HashLimitSession, RefusedHashReportsTheTableHad) {
  LimitedEngine limited(900ull << 20);
  ASSERT_TRUE(limited.limited);
  EngineProcess& engine = *limited.engine;
  const std::string file = ::testing::TempDir() + "orvane_hash_limit_" + std::to_string(getpid());

  ASSERT_TRUE(engine.sync(20000));
  engine.send("setoption name Hash value 4096");
  auto lines = engine.sync(60000);
  ASSERT_TRUE(lines);
  EXPECT_EQ(*lines, (std::vector<std::string>{
                        "info string Hash 4096 asks for a table of 4096 MB, which could not be allocated; using 512 MB",
                        "info string Hash table size is now 512 meg"}));

  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go depth 10");
  std::string info;
  ASSERT_TRUE(readBestMove(engine, 60000, &info));
  EXPECT_NE(info.find(" hashfull "), std::string::npos) << info;

  engine.send("setoption name Hash File Name value " + file);
  engine.send("setoption name Save Hash to File");
  lines = engine.sync(60000);
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->back(), "info string Hash Saved");
  struct stat saved{};
  ASSERT_EQ(stat(file.c_str(), &saved), 0);
  EXPECT_EQ(saved.st_size, 512ll << 20);

  engine.send("setoption name Clear Hash");
  engine.send("setoption name Load Hash from File");
  lines = engine.sync(60000);
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->back(), "info string Hash Loaded");

  // A file as large as the Hash value asked for (sparse: it takes no disk).
  ASSERT_EQ(truncate(file.c_str(), 4096ll << 20), 0);
  engine.send("setoption name Load Hash from File");
  lines = engine.sync(60000);
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->back(), "info string File size does not match Hash size");
  std::remove(file.c_str());

  engine.send("go depth 6");
  ASSERT_TRUE(readBestMove(engine, 60000));
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

}  // namespace
