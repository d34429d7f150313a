// Standard input of the WebAssembly engines: the host (Node or a page, see
// src/wasm/orvane-host.js) has no file descriptor to hand over, so it
// pushes the bytes it gets into a ring buffer here and the engine reads
// them from it.
//
// One writer (the host's JavaScript thread, through the exported
// orvane_input_* functions) and one reader (the input thread, or the main
// thread of the single-threaded engine).  The writer copies a chunk into
// the staging area, then orvane_input_write moves it into the ring and
// publishes the new end with a release store; the reader takes bytes up to
// that end and publishes its new start the same way.  In the threaded
// engine the reader sleeps on the end's futex and the writer wakes it; the
// single-threaded engine never blocks here (its waiting is in
// hostinput_wasm.cpp) and gets 0 when the ring is empty.
#include <emscripten.h>
#ifdef __EMSCRIPTEN_PTHREADS__
#include <emscripten/threading.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/stdin_reader.h"

namespace {

constexpr uint32_t RingSize = 1 << 16;  // a power of two
constexpr uint32_t StagingSize = 4096;

struct InputRing {
  std::atomic<uint32_t> head{0};    // bytes read so far (reader)
  std::atomic<uint32_t> tail{0};    // bytes written so far (writer); the reader's futex
  std::atomic<int> ended{0};        // the host's input has ended
  std::atomic<int> interrupted{0};  // interruptStandardInput was called
  char bytes[RingSize];
  char staging[StagingSize];
};

InputRing ring;

#ifdef __EMSCRIPTEN_PTHREADS__
void wakeReader() { emscripten_futex_wake(&ring.tail, 1); }
#else
void wakeReader() {}
#endif

}  // namespace

extern "C" {

// Where the host puts a chunk (at most orvane_input_staging_size bytes)
// before calling orvane_input_write.
EMSCRIPTEN_KEEPALIVE char* orvane_input_staging() { return ring.staging; }

// Moves up to `count` staged bytes into the ring: how many were taken (0
// when the ring is full; the host tries the rest again a little later).
EMSCRIPTEN_KEEPALIVE int orvane_input_write(int count) {
  const uint32_t head = ring.head.load(std::memory_order_acquire);
  const uint32_t tail = ring.tail.load(std::memory_order_relaxed);
  uint32_t room = RingSize - (tail - head);
  uint32_t n = (uint32_t)count < room ? (uint32_t)count : room;
  if (n > StagingSize) n = StagingSize;
  for (uint32_t i = 0; i < n; i++) ring.bytes[(tail + i) & (RingSize - 1)] = ring.staging[i];
  ring.tail.store(tail + n, std::memory_order_release);
  if (n > 0) wakeReader();
  return (int)n;
}

// The host's input has ended (Node's standard input closed): once the ring
// is empty, reads answer -1.
EMSCRIPTEN_KEEPALIVE void orvane_input_end() {
  ring.ended.store(1, std::memory_order_release);
  ring.tail.fetch_add(0, std::memory_order_release);
  wakeReader();
}

}  // extern "C"

long readStandardInput(char* buffer, size_t size) {
  const uint32_t head = ring.head.load(std::memory_order_relaxed);
  uint32_t tail = ring.tail.load(std::memory_order_acquire);
  if (tail == head) {
    if (ring.interrupted.load(std::memory_order_relaxed)) return -1;
    if (ring.ended.load(std::memory_order_acquire)) {
      // The end was published after the last byte: look once more.
      tail = ring.tail.load(std::memory_order_acquire);
      if (tail == head) return -1;
    } else {
#ifdef __EMSCRIPTEN_PTHREADS__
      // Sleeps while the end is unchanged; a short timeout keeps a missed
      // wake-up (or an interrupt) from stalling the reader.
      emscripten_futex_wait(&ring.tail, tail, 50.0);
#endif
      return 0;
    }
  }
  uint32_t n = tail - head;
  if (n > size) n = (uint32_t)size;
  for (uint32_t i = 0; i < n; i++) buffer[i] = ring.bytes[(head + i) & (RingSize - 1)];
  ring.head.store(head + n, std::memory_order_release);
  return (long)n;
}

void interruptStandardInput() {
  ring.interrupted.store(1, std::memory_order_relaxed);
  wakeReader();
}
