#!/usr/bin/env python3
"""Checks the Windows build's files past the limits of 32 bits and its
Windows folder names, run under Wine:

    check_files.py --engine "wine build-windows/orvane.exe" [--scratch DIR]

1. A sparse book of more than 4 GiB, its real entries (tests/data/book-slice.bin)
   after 4 GiB + 16 bytes of zero entries: the start position and the
   position after 1.e4 are answered from the book with one of their book
   moves.
2. A SyzygyPath of "\\\\?\\" folders finds as many tables as the same folders
   written plainly, and a probe through them gives the recorded answer; so
   does a "\\\\?\\" folder whose name is longer than 260 characters.
3. Hash 2048: after a search the table is saved, loaded back and saved
   again under a second name; both saves and the load report success and
   the two files (2 GiB each) are equal byte for byte.  They are compared
   piece by piece and deleted afterwards.

Any difference ends the script with status 1 and says what it was; so does
a scratch folder without room for the hash files.
"""
import argparse
import os
import shlex
import shutil
import sys
import tempfile

from check_engine import Engine as WindowsEngine, check, failures

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "tests", "data")
SHARED_SYZYGY = os.path.join(os.path.dirname(ROOT), "shared", "syzygy")
HASH_BYTES = 2048 << 20


def Engine(command):
    """The engine under test, driven line by line as a Windows GUI drives
    it (CR LF both ways, checked), with a deadline on every wait."""
    return WindowsEngine(command, windows=True)


def windows_path(path):
    """A file name as the engine under Wine sees it (Wine's drive Z: is /)."""
    return "Z:" + path.replace("/", "\\")


def book_moves():
    """The book moves of the listed positions, by FEN."""
    moves = {}
    with open(os.path.join(DATA, "book-expected.txt")) as listed:
        for line in listed:
            fields = [f.strip() for f in line.split(";")]
            moves[fields[0]] = [m.split(":")[0] for m in fields[3].split()[1:]]
    return moves


def large_book(command, scratch):
    path = os.path.join(scratch, "large-book.bin")
    with open(os.path.join(DATA, "book-slice.bin"), "rb") as slice_file:
        entries = slice_file.read()
    check(len(entries) > 100000, "book-slice.bin holds only %d bytes" % len(entries))
    with open(path, "wb") as book:
        book.seek((1 << 32) + 16)  # leaves a hole: zero entries, key 0 sorting first
        book.write(entries)
    moves = book_moves()
    engine = Engine(command)
    engine.send("setoption name Book File value " + windows_path(path))
    for position, fen in (("startpos", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"),
                          ("startpos moves e2e4", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1")):
        engine.send("position " + position, "go depth 5")
        lines = engine.until(lambda l: l.startswith("bestmove"))
        best = lines[-1].split()[1]
        check("Found entry or entries" in lines and best in moves.get(fen, []),
              "book past 4 GiB, %s: bestmove %s, book moves %s, lines %s" % (position, best, moves.get(fen), lines[-4:]))
    engine.finish()
    os.remove(path)
    print("book past 4 GiB: %s" % ("failed" if failures else "both positions answered from the book"), flush=True)


def long_syzygy_path(command, scratch):
    folders = [os.path.join(DATA, "syzygy"), SHARED_SYZYGY]
    with open(os.path.join(DATA, "syzygy-probes.txt")) as answers:
        fen, wdl, dtz = [f.strip() for f in answers.readline().split(";")]
    found = {}
    for kind, prefix in (("plain", ""), ("\\\\?\\", "\\\\?\\")):
        engine = Engine(command)
        path = ";".join(prefix + windows_path(f) for f in folders)
        engine.send("setoption name SyzygyPath value " + path)
        found[kind] = [l for l in engine.sync() if l.startswith("info string Found")]
        engine.send("position fen " + fen, "d")
        got = [l for l in engine.sync() if l.startswith("Tablebases")]
        want = ["Tablebases WDL: " + wdl.split()[1], "Tablebases DTZ: " + dtz.split()[1]]
        check(got == want, "SyzygyPath %s, %s: %s, recorded %s" % (path, fen, got, want))
        engine.finish()
    check(len(found["plain"]) == 1 and "Found 0 " not in found["plain"][0] and found["plain"] == found["\\\\?\\"],
          "SyzygyPath with \\\\?\\ folders: %s, plainly: %s" % (found["\\\\?\\"], found["plain"]))
    # A "\\\\?\\" folder longer than the 260 characters of plain names (a
    # link to tests/data/syzygy at the end of a long chain of folders) finds
    # what the folder finds under its own name.
    chain = os.path.join(scratch, *(["folder-of-a-long-name-%02d" % i for i in range(12)]))
    os.makedirs(chain)
    long_folder = os.path.join(chain, "syzygy")
    os.symlink(folders[0], long_folder)
    for kind, path in (("short", windows_path(folders[0])), ("long", "\\\\?\\" + windows_path(long_folder))):
        engine = Engine(command)
        engine.send("setoption name SyzygyPath value " + path)
        found[kind] = [l for l in engine.sync() if l.startswith("info string Found")]
        engine.finish()
    check(len(long_folder) > 300 and len(found["short"]) == 1 and "Found 0 " not in found["short"][0]
          and found["long"] == found["short"],
          "SyzygyPath of a \\\\?\\ folder of %d characters: %s, under a short name: %s"
          % (len(long_folder), found["long"], found["short"]))
    print("\\\\?\\ SyzygyPath: %s, plainly: %s; a long \\\\?\\ folder: %s" % (found["\\\\?\\"], found["plain"], found["long"]), flush=True)


def same_bytes(first, second, piece=16 << 20):
    with open(first, "rb") as a, open(second, "rb") as b:
        while True:
            x, y = a.read(piece), b.read(piece)
            if x != y:
                return False
            if not x:
                return True


def large_hash_file(command, scratch):
    failed_before = len(failures)
    free = shutil.disk_usage(scratch).free
    if not check(free > 2 * HASH_BYTES + (1 << 30), "%s has %d MiB free, too few for two hash files of 2 GiB"
                 % (scratch, free >> 20)):
        return
    saved, again = os.path.join(scratch, "large.hash"), os.path.join(scratch, "large-again.hash")
    engine = Engine(command)
    engine.send("setoption name Hash value 2048", "position startpos", "go depth 10")
    engine.until(lambda l: l.startswith("bestmove"), timeout=300)
    engine.send("setoption name Hash File Name value " + windows_path(saved), "setoption name Save Hash to File",
                "setoption name Load Hash from File",
                "setoption name Hash File Name value " + windows_path(again), "setoption name Save Hash to File")
    lines = [l for l in engine.sync(timeout=900) if l.startswith("info string")]
    engine.finish()
    outcomes = [l for l in lines if "%" not in l]
    check(outcomes == ["info string Saving Hash", "info string Hash Saved",
                       "info string Loading Hash from " + windows_path(saved), "info string Hash Loaded",
                       "info string Saving Hash", "info string Hash Saved"], "Hash 2048 save and load: %s" % outcomes)
    sizes = [os.path.getsize(p) if os.path.exists(p) else -1 for p in (saved, again)]
    check(sizes == [HASH_BYTES, HASH_BYTES] and same_bytes(saved, again),
          "Hash 2048 files of %s bytes, not saved back byte for byte" % sizes)
    for path in (saved, again):
        if os.path.exists(path):
            os.remove(path)
    if len(failures) == failed_before:
        print("Hash 2048: saved, loaded and saved back (%d bytes)" % HASH_BYTES, flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True, help="command that runs the Windows engine")
    parser.add_argument("--scratch", default=None, help="folder for the large files (default: the system's)")
    args = parser.parse_args()
    command = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.engine)]
    with tempfile.TemporaryDirectory(dir=args.scratch) as scratch:
        try:
            large_book(command, scratch)
            long_syzygy_path(command, scratch)
            large_hash_file(command, scratch)
        except RuntimeError as error:
            check(False, str(error))
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all file checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
