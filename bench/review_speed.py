#!/usr/bin/env python3
"""Measures orvane-review: positions per second and games per minute at a
fixed depth with --jobs 1 and --jobs 2, for the package's engine (the
default) and for the native one, the medians of a few rounds, and the
scaling from one job to two.  Measured, not checked; prints the load
average before and after, since the machine may be shared.

  review_speed.py --review DIR/node_modules/.bin/orvane-review --native build/orvane
                  [--games 4] [--depth 12] [--rounds 3]"""
import argparse
import os
import re
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--review", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--games", type=int, default=4)
    parser.add_argument("--depth", type=int, default=12)
    parser.add_argument("--rounds", type=int, default=3)
    options = parser.parse_args()
    text = open(os.path.join(HERE, "..", "tests", "data", "review-games.pgn")).read()
    starts = [m.start() for m in re.finditer(r"^\[Event ", text, re.M)] + [len(text)]
    sample = text[:starts[options.games]]
    with tempfile.NamedTemporaryFile("w", suffix=".pgn", delete=False) as file:
        file.write(sample)
    print(f"load average before: {os.getloadavg()[0]:.2f}")
    engines = [("package (orvane-node)", []), ("native", ["--engine", os.path.realpath(options.native)])]
    rates = {}
    for name, engine in engines:
        for jobs in (1, 2):
            runs = []
            for _ in range(options.rounds):
                started = time.monotonic()
                out = subprocess.run([options.review, "--depth", str(options.depth), "--jobs", str(jobs)] + engine
                                     + [file.name], capture_output=True, text=True, check=True)
                seconds = time.monotonic() - started
                positions = sum(int(n) for n in re.findall(r"reviewed \((\d+) positions\)", out.stderr))
                runs.append((positions / seconds, options.games * 60 / seconds))
            pps = statistics.median(r[0] for r in runs)
            gpm = statistics.median(r[1] for r in runs)
            rates[name, jobs] = pps
            print(f"{name}, --jobs {jobs}: {pps:.1f} positions/s, {gpm:.2f} games/min "
                  f"(median of {options.rounds}, {options.games} games of {positions} positions, depth {options.depth})")
        print(f"{name}: --jobs 2 / --jobs 1 = {rates[name, 2] / rates[name, 1]:.2f}x")
    print(f"load average after: {os.getloadavg()[0]:.2f}")
    os.unlink(file.name)


if __name__ == "__main__":
    main()
