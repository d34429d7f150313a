#!/usr/bin/env python3
"""Move accuracy and blunders per game of each player in match PGNs.

Judges every move of the games that ../shared/tools/match.py wrote (--pgn)
with the full-strength engine at a fixed depth, the way lichess counts:

  Win%     = 50 + 50 * (2 / (1 + exp(-0.00368208 * cp)) - 1)   (mover's view)
  drop     = Win% before the move - Win% after it (at least 0)
  accuracy = 103.1668 * exp(-0.04354 * drop) - 3.1669, within 0..100
  blunder  = a move whose drop is 15 or more

Each position of a game is searched once ("go depth D"); the score of the
next position, negated, is the mover's score after the move.  Mate scores
count as +-10000 cp.  SAN is read through match.py's rules referee (Debian's
stockfish), so no chess library is needed.  Prints one row per player name:

  bench/level_accuracy.py --depth 10 build/cal/*.pgn

Players of a game meet different opponents, and a strong opponent makes
hard positions.  With --levels, every level instead answers the same
positions (every --every-th position of the games, at a 10+0.1 clock of the
middle game); each answer is judged as above, and a game's blunders are
those of the games' mean number of moves a side:

  bench/level_accuracy.py --depth 8 --levels 800,1000,1200,1400,1800,2200,2600,2850 games/*.pgn
"""
import argparse
import math
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "..", "shared", "tools"))
import match  # noqa: E402  (the referee and the SAN writer of the match tool)

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
MATE_CP = 10000
BLUNDER_DROP = 15.0


def win_percent(cp):
    cp = max(-MATE_CP, min(MATE_CP, cp))
    return 50 + 50 * (2 / (1 + math.exp(-0.00368208 * cp)) - 1)


def move_accuracy(drop):
    return max(0.0, min(100.0, 103.1668 * math.exp(-0.04354 * drop) - 3.1669))


def read_games(path):
    """(tags, SAN moves) of every game of a PGN file."""
    games, tags, text = [], {}, []
    with open(path) as f:
        lines = f.read().splitlines() + ["[End \"\"]"]
    for line in lines:
        if line.startswith("["):
            if text:
                games.append((tags, san_moves(" ".join(text))))
                tags, text = {}, []
            m = re.match(r'\[(\w+) "(.*)"\]', line)
            if m:
                tags[m.group(1)] = m.group(2)
        elif line.strip():
            text.append(line)
    return games


def san_moves(movetext):
    movetext = re.sub(r"\{[^}]*\}", " ", movetext)
    moves = []
    for token in movetext.split():
        if re.match(r"^\d+\.+$", token) or token in ("1-0", "0-1", "1/2-1/2", "*"):
            continue
        token = re.sub(r"^\d+\.+", "", token)
        if token:
            moves.append(token)
    return moves


class Judge:
    """The full-strength engine searching positions to a fixed depth."""

    def __init__(self, engine, depth):
        self.depth = depth
        self.p = subprocess.Popen([engine], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.send("uci\nsetoption name OwnBook value false\nsetoption name Hash value 64\nisready")
        self.wait("readyok")

    def send(self, text):
        self.p.stdin.write(text + "\n")
        self.p.stdin.flush()

    def wait(self, word):
        while True:
            line = self.p.stdout.readline()
            if not line:
                sys.exit("the judging engine ended")
            if line.split()[:1] == [word]:
                return line

    def new_game(self):
        self.send("ucinewgame\nisready")
        self.wait("readyok")

    def score(self, fen):
        """Centipawns for the side to move."""
        self.send("position fen %s\ngo depth %d" % (fen, self.depth))
        score = 0
        while True:
            line = self.p.stdout.readline()
            if not line:
                sys.exit("the judging engine ended")
            words = line.split()
            if words[:1] == ["bestmove"]:
                return score
            if "score" in words:
                i = words.index("score")
                value = int(words[i + 2])
                score = value if words[i + 1] == "cp" else (MATE_CP if value > 0 else -MATE_CP)


def to_uci(pos, san):
    """The legal move of pos written as san (check marks ignored)."""
    want = san.rstrip("+#!?")
    plain = type("After", (), {"in_check": False, "legal": ["x"]})()
    for uci in pos.legal:
        if match.move_to_san(pos, uci, plain) == want:
            return uci
    raise ValueError("no legal move %s in %s" % (san, pos.fen))


def judge_game(tags, moves, judge, oracle, stats):
    pos = oracle.query(tags.get("FEN", START))
    judge.new_game()
    positions = [pos]
    for san in moves:
        pos = oracle.query(pos.fen, to_uci(pos, san))
        positions.append(pos)
    scores = []
    for p in positions:
        if not p.legal:  # mate or stalemate ends the game
            scores.append(-MATE_CP if p.in_check else 0)
        else:
            scores.append(judge.score(p.fen))
    for i in range(len(moves)):
        mover = tags["White"] if positions[i].stm == "w" else tags["Black"]
        drop = max(0.0, win_percent(scores[i]) - win_percent(-scores[i + 1]))
        s = stats.setdefault(mover, {"moves": 0, "accuracy": 0.0, "blunders": 0, "games": 0})
        s["moves"] += 1
        s["accuracy"] += move_accuracy(drop)
        s["blunders"] += drop >= BLUNDER_DROP
    for player in (tags["White"], tags["Black"]):
        stats.setdefault(player, {"moves": 0, "accuracy": 0.0, "blunders": 0, "games": 0})["games"] += 1


class Level(Judge):
    """The engine at one level, answering one position at a time."""

    def __init__(self, engine, elo):
        self.p = subprocess.Popen([engine], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.send("uci\nsetoption name OwnBook value false\nsetoption name Hash value 16\n"
                  "setoption name UCI_LimitStrength value %s\nsetoption name UCI_Elo value %d\nisready"
                  % ("true" if elo < 2850 else "false", elo))
        self.wait("readyok")

    def answer(self, fen):
        self.send("ucinewgame\nposition fen %s\ngo wtime 8000 btime 8000 winc 100 binc 100" % fen)
        return self.wait("bestmove").split()[1]


def judge_levels(args, judge, oracle):
    """Every level's answers to the same positions, judged."""
    positions, sides = [], []
    for path in args.pgn:
        for tags, moves in read_games(path):
            pos = oracle.query(tags.get("FEN", START))
            for i, san in enumerate(moves):
                if i % args.every == 0 and pos.legal:
                    positions.append(pos)
                pos = oracle.query(pos.fen, to_uci(pos, san))
            sides.append(len(moves) / 2)
    if not positions:
        sys.exit("no positions in " + " ".join(args.pgn))
    per_game = sum(sides) / len(sides)
    before = [judge.score(p.fen) for p in positions]
    print("%d positions; a game is %.0f moves a side" % (len(positions), per_game))
    print("| level | mean accuracy | blunders per game |")
    print("|---|---|---|")
    for elo in (int(e) for e in args.levels.split(",")):
        player = Level(args.engine, elo)
        accuracy, blunders = 0.0, 0
        for pos, score in zip(positions, before):
            after = oracle.query(pos.fen, player.answer(pos.fen))
            after_score = (-MATE_CP if after.in_check else 0) if not after.legal else judge.score(after.fen)
            drop = max(0.0, win_percent(score) - win_percent(-after_score))
            accuracy += move_accuracy(drop)
            blunders += drop >= BLUNDER_DROP
        player.send("quit")
        print("| %s | %.1f %% | %.2f |" % (elo if elo < 2850 else "full strength", accuracy / len(positions),
                                           blunders / len(positions) * per_game), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("pgn", nargs="+")
    parser.add_argument("--engine", default=os.path.join(ROOT, "build", "orvane"))
    parser.add_argument("--depth", type=int, default=10)
    parser.add_argument("--levels", help="comma-separated UCI_Elo values that answer the same positions")
    parser.add_argument("--every", type=int, default=4, help="with --levels: take every n-th position")
    args = parser.parse_args()
    judge = Judge(args.engine, args.depth)
    oracle = match.Oracle(match.DEFAULT_ORACLE if hasattr(match, "DEFAULT_ORACLE") else "/usr/games/stockfish")
    oracle.start()
    if args.levels:
        judge_levels(args, judge, oracle)
        judge.send("quit")
        oracle.close()
        return
    stats = {}
    games = 0
    for path in args.pgn:
        for tags, moves in read_games(path):
            judge_game(tags, moves, judge, oracle, stats)
            games += 1
    if games == 0:
        sys.exit("no games in " + " ".join(args.pgn))
    print("| player | games | moves | mean accuracy | blunders per game |")
    print("|---|---|---|---|---|")
    for name in sorted(stats):
        s = stats[name]
        n = s["games"]
        if s["moves"] == 0:
            continue
        print("| %s | %d | %d | %.1f %% | %.2f |" % (name, n, s["moves"], s["accuracy"] / s["moves"], s["blunders"] / n))
    judge.send("quit")
    oracle.close()


if __name__ == "__main__":
    main()
