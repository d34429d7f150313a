// The reader of standard input, on a pipe put in its place: a read blocks
// until bytes come (it does not give up after a while), and the interrupt
// of the quit sequence ends a blocked read and every later one.
#include "platform/stdin_reader.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A pipe that stands in for standard input while the object lives.
class InputPipe {
 public:
#ifdef _WIN32
  InputPipe() : saved_(GetStdHandle(STD_INPUT_HANDLE)) {
    EXPECT_TRUE(CreatePipe(&readEnd_, &writeEnd_, nullptr, 0));
    SetStdHandle(STD_INPUT_HANDLE, readEnd_);
  }
  ~InputPipe() {
    closeWriteEnd();
    SetStdHandle(STD_INPUT_HANDLE, saved_);
    CloseHandle(readEnd_);
  }
  void put(const std::string& bytes) {
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writeEnd_, bytes.data(), (DWORD)bytes.size(), &written, nullptr));
  }
  // End of input: a read under way returns.
  void closeWriteEnd() {
    if (writeEnd_ != nullptr) CloseHandle(writeEnd_);
    writeEnd_ = nullptr;
  }

 private:
  HANDLE saved_;
  HANDLE readEnd_ = nullptr;
  HANDLE writeEnd_ = nullptr;
#else
  InputPipe() : saved_(dup(0)) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    dup2(ends[0], 0);
    close(ends[0]);
    writeEnd_ = ends[1];
  }
  ~InputPipe() {
    closeWriteEnd();
    dup2(saved_, 0);
    close(saved_);
  }
  void put(const std::string& bytes) { EXPECT_EQ(write(writeEnd_, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
  void closeWriteEnd() {
    if (writeEnd_ >= 0) close(writeEnd_);
    writeEnd_ = -1;
  }

 private:
  int saved_;
  int writeEnd_ = -1;
#endif
};

#ifdef _WIN32
// A message-mode pipe's message longer than a read's buffer is read whole,
// part after part, and is not taken for the end of input; only closing the
// pipe ends it.  (Before the interrupt below, which holds for good.)
TEST(StandardInput, LongMessagesOfAMessagePipeAreReadWhole) {
  const std::wstring name = L"\\\\.\\pipe\\orvane-input-" + std::to_wstring(GetCurrentProcessId());
  HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 65536,
                                   65536, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  DWORD mode = PIPE_READMODE_MESSAGE;
  ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
  const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, client);
  const std::string message = std::string(10000, 'x') + "\n";
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(server, message.data(), (DWORD)message.size(), &written, nullptr));
  std::string received;
  char buffer[4096];
  long n = 0;
  while (received.size() < message.size() && (n = readStandardInput(buffer, sizeof buffer)) > 0)
    received.append(buffer, (size_t)n);
  EXPECT_EQ(received, message);
  CloseHandle(server);
  EXPECT_EQ(readStandardInput(buffer, sizeof buffer), -1);
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(client);
}
#endif

// One thread makes every read, as the engine's input thread does (the
// interrupt ends the read of that thread).  Three reads: one that waits for
// bytes, one that the interrupt ends, one after the interrupt with bytes
// waiting.  The interrupt holds for the rest of the process, so all of it
// is one test.
TEST(StandardInput, ReadsBlockUntilBytesComeAndTheInterruptEndsThem) {
  InputPipe input;
  std::promise<long> first, second, third;
  std::promise<void> thirdMayStart;
  std::string firstBytes;
  std::thread reader([&] {
    char buffer[64];
    const long n = readStandardInput(buffer, sizeof buffer);
    if (n > 0) firstBytes.assign(buffer, (size_t)n);
    first.set_value(n);
    second.set_value(readStandardInput(buffer, sizeof buffer));
    thirdMayStart.get_future().wait();
    third.set_value(readStandardInput(buffer, sizeof buffer));
  });
  std::future<long> firstRead = first.get_future(), secondRead = second.get_future(), thirdRead = third.get_future();

  EXPECT_EQ(firstRead.wait_for(300ms), std::future_status::timeout) << "the read returned without input";
  input.put("isready\n");
  EXPECT_EQ(firstRead.wait_for(10s), std::future_status::ready) << "the read did not return the bytes";

  EXPECT_EQ(secondRead.wait_for(300ms), std::future_status::timeout) << "the read returned without input";
  interruptStandardInput();
  EXPECT_EQ(secondRead.wait_for(10s), std::future_status::ready) << "the interrupt did not end the read";

  input.put("stop\n");
  thirdMayStart.set_value();
  EXPECT_EQ(thirdRead.wait_for(10s), std::future_status::ready) << "a read after the interrupt blocked";

  // After a failure above, the end of input lets the reader finish.
  input.closeWriteEnd();
  reader.join();
  EXPECT_EQ(firstRead.get(), 8);
  EXPECT_EQ(firstBytes, "isready\n");
  EXPECT_EQ(secondRead.get(), -1);
  EXPECT_EQ(thirdRead.get(), -1) << "a read after the interrupt took the bytes waiting";
}

}  // namespace
