// Searches timed while the wall clock jumps.  The engine runs with Debian's
// libfaketime preloaded (package faketime), which shifts the time of day by
// the offset written in a file it reads again at every call, and leaves
// the monotonic clock alone: a step of an hour in the middle of a
// "go movetime 3000" must change neither when the answer comes nor the
// times the engine reports, nor the log's stamps.  A missing libfaketime
// fails the test.  Kept out of the sanitizer passes, whose runtimes must be
// the first library loaded.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine_process.h"

namespace {

using std::chrono::steady_clock;

std::string faketimeLibrary() {
  for (const char* path : {"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                           "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1", "/usr/lib/faketime/libfaketime.so.1"})
    if (access(path, R_OK) == 0) return path;
  return "";
}

std::string tempPath(const std::string& what) {
  return ::testing::TempDir() + "orvane_clock_" + std::to_string(getpid()) + "_" + what;
}

// Replaces the offset file in one step, so the library never reads it half
// written.
void setWallClockOffset(const std::string& file, const std::string& offset) {
  const std::string next = file + ".next";
  std::ofstream(next) << offset << "\n";
  ASSERT_EQ(std::rename(next.c_str(), file.c_str()), 0);
}

// The number after `word` in an info line, or -1.
long long fieldOf(const std::string& line, const std::string& word) {
  const size_t at = line.find(" " + word + " ");
  return at == std::string::npos ? -1 : std::atoll(line.c_str() + at + word.size() + 2);
}

// Searches 3 s by "movetime" and moves the wall clock to `offset` half a
// second in; the answer must come after about 3 s all the same, and the
// final report must say so.
void searchAcrossStep(EngineProcess& engine, const std::string& offsetFile, const std::string& offset) {
  const auto start = steady_clock::now();
  engine.send("go movetime 3000");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  setWallClockOffset(offsetFile, offset);
  std::string lastInfo;
  const auto best = readBestMove(engine, 15000, &lastInfo);
  const double seconds = std::chrono::duration<double>(steady_clock::now() - start).count();
  ASSERT_TRUE(best) << "no bestmove within 15 s after a step to " << offset;
  EXPECT_TRUE(seconds >= 2.7 && seconds <= 4.5) << "bestmove after " << seconds << " s, step to " << offset;
  const long long ms = fieldOf(lastInfo, "time");
  EXPECT_TRUE(ms >= 2700 && ms <= 4500) << lastInfo;
}

// The log's stamps and the time of day of its opening line ("log opened at
// YYYY-MM-DD HH:MM:SS local time"), as seconds after this process's clock.
struct LogRead {
  std::vector<double> stamps;
  double openedOffset = 1e9;
};
LogRead readLog(const std::string& path) {
  LogRead read;
  std::ifstream log(path);
  std::string line;
  while (std::getline(log, line)) {
    read.stamps.push_back(std::atof(line.substr(0, 10).c_str()));
    const size_t at = line.find("log opened at ");
    std::tm local{};
    if (at != std::string::npos && strptime(line.c_str() + at + 14, "%Y-%m-%d %H:%M:%S", &local)) {
      local.tm_isdst = -1;
      read.openedOffset = std::difftime(std::mktime(&local), std::time(nullptr));
    }
  }
  return read;
}

TEST(ClockStepSession, WallClockStepsNeitherEndNorStretchASearch) {
  const std::string library = faketimeLibrary();
  ASSERT_FALSE(library.empty()) << "libfaketime is missing (apt-get install faketime)";
  const std::string offsetFile = tempPath("offset"), firstLog = tempPath("first.log"),
                    secondLog = tempPath("second.log");
  setWallClockOffset(offsetFile, "+0");

  // The engine alone inherits the preload.
  setenv("LD_PRELOAD", library.c_str(), 1);
  setenv("FAKETIME_TIMESTAMP_FILE", offsetFile.c_str(), 1);
  setenv("FAKETIME_NO_CACHE", "1", 1);
  setenv("DONT_FAKE_MONOTONIC", "1", 1);
  EngineProcess engine;
  for (const char* name : {"LD_PRELOAD", "FAKETIME_TIMESTAMP_FILE", "FAKETIME_NO_CACHE", "DONT_FAKE_MONOTONIC"})
    unsetenv(name);

  ASSERT_TRUE(engine.sync(20000));
  engine.send("setoption name OwnBook value false");
  engine.send("setoption name Log File value " + firstLog);
  ASSERT_TRUE(engine.sync(20000));

  // An hour forward: the old wall-clock deadline passes at once.
  searchAcrossStep(engine, offsetFile, "+1h");
  // The library is in force: the engine's time of day is an hour ahead.
  engine.send("setoption name Log File value " + secondLog);
  ASSERT_TRUE(engine.sync(20000));
  // An hour back: the old wall-clock deadline would be an hour away.
  searchAcrossStep(engine, offsetFile, "+0");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);

  const LogRead first = readLog(firstLog), second = readLog(secondLog);
  EXPECT_LT(std::abs(first.openedOffset), 60) << "the first log's opening line is not the time of day";
  EXPECT_LT(std::abs(second.openedOffset - 3600), 60) << "libfaketime did not move the engine's wall clock";
  // Stamps: seconds since the engine started, in order across the steps.
  std::vector<double> stamps = first.stamps;
  stamps.insert(stamps.end(), second.stamps.begin(), second.stamps.end());
  ASSERT_GE(stamps.size(), 10u);
  for (size_t i = 1; i < stamps.size(); ++i) EXPECT_LE(stamps[i - 1], stamps[i]) << "stamp " << i;
  EXPECT_TRUE(stamps.front() >= 0 && stamps.back() < 60) << stamps.front() << " .. " << stamps.back();
  for (const std::string& path : {offsetFile, firstLog, secondLog}) std::remove(path.c_str());
}

}  // namespace
