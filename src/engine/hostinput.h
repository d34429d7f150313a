// Input of the single-threaded WebAssembly engine, which has no input thread.
//
// That engine runs on its host's event loop (Node's, or a Web Worker's in a
// page), and the host can deliver input only while the engine has handed
// control back to it.  So the engine reads its input itself, in place of
// the input thread: the idle wait hands control to the host until input
// comes, and every look at the command queue (the search's clock poll, the
// perft's check for "stop") first hands it over for a moment when the last
// time is a few milliseconds back.  Asyncify unwinds the stack for that
// and rewinds it afterwards; only the functions that can be on the stack
// then are instrumented (src/wasm/asyncify-functions.txt).
#pragma once

#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
#define ORVANE_INPUT_FROM_HOST 1

// Lets takeHostInput read input from now on (where the engine would start
// its input thread): a benchmark run from the command line reads none.
void startHostInput();
// Queues the lines the host has delivered, as the input thread would.
// With `wait` the host has control until some input or its end comes;
// without, it gets control for a moment when the last time is a few
// milliseconds back.
void takeHostInput(bool wait);
#endif
