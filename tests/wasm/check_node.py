#!/usr/bin/env python3
"""Checks what the WebAssembly engines do differently from the native one,
through orvane-node (the threaded engine, and with --single the one
without threads):

    check_node.py --node-engine build-wasm/orvane-node

1. "stop" during "go infinite" is answered with a bestmove within 50 ms
   (the median of three tries), also for a search that runs several
   threads; "isready" during a search is answered within 100 ms.
2. "stop" during a "go perft 7" ends it within 50 ms.
3. A Hash the 32-bit memory cannot hold is answered with information
   lines only and leaves a working table (a search after it answers);
   Threads offers up to the host's processor count (1 without threads) and
   a larger value gets that count.
4. Bad input gets one "info string" line and the engine goes on.

Any failure ends the script with status 1 and says what it was.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "cross"))
from check_engine import Engine, check, failures  # noqa: E402

StopLimit = 0.050


def threads_max(engine):
    engine.send("uci")
    lines = engine.until(lambda l: l == "uciok")
    option = next(l for l in lines if l.startswith("option name Threads "))
    return int(option.split()[-1])


def stop_latency(engine, go):
    """Seconds from "stop" to the answer of a search started with `go`,
    after it has run for a second; also checks isready during a search (a
    perft holds it back until its count is done)."""
    engine.send("position startpos moves e2e4 c7c5 g1f3", go)
    time.sleep(0.5)
    if "perft" not in go:
        sent = time.monotonic()
        engine.send("isready")
        engine.until(lambda l: l == "readyok")
        ready = time.monotonic() - sent
        check(ready < 2 * StopLimit, "isready during %s answered after %.0f ms" % (go, ready * 1000))
    time.sleep(0.5)
    sent = time.monotonic()
    engine.send("stop")
    answer = engine.until(lambda l: l.startswith("bestmove") or l == "info string perft stopped")[-1]
    return time.monotonic() - sent, answer


def median_stop(engine, go, tries=3):
    """The median of a few stop times (a busy machine may leave any one
    process unscheduled for a while); every answer must be a bestmove."""
    times = []
    for _ in range(tries):
        seconds, answer = stop_latency(engine, go)
        check(answer.startswith("bestmove ") and answer != "bestmove 0000", "%s: answer %s" % (go, answer))
        times.append(seconds)
    return sorted(times)[len(times) // 2]


def session(command, single, cores):
    engine = Engine(command)
    most = threads_max(engine)
    check(most == (1 if single else cores), "Threads offers up to %d, the host has %d" % (most, cores))
    engine.send("setoption name OwnBook value false")
    seconds = median_stop(engine, "go infinite")
    print("go infinite: stop answered in %.1f ms (median of 3)" % (seconds * 1000), flush=True)
    check(seconds < StopLimit, "go infinite: stop answered after %.0f ms" % (seconds * 1000))
    seconds, answer = stop_latency(engine, "go perft 7")
    print("go perft 7: stop answered in %.1f ms (%s)" % (seconds * 1000, answer), flush=True)
    check(seconds < StopLimit and answer == "info string perft stopped", "go perft 7: %s after %.0f ms" % (answer, seconds * 1000))
    if not single:
        engine.send("setoption name Threads value %d" % (most + 5))
        lines = engine.sync()
        check(lines == ["info string Threads now set to %d" % most], "Threads %d: %s" % (most + 5, lines))
        seconds = median_stop(engine, "go infinite")
        print("go infinite, %d threads: stop answered in %.1f ms" % (most, seconds * 1000), flush=True)
        check(seconds < StopLimit, "%d threads: stop answered after %.0f ms" % (most, seconds * 1000))

    engine.send("setoption name Hash value 65536")
    lines = engine.sync()
    check(lines and all(l.startswith("info string") for l in lines), "Hash 65536: %s" % lines)
    engine.send("position startpos", "go depth 6")
    check(engine.until(lambda l: l.startswith("bestmove"))[-1] != "bestmove 0000", "no move after Hash 65536")
    engine.send("setoption name Hash value 16")
    engine.sync()

    for bad in ("position fen 8/8/8/8 w - -", "go perft 0", "setoption name Nonsense value 1",
                "position startpos moves e2e5"):
        engine.send(bad)
        lines = engine.sync()
        check(len(lines) == 1 and lines[0].startswith("info string"), "%s: %s" % (bad, lines))
    engine.send("position startpos", "go depth 4")
    engine.until(lambda l: l.startswith("bestmove"))
    engine.finish()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--node-engine", required=True, help="orvane-node")
    args = parser.parse_args()
    command = [os.path.abspath(args.node_engine)]
    cores = os.cpu_count()
    for single in (False, True):
        print("== orvane-node%s" % (" --single" if single else ""), flush=True)
        session(command + (["--single"] if single else []), single, cores)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
