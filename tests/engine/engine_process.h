// Runs the built engine as a child process connected by pipes, for
// end-to-end tests of the UCI dialogue.  Every read has a timeout, so an
// engine that hangs fails the test instead of blocking it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class EngineProcess {
 public:
  explicit EngineProcess(const std::vector<std::string>& args = {});
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  bool running() const { return pid_ > 0; }
  // Writes raw bytes / one line (a line feed is added) to the engine.
  void write(const std::string& bytes);
  void send(const std::string& line) { write(line + "\n"); }
  // Closes the engine's standard input (end of input).
  void closeInput();

  // Next output line, or none when nothing arrives within timeoutMs.
  std::optional<std::string> readLine(int timeoutMs = 5000);
  // Lines up to and including the first equal to `last`; empty optional on
  // timeout.  The lines are returned without `last`.
  std::optional<std::vector<std::string>> readUntil(const std::string& last, int timeoutMs = 5000);
  // Sends "isready" and returns the lines printed before "readyok".
  std::optional<std::vector<std::string>> sync(int timeoutMs = 5000);

  // Waits for the process to end; its exit status, or -1 on timeout or
  // abnormal end (a signal).
  int waitExit(int timeoutMs = 5000);

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

// Reads until the "bestmove" line and returns it; fills the last "info" line
// before it and, when asked, every line read.  None on timeout.
std::optional<std::string> readBestMove(EngineProcess& engine, int timeoutMs, std::string* lastInfo = nullptr,
                                        std::vector<std::string>* all = nullptr);
// The number after " nodes " in an info line (0 without one).
uint64_t nodesOf(const std::string& info);
