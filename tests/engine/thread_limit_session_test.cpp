// A session under an address-space limit, kept apart from the other
// sessions because the sanitizers' shadow memory cannot fit in the limit.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

// Under an address-space limit that cannot hold 64 thread stacks, asking
// for 64 threads leaves the engine with the helpers the system granted,
// says so, and searches on.  The limit is inherited by the engine only:
// the test process restores its own right after the start.
TEST(ThreadLimitSession, RefusedHelpersShrinkThePool) {
  rlimit space{}, stack{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &space), 0);
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &stack), 0);
  const rlimit tightSpace{450ull << 20, space.rlim_max}, eightMbStacks{8ull << 20, stack.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_STACK, &eightMbStacks), 0);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tightSpace), 0);
  EngineProcess engine;
  setrlimit(RLIMIT_AS, &space);
  setrlimit(RLIMIT_STACK, &stack);

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

}  // namespace
