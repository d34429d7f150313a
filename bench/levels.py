#!/usr/bin/env python3
"""Calibrates Orvane's playing levels (UCI_LimitStrength / UCI_Elo).

Each run is one match played by ../shared/tools/match.py at 10+0.1, one
thread per engine, from the balanced openings (each played with both
colours):

  sf:E      Orvane at UCI_Elo E against Debian's stockfish at UCI_Elo E
            (its scale starts at 1350); the level holds when Orvane scores
            36-64 %.
  self:A:B  Orvane at UCI_Elo A against Orvane at UCI_Elo B (levels below
            stockfish's scale, and monotony); A = B - 200 should score
            15-35 %.

Prints one table row per run (W/D/L, score, Elo with its 95 % interval)
and, with --pgn-dir, keeps each run's games for bench/level_accuracy.py.

  bench/levels.py --games 100 sf:1400 sf:1800 sf:2200 sf:2600 self:800:1000
"""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TOOLS = os.path.join(ROOT, "..", "shared", "tools")
STOCKFISH = "/usr/games/stockfish"

SUMMARY = re.compile(r"W (\d+)\s+D (\d+)\s+L (\d+)\s+score ([\d.]+)%")
ELO = re.compile(r"Elo difference: ([-+\d.inf]+) \+/- ([\d.inf]+)")


def level_options(elo):
    return ["UCI_LimitStrength=true", "UCI_Elo=%d" % elo]


def run_match(args, run):
    parts = run.split(":")
    cmd = [sys.executable, os.path.join(TOOLS, "match.py"), "--engine1", args.engine, "--games", str(args.games),
           "--tc", args.tc, "--concurrency", str(args.concurrency), "--openings",
           os.path.join(TOOLS, "openings.epd"), "--seed", str(args.seed), "--margin", str(args.margin)]
    orvane = ["Hash=16", "Threads=1", "OwnBook=false"]
    if parts[0] == "sf" and len(parts) == 2:
        elo = int(parts[1])
        cmd += ["--engine2", STOCKFISH, "--name1", "orvane-%d" % elo, "--name2", "stockfish-%d" % elo,
                "--option1"] + orvane + level_options(elo) + ["--option2", "Hash=16", "Threads=1"] + level_options(elo)
    elif parts[0] == "self" and len(parts) == 3:
        low, high = int(parts[1]), int(parts[2])
        cmd += ["--engine2", args.engine, "--name1", "orvane-%d" % low, "--name2", "orvane-%d" % high,
                "--option1"] + orvane + level_options(low) + ["--option2"] + orvane + level_options(high)
    else:
        sys.exit("bad run %r: use sf:E or self:A:B" % run)
    if args.pgn_dir:
        os.makedirs(args.pgn_dir, exist_ok=True)
        cmd += ["--pgn", os.path.join(args.pgn_dir, run.replace(":", "-") + ".pgn")]
    out = subprocess.run(cmd, capture_output=True, text=True)
    if args.verbose:
        sys.stderr.write(out.stdout + out.stderr)
    summary = SUMMARY.search(out.stdout)
    elo = ELO.search(out.stdout)
    if out.returncode != 0 or not summary or not elo:
        sys.exit("match %s failed (status %d):\n%s%s" % (run, out.returncode, out.stdout[-2000:], out.stderr[-2000:]))
    w, d, l = (int(summary.group(i)) for i in (1, 2, 3))
    return w, d, l, float(summary.group(4)), elo.group(1), elo.group(2)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("runs", nargs="+", help="sf:E or self:A:B")
    parser.add_argument("--engine", default=os.path.join(ROOT, "build", "orvane"))
    parser.add_argument("--games", type=int, default=100)
    parser.add_argument("--tc", default="10+0.1")
    parser.add_argument("--concurrency", type=int, default=1)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--margin", type=int, default=50, help="ms a move may overrun (busy machine)")
    parser.add_argument("--pgn-dir", help="keep each run's games here")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    if not os.access(STOCKFISH, os.X_OK):
        sys.exit("needs Debian's stockfish at %s (apt-get install stockfish)" % STOCKFISH)
    print("| run | games | W | D | L | score | Elo (95 %) |")
    print("|---|---|---|---|---|---|---|")
    for run in args.runs:
        w, d, l, score, elo, margin = run_match(args, run)
        print("| %s | %d | %d | %d | %d | %.1f %% | %s +/- %s |" % (run, w + d + l, w, d, l, score, elo, margin),
              flush=True)


if __name__ == "__main__":
    main()
