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
5. With --asyncify-graph (the call graph, from wasm-opt --print-call-graph,
   of the single-threaded engine built without optimisation, so no
   function is folded into another): every function that can be on the
   stack when the engine hands control to its host is in
   src/wasm/asyncify-functions.txt.  Those are the callers, direct and
   through other callers, of the two hand-over imports and of the
   functions that call the front end's hooks (the list's "hook caller"
   lines, each of which must be in the graph).

Any failure ends the script with status 1 and says what it was.
"""
import argparse
import os
import re
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


HandOverImports = ("waitForHostInput", "handOverToHost")


def asyncify_patterns(list_file):
    """The list's names as patterns, and its hook callers."""
    patterns, hook_callers = [], []
    for line in open(list_file):
        line = line.strip()
        if line.startswith("# hook caller: "):
            hook_callers.append(line[len("# hook caller: "):])
        elif line and not line.startswith("#"):
            patterns.append(re.compile(re.escape(line).replace(r"\*", ".*") + "$"))
    return patterns, hook_callers


def check_asyncify_list(graph_file, list_file):
    patterns, hook_callers = asyncify_patterns(list_file)
    unescape = lambda name: re.sub(r"\\([0-9a-f]{2})", lambda m: chr(int(m.group(1), 16)), name)
    callers = {}
    names = set()
    for line in open(graph_file):
        edge = re.match(r'\s*"(.*)" -> "(.*)"; // call', line)
        node = re.match(r'\s*"(.*)" \[', line)
        if edge:
            caller, callee = unescape(edge.group(1)), unescape(edge.group(2))
            callers.setdefault(callee, set()).add(caller)
            names.update((caller, callee))
        elif node:
            names.add(unescape(node.group(1)))
    listed = lambda name: any(p.match(name) for p in patterns)
    starts = list(HandOverImports)
    for hook_caller in hook_callers:
        pattern = re.compile(re.escape(hook_caller).replace(r"\*", ".*") + "$")
        found = [n for n in names if pattern.match(n)]
        check(found, "hook caller %s is not in the call graph" % hook_caller)
        starts += found
    for name in HandOverImports:
        check(name in callers, "the import %s has no caller in the call graph" % name)
    reached, todo = set(), list(starts)
    while todo:
        name = todo.pop()
        if name in reached:
            continue
        reached.add(name)
        todo += callers.get(name, ())
    missing = sorted(n for n in reached - set(HandOverImports) if not listed(n))
    check(not missing, "can hand control to the host but not listed in %s: %s" % (list_file, missing))
    print("asyncify list: %d functions can be on the stack at a hand-over, %d not listed"
          % (len(reached) - len(HandOverImports), len(missing)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--node-engine", help="orvane-node")
    parser.add_argument("--asyncify-graph", help="call graph of the unoptimised single-threaded engine")
    parser.add_argument("--asyncify-list", default="src/wasm/asyncify-functions.txt")
    args = parser.parse_args()
    if args.asyncify_graph:
        check_asyncify_list(args.asyncify_graph, args.asyncify_list)
        return 1 if failures else 0
    if not args.node_engine:
        parser.error("--node-engine or --asyncify-graph is needed")
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
