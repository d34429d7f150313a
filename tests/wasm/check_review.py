#!/usr/bin/env python3
"""orvane-review, as installed from the npm package, on a file of 20 games
(tests/data/review-games.pgn), searching with the native engine for speed:
  - --jobs 2 writes exactly what --jobs 1 writes (a node limit);
  - the output reads back through Debian's pgn-extract without a message and
    with the input's moves, and through the package's PGN parser with an
    [%eval] after every move, NAGs and the accuracy comment;
  - a game with an illegal move and one that cannot be parsed, in the
    middle of the file on standard input, are named with their number and
    line, and the other games are written as before, exit status 1;
  - SIGINT during the review leaves the games finished so far, whole and
    in order, valid PGN, exit status 130;
  - with the package's own engine (WebAssembly): a queen left to be taken
    is marked $4 and so is the reply that does not take it, with the capture
    as the better line.

  check_review.py --folder DIR --native build/orvane
(DIR holds node_modules/orvane, installed from the tarball.)"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

PGN_EXTRACT = "/usr/games/pgn-extract"
HERE = os.path.dirname(os.path.abspath(__file__))
GAMES = os.path.join(HERE, "..", "data", "review-games.pgn")

failures = []


def check(condition, what, detail=""):
    print(("ok    " if condition else "FAIL  ") + what + ("" if condition or not detail else f"\n      {detail}"))
    if not condition:
        failures.append(what)


def review(args, tool, stdin=None):
    return subprocess.run([tool] + args, input=stdin, capture_output=True, text=True, timeout=300)


def games_of(text):
    """The games of a PGN text, each from its [Event tag."""
    starts = [m.start() for m in re.finditer(r"^\[Event ", text, re.M)]
    return [text[a:b] for a, b in zip(starts, starts[1:] + [len(text)])]


def moves_of(text):
    """pgn-extract's moves of each game in UCI, and its messages."""
    out = subprocess.run([PGN_EXTRACT, "-s", "-Wuci", "--notags", "-C", "-N", "-V", "-w100000"],
                         input=text, capture_output=True, text=True)
    return [line for line in out.stdout.splitlines() if line.strip()], out.stderr.strip()


def read_back(folder, text):
    """Reads the PGN with the package's parser: per game [moves, moves with an
    [%eval], NAGs, the comment before the first move]."""
    script = r"""
const parser = require('@mliebelt/pgn-parser');
let text = '';
process.stdin.on('data', (c) => { text += c; }).on('end', () => {
  const games = parser.parseGames(text);
  console.log(JSON.stringify(games.map((g) => [g.moves.length,
    g.moves.filter((m) => m.commentDiag && m.commentDiag.eval !== undefined).length,
    g.moves.flatMap((m) => m.nag || []).sort().join(' '), g.gameComment ? g.gameComment.comment : ''])));
});"""
    out = subprocess.run(["node", "-e", script], input=text, capture_output=True, text=True, cwd=folder)
    if out.returncode != 0:
        return None, out.stderr.strip()[-500:]
    import json
    return json.loads(out.stdout), ""


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--native", required=True)
    options = parser.parse_args()
    tool = os.path.join(options.folder, "node_modules", ".bin", "orvane-review")
    native = ["--engine", os.path.realpath(options.native), "--nodes", "1000"]
    for path in (tool, PGN_EXTRACT, GAMES):
        if not os.path.exists(path):
            sys.exit(f"missing {path}")
    text = open(GAMES).read()
    check(len(games_of(text)) == 20, "the test file holds 20 games")

    out = review(["--help"], tool)
    check(out.returncode == 0 and "--jobs" in out.stdout and "--engine" in out.stdout, "--help")
    out = review(["--depth", "x", GAMES], tool)
    check(out.returncode == 2 and "--depth" in out.stderr, "a bad option value: status 2 and a message")

    one = review(native + ["--jobs", "1", GAMES], tool)
    two = review(native + ["--jobs", "2", GAMES], tool)
    check(one.returncode == 0 and two.returncode == 0, "both runs succeed", one.stderr[-300:] + two.stderr[-300:])
    check(one.stdout == two.stdout and len(games_of(one.stdout)) == 20, "--jobs 2 writes what --jobs 1 writes, 20 games")
    check(re.search(r"\[%eval -?\d+\.\d\d\]", one.stdout) and re.search(r"\[%eval #-?[1-9]\d*\]", one.stdout),
          "[%eval] comments in pawns and in mates")
    check(all(tag in one.stdout for tag in ("$6", "$2", "$4")), "NAGs for the three classes")

    before, _ = moves_of(text)
    after, messages = moves_of(one.stdout)
    check(messages == "", "pgn-extract reads the output without a message", messages[:300])
    check(len(before) == 20 and after == before, "pgn-extract finds the input's moves in the output")
    games, error = read_back(options.folder, one.stdout)
    check(games is not None, "the package's parser reads the output back", error)
    if games is not None:
        check(len(games) == 20 and all(g[0] == len(m.split()) - 1 for g, m in zip(games, before)),
              "the parser finds every game with its moves")
        # Every move has an [%eval] but a mate on the board.
        check(all(g[1] in (g[0], g[0] - 1) and g[1] > 0 for g in games), "an [%eval] after every move")
        check(sum(len(g[2].split()) for g in games) == len(re.findall(r"\$[246]\b", one.stdout)) > 0,
              "the parser reads the NAGs")
        check(all(g[3].strip().startswith("Accuracy: White ") for g in games), "each side's accuracy before the first move")

    imported = subprocess.run(["node", "--input-type=module", "-e",
                               "import { winPercent } from 'orvane/review.mjs'; console.log(winPercent({ cp: 0 }))"],
                              capture_output=True, text=True, cwd=options.folder)
    check(imported.stdout.strip() == "50", "import('orvane/review.mjs') in Node", imported.stderr[-300:])

    # Two bad games in the middle, on standard input.
    pieces = games_of(text)
    illegal = '[Event "illegal"]\n\n1. e4 e5 2. Ke3 *\n\n'
    unreadable = '[Event "unreadable"]\n\n1. e4 e5 2. Qxx9 *\n\n'
    bad = "".join(pieces[:10]) + illegal + "".join(pieces[10:15]) + unreadable + "".join(pieces[15:])
    line_of = lambda marker: bad[:bad.index(marker)].count("\n") + 1
    out = review(native + ["--jobs", "2"], tool, stdin=bad)
    check(out.returncode == 1, "bad games give status 1", f"status {out.returncode}")
    check(f"game 11 (line {line_of(illegal)}): move 2. Ke3 cannot be played" in out.stderr,
          "the illegal move is named with the game's number and line", out.stderr[:300])
    check(f"game 17 (line {line_of('2. Qxx9')}):" in out.stderr, "the unreadable game is named with its number and line")
    check(out.stdout == one.stdout, "the other games are written as without the bad ones")

    # SIGINT after three games, while the other job is inside a game.
    process = subprocess.Popen([tool] + native + ["--jobs", "2", GAMES], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    reviewed = 0
    for line in process.stderr:
        reviewed += " reviewed " in line
        if reviewed == 3:
            time.sleep(0.1)
            process.send_signal(signal.SIGINT)
            break
    stdout, stderr = process.communicate(timeout=60)
    finished = games_of(stdout)
    check(process.returncode == 130, "SIGINT: status 130", f"status {process.returncode}; {stderr[-300:]}")
    whole = games_of(one.stdout)
    places = [whole.index(game) if game in whole else -1 for game in finished]
    check(3 <= len(finished) < 20 and -1 not in places and places == sorted(places),
          f"SIGINT: the {len(finished)} finished games are written whole, in order", str(places))
    check(moves_of(stdout)[1] == "", "SIGINT: the output is valid PGN")

    # The package's own engine on a queen left to be taken.
    blunder = '[Event "blunder"]\n\n1. e4 e5 2. Nf3 Qg5 3. d3 *\n'
    out = review(["--depth", "8"], tool, stdin=blunder)
    check(out.returncode == 0, "the package's engine reviews a game", out.stderr[-300:])
    flat = " ".join(out.stdout.split())
    hung = re.search(r"2\.\.\. Qg5 \$4 \{ \[%eval (\d+\.\d\d)\]", flat)
    check(hung is not None and float(hung.group(1)) > 5, "the queen left to be taken is marked $4, White far ahead",
          out.stdout)
    check(re.search(r"3\. d3 \$4 \{[^}]*Nxg5 was best", flat) is not None and "( 3. Nxg5" in flat,
          "the reply that does not take it is marked $4, with the capture as the better line")

    if failures:
        sys.exit(f"{len(failures)} review checks failed")
    print("review checks passed")


if __name__ == "__main__":
    main()
