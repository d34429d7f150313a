// Runs the built engine as a child process connected by pipes, for
// end-to-end tests of the UCI dialogue.  Every read has a timeout, so an
// engine that hangs fails the test instead of blocking it.
//
// Every session is checked to its end.  Every "bestmove" read must answer a
// "go" sent earlier with a move that is legal in that go's position (its
// ponder move legal after it, "0000" only where there is no legal move):
// the lines sent are followed with the engine's own position set-up and
// move generator.  The destructor closes the input, reads and checks the
// rest of the output up to its end, and then requires that every "go" got
// its "bestmove" (only the search a "quit" cut short may stay unanswered)
// and that the engine ended with exit status 0, which is how a sanitizer
// report at exit shows.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

class EngineProcess {
 public:
  // How the engine's standard output reaches the test: a pipe, or a packet
  // socket, on which each write the engine makes arrives as one message;
  // there every message must be exactly one whole line (a line written in
  // pieces could be torn apart by another thread's output).
  enum class Output { Pipe, Packets };
  explicit EngineProcess(const std::vector<std::string>& args = {}, Output output = Output::Pipe);
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  bool running() const { return pid_ > 0; }
  // Writes raw bytes / one line (a line feed is added) to the engine.
  void write(const std::string& bytes);
  void send(const std::string& line) { write(line + "\n"); }
  // Sends a "go" the engine drops without an answer of its own (one that
  // arrives while a search runs); it is not followed as a search.
  void sendUnanswered(const std::string& line);
  // Closes the engine's standard input (end of input).
  void closeInput();

  // Next output line, or none when nothing arrives within timeoutMs.
  std::optional<std::string> readLine(int timeoutMs = 5000);
  // Lines up to and including the first equal to `last`; empty optional on
  // timeout.  The lines are returned without `last`.
  std::optional<std::vector<std::string>> readUntil(const std::string& last, int timeoutMs = 5000);
  // Sends "isready" and returns the lines printed before "readyok".
  std::optional<std::vector<std::string>> sync(int timeoutMs = 5000);

  // Waits for the process to end; its exit status (128 plus the signal
  // number when a signal ended it), or -1 when it is still running after
  // timeoutMs.
  int waitExit(int timeoutMs = 5000);

 private:
  // The position a search would start from, in the engine's notation.
  struct Searched {
    std::string fen;
    bool chess960;
  };
  void follow(const std::string& line);
  void checkAnswer(const std::string& line);

  Output output_;
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string buffer_;
  bool eof_ = false;
  bool tornOutput_ = false;
  int exitStatus_ = -1;
  // What the engine has been sent: the unfinished last line, the current
  // position and notation, whether input stopped at "quit", and the
  // positions of the searches not yet answered, oldest first.
  std::string sentLine_;
  Searched current_;
  bool quitSent_ = false;
  std::deque<Searched> unanswered_;
};

// Reads until the "bestmove" line and returns it (checked like every answer
// read); fills the last "info" line before it and, when asked, every line
// read.  None on timeout.
std::optional<std::string> readBestMove(EngineProcess& engine, int timeoutMs, std::string* lastInfo = nullptr,
                                        std::vector<std::string>* all = nullptr);
// The number after " nodes " in an info line (0 without one).
uint64_t nodesOf(const std::string& info);
