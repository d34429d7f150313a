#include "engine/hostinput.h"

#ifdef ORVANE_INPUT_FROM_HOST
#include <emscripten.h>

#include "engine/input.h"
#include "platform/stdin_reader.h"
#include "search/flags.h"

namespace {

// The longest a search keeps control without handing it to the host: a
// "stop" waits about this long, and each hand-over costs a few
// microseconds of unwinding and rewinding.
constexpr double HandOverMs = 5.0;

double lastHandOver = 0.0;
LineSplitter splitter;
bool inputOver = false;
bool inputStarted = false;

// The host (src/wasm/orvane-host.js) calls the wake-up function it is
// handed when it has written input or ended it.  Both hand-overs are
// Asyncify sleeps whose wake-up the host calls from its own callback, so
// that the engine's exit, which ends in a JavaScript exception, reaches the
// host's handler.
EM_JS(void, waitForHostInput, (), {
  Asyncify.handleSleep(wakeUp => { Module["orvaneResume"] = wakeUp; });
});

// Gives the host's event loop one turn (without the clamped delay of a
// zero timeout) and comes back.
EM_JS(void, handOverToHost, (), {
  Asyncify.handleSleep(wakeUp => Module["orvaneYield"](wakeUp));
});

// Queues what the ring holds; at its end, the last line and the end of
// input, or after "quit", the quit: the same hand-off as the input
// thread's.  Whether anything was read.
bool queueReceivedLines() {
  char buffer[4096];
  bool read = false;
  if (!inputStarted) return false;
  while (!inputOver) {
    const long n = readStandardInput(buffer, sizeof buffer);
    if (n == 0) return read;
    read = true;
    if (n < 0) {
      finishLines(splitter, acceptLine);
      inputOver = true;
      inputEnded.store(1, std::memory_order_release);
      raiseWake();
      return true;
    }
    if (!splitLines(splitter, buffer, (size_t)n, acceptLine)) {
      inputOver = true;
      quitRequested.store(1, std::memory_order_relaxed);
      raiseWake();
      return true;
    }
  }
  return read;
}

}  // namespace

void startHostInput() { inputStarted = true; }

void takeHostInput(bool wait) {
  const double t = emscripten_get_now();
  if (wait) {
    if (queueReceivedLines() || inputOver) return;
    waitForHostInput();
  } else if (t - lastHandOver >= HandOverMs) {
    handOverToHost();
  } else {
    return;
  }
  lastHandOver = emscripten_get_now();
  queueReceivedLines();
}
#endif
