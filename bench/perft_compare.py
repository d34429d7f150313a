#!/usr/bin/env python3
"""Times "go perft N" in two UCI engines in alternating pairs.

    python3 bench/perft_compare.py <base-engine> <new-engine> [pairs] [depth] [fen]

Each engine is started once and kept running; every run sends
"position ..." and waits for "readyok", then times from writing
"go perft N" to reading the "Nodes searched" line, so start-up and table
allocation stay out of the figure.  Both totals must agree.  Prints each
pair, the medians and the median of the per-pair ratios (new / base).
"""
import statistics
import subprocess
import sys
import time


class Engine:
    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.send("uci")
        self.wait_for(lambda line: line == "uciok")

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait_for(self, done):
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("engine ended")
            line = line.strip()
            if done(line):
                return line

    def perft(self, position, depth):
        self.send(position)
        self.send("isready")
        self.wait_for(lambda line: line == "readyok")
        start = time.perf_counter()
        self.send(f"go perft {depth}")
        line = self.wait_for(lambda l: l.startswith("Nodes searched"))
        elapsed = time.perf_counter() - start
        return elapsed, int(line.split(":")[1])

    def close(self):
        self.send("quit")
        self.proc.wait(timeout=10)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    depth = int(sys.argv[4]) if len(sys.argv) > 4 else 6
    position = f"position fen {sys.argv[5]}" if len(sys.argv) > 5 else "position startpos"
    base, new = Engine(sys.argv[1]), Engine(sys.argv[2])
    base_times, new_times, ratios = [], [], []
    for i in range(1, pairs + 1):
        bt, bn = base.perft(position, depth)
        nt, nn = new.perft(position, depth)
        if bn != nn:
            sys.exit(f"totals differ: base {bn}, new {nn}")
        base_times.append(bt)
        new_times.append(nt)
        ratios.append(nt / bt)
        print(f"pair {i}: base {bt:7.3f} s  new {nt:7.3f} s  ratio {nt / bt:.3f}  ({nn} leaves)")
    base.close()
    new.close()
    print(f"median: base {statistics.median(base_times):.3f} s, new {statistics.median(new_times):.3f} s")
    print(f"median ratio (new/base): {statistics.median(ratios):.3f}")


if __name__ == "__main__":
    main()
