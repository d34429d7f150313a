#include "engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "board/bitboard.h"
#include "board/movegen.h"
#include "board/movetext.h"
#include "board/position.h"
#include "board/settings.h"
#include "engine/input.h"

namespace {
long long millisecondsNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Words of a line as the engine splits them (blanks and tabs).
std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
         });
}

// The legal moves of a position as the engine writes them, each with the
// position it leads to; false when the FEN is refused.
bool legalMoves(const std::string& fen, bool chess960, std::vector<std::pair<std::string, std::string>>* moves) {
  static const bool tablesReady = [] {
    hasPopcnt = cpuHasPopcnt();
    initBitboards();
    initZobrist();
    return true;
  }();
  (void)tablesReady;
  Position pos, child;
  if (!setPosition(pos, fen.c_str())) return false;
  const int notation = settings::chess960;
  settings::chess960 = chess960;
  int list[MaxMoves];
  const int count = generateAll(pos, list);
  moves->clear();
  for (int i = 0; i < count; ++i)
    if (makeMove(pos, child, entryMove(list[i]))) moves->emplace_back(moveToText(entryMove(list[i])), positionToFen(child));
  settings::chess960 = notation;
  return true;
}

// The position a "position" line sets up, as the engine does: a refused
// set-up keeps `before`, a move that cannot be played ends the move list.
std::string positionAfter(const std::vector<std::string>& words, const std::string& before, bool chess960) {
  std::string fen;
  size_t next = 2;
  if (words.size() >= 2 && words[1] == "startpos") {
    fen = StartFen;
  } else if (words.size() >= 6 && words[1] == "fen" && (words[3] == "w" || words[3] == "b")) {
    for (size_t i = 2; i < 6; ++i)
      if (words[i] == "moves") return before;
    fen = words[2] + " " + words[3] + " " + words[4] + " " + words[5];
    next = 5;
  } else {
    return before;
  }
  std::vector<std::pair<std::string, std::string>> moves;
  if (!legalMoves(fen, chess960, &moves)) return before;
  while (next < words.size() && words[next] != "moves") ++next;
  for (++next; next < words.size(); ++next) {
    auto played = std::find_if(moves.begin(), moves.end(), [&](const auto& m) { return sameIgnoringCase(m.first, words[next]); });
    if (played == moves.end()) break;
    fen = played->second;
    legalMoves(fen, chess960, &moves);
  }
  return fen;
}
}  // namespace

EngineProcess::EngineProcess(const std::vector<std::string>& args, Output output) : output_(output) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe(in) != 0) return;
  if ((output == Output::Pipe ? pipe(out) : socketpair(AF_UNIX, SOCK_SEQPACKET, 0, out)) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    std::string binary = ORVANE_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    return;
  }
  pid_ = pid;
  toChild_ = in[1];
  fromChild_ = out[0];
  current_ = {StartFen, false};
}

EngineProcess::~EngineProcess() {
  const bool started = pid_ > 0 || exitStatus_ != -1;
  closeInput();
  // The rest of the output is read to its end, so an answer nobody read is
  // checked too, and a search left open shows.
  const long long deadline = millisecondsNow() + 30000;
  while (readLine((int)std::max(1LL, deadline - millisecondsNow()))) {
  }
  if (started && !eof_) {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    ADD_FAILURE() << "the engine's output was still open 30 s after the end of its input";
  } else if (started) {
    if (!buffer_.empty()) ADD_FAILURE() << "the output ends inside a line: \"" << buffer_ << "\"";
    if (unanswered_.size() > (quitSent_ ? 1u : 0u))
      ADD_FAILURE() << unanswered_.size() << " searches ended without a bestmove"
                    << (quitSent_ ? " (only one that quit cut short may)" : "");
    if (pid_ > 0 && waitExit(10000) == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      ADD_FAILURE() << "the engine was still running 10 s after closing its output";
    } else {
      EXPECT_EQ(exitStatus_, 0) << "the engine's exit status (a sanitizer report at exit makes it non-zero)";
    }
  }
  if (fromChild_ >= 0) close(fromChild_);
}

// Follows one line sent to the engine as the input thread and the command
// handler read it: cut at the line length limit and at the first carriage
// return or form feed, nothing after a line beginning with "quit".
void EngineProcess::follow(const std::string& sent) {
  if (quitSent_ || sent.empty()) return;
  if (sent.compare(0, 4, "quit") == 0) quitSent_ = true;
  std::string line = sent.substr(0, MaxLineLength);
  if (line[0] == '\0' || (unsigned char)line[0] >= 128) return;
  line.resize(std::min(line.size(), line.find_first_of("\r\f")));
  const std::vector<std::string> words = wordsOf(line);
  if (words.empty()) return;
  quitSent_ = quitSent_ || words[0] == "quit";
  if (words[0] == "position") {
    current_.fen = positionAfter(words, current_.fen, current_.chess960);
  } else if (words[0] == "setoption" && words.size() >= 5 && words[1] == "name" &&
             sameIgnoringCase(words[2], "UCI_Chess960") && words[3] == "value") {
    const std::string& value = words[4];
    if (value == "true" || value == "false") current_.chess960 = value == "true";
    else if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos)
      current_.chess960 = std::strtoull(value.c_str(), nullptr, 10) != 0;
  } else if (words[0] == "go" && !(words.size() > 1 && words[1] == "perft")) {
    unanswered_.push_back(current_);
  }
}

// Checks a "bestmove" line against the oldest search not yet answered.
void EngineProcess::checkAnswer(const std::string& line) {
  if (unanswered_.empty()) {
    ADD_FAILURE() << "\"" << line << "\" answers no search";
    return;
  }
  const Searched searched = unanswered_.front();
  unanswered_.pop_front();
  const std::vector<std::string> words = wordsOf(line);
  std::vector<std::pair<std::string, std::string>> moves;
  ASSERT_TRUE(legalMoves(searched.fen, searched.chess960, &moves)) << searched.fen;
  const std::string best = words.size() > 1 ? words[1] : "";
  if (best == "0000") {
    EXPECT_TRUE(moves.empty()) << "\"" << line << "\" where " << searched.fen << " has " << moves.size() << " moves";
    return;
  }
  auto played = std::find_if(moves.begin(), moves.end(), [&](const auto& m) { return m.first == best; });
  ASSERT_NE(played, moves.end()) << "\"" << line << "\" is not legal in " << searched.fen;
  if (words.size() < 4 || words[2] != "ponder" || words[3] == "0000") return;
  const std::string after = played->second;
  ASSERT_TRUE(legalMoves(after, searched.chess960, &moves));
  EXPECT_TRUE(std::any_of(moves.begin(), moves.end(), [&](const auto& m) { return m.first == words[3]; }))
      << "the ponder move of \"" << line << "\" is not legal in " << after;
}

void EngineProcess::sendUnanswered(const std::string& line) {
  quitSent_ = quitSent_ || line.compare(0, 4, "quit") == 0;
  const std::string bytes = line + "\n";
  size_t done = 0;
  while (toChild_ >= 0 && done < bytes.size()) {
    ssize_t n = ::write(toChild_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
}

void EngineProcess::write(const std::string& bytes) {
  for (char c : bytes) {
    if (c != '\n') {
      sentLine_ += c;
      continue;
    }
    follow(sentLine_);
    sentLine_.clear();
  }
  size_t done = 0;
  while (toChild_ >= 0 && done < bytes.size()) {
    ssize_t n = ::write(toChild_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
}

void EngineProcess::closeInput() {
  if (toChild_ >= 0) {
    // A last line without a line feed is still read.
    follow(sentLine_);
    sentLine_.clear();
    close(toChild_);
  }
  toChild_ = -1;
}

std::optional<std::string> EngineProcess::readLine(int timeoutMs) {
  long long deadline = millisecondsNow() + timeoutMs;
  for (;;) {
    size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      if (line.rfind("bestmove", 0) == 0) checkAnswer(line);
      return line;
    }
    long long left = deadline - millisecondsNow();
    if (eof_ || left <= 0 || fromChild_ < 0) return std::nullopt;
    pollfd fd{fromChild_, POLLIN, 0};
    if (poll(&fd, 1, (int)left) <= 0) continue;
    // Large enough for any one message of a packet socket, which would be
    // cut short by a smaller read.
    std::vector<char> chunk(1 << 16);
    ssize_t n = read(fromChild_, chunk.data(), chunk.size());
    if (n <= 0) {
      eof_ = true;
      continue;
    }
    const std::string message(chunk.data(), (size_t)n);
    if (output_ == Output::Packets && message.find('\n') != message.size() - 1 && !tornOutput_) {
      tornOutput_ = true;  // reported once: a line written byte by byte would flood the report
      ADD_FAILURE() << "output written in pieces or several lines at once: \"" << message << "\"";
    }
    buffer_ += message;
  }
}

std::optional<std::vector<std::string>> EngineProcess::readUntil(const std::string& last, int timeoutMs) {
  long long deadline = millisecondsNow() + timeoutMs;
  std::vector<std::string> lines;
  for (;;) {
    long long left = deadline - millisecondsNow();
    std::optional<std::string> line = readLine((int)std::max(1LL, left));
    if (!line) return std::nullopt;
    if (*line == last) return lines;
    lines.push_back(*line);
  }
}

std::optional<std::vector<std::string>> EngineProcess::sync(int timeoutMs) {
  send("isready");
  return readUntil("readyok", timeoutMs);
}

int EngineProcess::waitExit(int timeoutMs) {
  if (pid_ <= 0) return exitStatus_;
  long long deadline = millisecondsNow() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitStatus_;
    }
    if (millisecondsNow() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::optional<std::string> readBestMove(EngineProcess& engine, int timeoutMs, std::string* lastInfo,
                                        std::vector<std::string>* all) {
  for (;;) {
    auto line = engine.readLine(timeoutMs);
    if (!line) return std::nullopt;
    if (all) all->push_back(*line);
    if (line->rfind("bestmove", 0) == 0) return line;
    if (lastInfo && line->rfind("info", 0) == 0) *lastInfo = *line;
  }
}

uint64_t nodesOf(const std::string& info) {
  const size_t at = info.find(" nodes ");
  return at == std::string::npos ? 0 : std::strtoull(info.c_str() + at + 7, nullptr, 10);
}
