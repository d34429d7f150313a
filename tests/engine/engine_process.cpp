#include "engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {
long long millisecondsNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

EngineProcess::EngineProcess(const std::vector<std::string>& args) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe(in) != 0) return;
  if (pipe(out) != 0) {
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
}

EngineProcess::~EngineProcess() {
  closeInput();
  if (pid_ > 0 && waitExit(3000) == -1 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (fromChild_ >= 0) close(fromChild_);
}

void EngineProcess::write(const std::string& bytes) {
  size_t done = 0;
  while (toChild_ >= 0 && done < bytes.size()) {
    ssize_t n = ::write(toChild_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
}

void EngineProcess::closeInput() {
  if (toChild_ >= 0) close(toChild_);
  toChild_ = -1;
}

std::optional<std::string> EngineProcess::readLine(int timeoutMs) {
  long long deadline = millisecondsNow() + timeoutMs;
  for (;;) {
    size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    long long left = deadline - millisecondsNow();
    if (eof_ || left <= 0 || fromChild_ < 0) return std::nullopt;
    pollfd fd{fromChild_, POLLIN, 0};
    if (poll(&fd, 1, (int)left) <= 0) continue;
    char chunk[4096];
    ssize_t n = read(fromChild_, chunk, sizeof chunk);
    if (n <= 0) eof_ = true;
    else buffer_.append(chunk, (size_t)n);
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
  if (pid_ <= 0) return -1;
  long long deadline = millisecondsNow() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
