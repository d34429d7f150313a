#!/usr/bin/env python3
"""How fast two engines answer commands that arrive on standard input.

Usage: input_latency.py [--tries N] ENGINE_COMMAND ENGINE_COMMAND
  e.g. input_latency.py build/orvane "wine build-windows/orvane.exe"

Each engine is started once (a command is split at blanks) and measured
alternately, so a change of the machine's load falls on both:
  - "isready" -> "readyok" while the engine is idle;
  - "stop" -> "bestmove" while a "go infinite" search runs (the stop is sent
    20 ms after the first report).
Prints the median, the 10th and the 90th percentile of each, in
milliseconds, and the Wine-style difference of the medians (second engine
minus first).
"""
import argparse
import os
import select
import statistics
import subprocess
import sys
import time


class Engine:
    def __init__(self, command):
        self.command = command
        self.proc = subprocess.Popen(command.split(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, bufsize=0)
        self.pending = b""
        self.send("isready")
        self.wait_for(b"readyok", 60)

    def send(self, line):
        self.proc.stdin.write(line.encode() + b"\n")

    # Reads lines until one starts with `prefix`; the time it arrived.
    def wait_for(self, prefix, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                if line.rstrip(b"\r").startswith(prefix):
                    return time.perf_counter()
            left = deadline - time.monotonic()
            if left <= 0:
                sys.exit(f"{self.command}: no line starting with {prefix!r} within {timeout} s")
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
                if not chunk:
                    sys.exit(f"{self.command}: output ended while waiting for {prefix!r}")
                self.pending += chunk

    def isready_ms(self):
        start = time.perf_counter()
        self.send("isready")
        return (self.wait_for(b"readyok") - start) * 1000.0

    def stop_ms(self):
        self.send("position startpos")
        self.send("go infinite")
        self.wait_for(b"info")
        time.sleep(0.02)
        start = time.perf_counter()
        self.send("stop")
        return (self.wait_for(b"bestmove") - start) * 1000.0

    def close(self):
        self.send("quit")
        self.proc.stdin.close()
        self.proc.wait(20)


def summary(values):
    ordered = sorted(values)
    pick = lambda share: ordered[min(len(ordered) - 1, int(share * len(ordered)))]
    return statistics.median(values), pick(0.1), pick(0.9)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tries", type=int, default=100)
    parser.add_argument("engines", nargs=2)
    args = parser.parse_args()
    if args.tries < 1:
        sys.exit("--tries must be at least 1")
    engines = [Engine(command) for command in args.engines]
    results = {(e, kind): [] for e in range(2) for kind in ("isready", "stop")}
    for attempt in range(args.tries):
        order = (0, 1) if attempt % 2 == 0 else (1, 0)
        for e in order:
            results[(e, "isready")].append(engines[e].isready_ms())
        for e in order:
            results[(e, "stop")].append(engines[e].stop_ms())
    for engine in engines:
        engine.close()
    for kind in ("isready", "stop"):
        medians = []
        for e in range(2):
            median, low, high = summary(results[(e, kind)])
            medians.append(median)
            print(f"{kind:8} {args.engines[e]:40} median {median:7.3f} ms  (10%: {low:7.3f}, 90%: {high:7.3f})")
        print(f"{kind:8} second minus first: {medians[1] - medians[0]:+.3f} ms")


if __name__ == "__main__":
    main()
