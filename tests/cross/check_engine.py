#!/usr/bin/env python3
"""Checks a build of Orvane for another system, run through its emulator
(Wine for Windows, qemu-user for ARM64), against the native build.

    check_engine.py --engine "wine build-windows/orvane.exe" --windows-paths \
                    --native build-ci/orvane [--perft-budget N]

1. `bench` prints the native build's signature (both builds must print one).
2. Every line of the perft suites (standard and Chess960) through
   `go perft`, at the deepest depth whose count stays within the budget.
3. One session that plays from a book, finds the tablebases along a
   SyzygyPath of two folders and gives the recorded WDL and DTZ answers,
   saves a hash file, loads it back and writes a log.  For Windows, its
   lines end in CR LF, its file names have drive letters and backslashes,
   and a folder or a device name (NUL, CON, COM1) as each file option is
   refused at once with a reason.
Every line the engine writes is read as bytes and must end exactly as the
system's programs end theirs: CR LF from the Windows build (its standard
output is in text mode, as a Windows GUI expects), LF elsewhere, with no
other CR anywhere.  Some sessions end with "quit", others by closing the
engine's input, and each engine must then exit with status 0.
4. Hash files cross between the two builds: a file saved by either loads in
   the other and is saved back byte for byte.

Any difference ends the script with status 1 and says what it was.
"""
import argparse
import filecmp
import os
import queue
import shlex
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "tests", "data")
SHARED_SYZYGY = os.path.join(os.path.dirname(ROOT), "shared", "syzygy")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return condition


class Engine:
    """An engine process driven line by line, with a deadline on every wait."""

    def __init__(self, command, windows=False):
        # Lines end as the system's programs end them, both ways (CR LF for
        # a Windows build).
        self.ending = "\r\n" if windows else "\n"
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(output_line(raw, self.ending, "the engine's output"))
        self.lines.put(None)

    def send(self, *lines):
        for line in lines:
            self.proc.stdin.write((line + self.ending).encode())
        self.proc.stdin.flush()

    def until(self, stop, timeout=120):
        """Lines up to and including the first one for which stop() holds."""
        seen = []
        while True:
            try:
                line = self.lines.get(timeout=timeout)
            except queue.Empty:
                raise RuntimeError("no answer within %d s after: %s" % (timeout, seen[-3:]))
            if line is None:
                raise RuntimeError("the engine ended early after: %s" % seen[-3:])
            seen.append(line)
            if stop(line):
                return seen

    def sync(self, timeout=120):
        self.send("isready")
        return self.until(lambda l: l == "readyok", timeout)[:-1]

    def finish(self, quit=True, timeout=60):
        """Ends the engine with "quit", or else by closing its input alone;
        either way it must exit with status 0."""
        how = "quit" if quit else "the end of its input"
        if quit:
            self.send("quit")
        self.proc.stdin.close()
        try:
            status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            check(False, "the engine did not end within %d s after %s" % (timeout, how))
            return
        check(status == 0, "the engine ended with status %d after %s" % (status, how))


def output_line(raw, ending, source):
    """One line of output as text, its line end checked: exactly `ending`,
    and no other CR in it."""
    ending = ending.encode()
    body = raw[:-len(ending)] if raw.endswith(ending) else raw
    check(raw.endswith(ending) and b"\r" not in body,
          "%s: %r does not end in %r alone" % (source, raw, ending))
    return body.decode("utf-8", errors="replace")


def engine_path(path, windows):
    """A file name as the engine under test sees it (Wine maps / to Z:)."""
    return "Z:" + path.replace("/", "\\") if windows else path


def signature(command, windows):
    """The node count of the last "Nodes searched" line of `bench`, or None."""
    ending = "\r\n" if windows else "\n"
    out = subprocess.run(command + ["bench"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=1200,
                         cwd=tempfile.gettempdir())
    lines = [output_line(raw, ending, "bench") for raw in out.stdout.splitlines(keepends=True) if raw.startswith(b"Nodes searched:")]
    return lines[-1].split()[-1] if lines else None


def perft_suites(engine, budget):
    checked = 0
    for name, chess960 in (("perft.epd", False), ("perft960.epd", True)):
        engine.send("setoption name UCI_Chess960 value %s" % ("true" if chess960 else "false"))
        with open(os.path.join(DATA, name)) as suite:
            for line in suite:
                fields = [f.strip() for f in line.split(";")]
                if not fields[0]:
                    continue
                counts = [(int(f.split()[0][1:]), int(f.split()[1])) for f in fields[1:]]
                depth, expected = max((c for c in counts if c[1] <= budget), default=counts[0])
                engine.send("position fen " + fields[0], "go perft %d" % depth)
                total = engine.until(lambda l: l.startswith("Nodes searched:"))[-1].split()[-1]
                check(total == str(expected), "%s: perft %d gave %s, not %d" % (fields[0], depth, total, expected))
                checked += 1
    print("perft: %d positions" % checked, flush=True)
    check(checked >= 90, "only %d perft positions were read" % checked)


def tablebase_answers(engine, windows, native_found):
    folders = [os.path.join(DATA, "syzygy"), SHARED_SYZYGY]
    separator = ";" if windows else ":"
    path = separator.join(engine_path(f, windows) for f in folders)
    engine.send("setoption name SyzygyPath value " + path)
    found = [l for l in engine.sync() if l.startswith("info string Found")]
    check(found == [native_found], "SyzygyPath %s: %s, the native build: %s" % (path, found, native_found))
    probes = 0
    with open(os.path.join(DATA, "syzygy-probes.txt")) as answers:
        for line in answers:
            fen, wdl, dtz = [f.strip() for f in line.split(";")]
            engine.send("position fen " + fen, "d")
            lines = engine.sync()
            want = ["Tablebases WDL: " + wdl.split()[1], "Tablebases DTZ: " + dtz.split()[1]]
            got = [l for l in lines if l.startswith("Tablebases")]
            check(got == want, "%s: %s, recorded %s" % (fen, got, want))
            probes += 1
    print("tablebases: %s, %d probes" % (found, probes), flush=True)
    check(probes >= 500, "only %d probes were read" % probes)


def refused_names(engine, scratch):
    """A folder or a device name as any file option: one line saying why,
    and the next readyok at once."""
    for name in (scratch.replace("/", "\\"), "NUL", "CON", "COM1", "nul.txt"):
        name = "Z:" + name if name.startswith("\\") else name
        for option, refusal in (("Log File", "info string Log file %s not opened: "),
                                ("Book File", "info string Book file %s not opened: "),
                                ("Hash File Name", "info string failed to open %s (")):
            engine.send("setoption name %s value %s" % (option, name))
            if option == "Hash File Name":
                engine.send("setoption name Save Hash to File")
            started = time.monotonic()
            lines = [l for l in engine.sync() if not l.startswith("info string Book file is")]
            check(len(lines) == 1 and lines[0].startswith(refusal % name) and time.monotonic() - started < 5,
                  "%s as %s: %s" % (name, option, lines))
    engine.send("setoption name Log File value <empty>", "setoption name Book File value <empty>")
    engine.sync()


def session(command, windows, native_found, scratch):
    engine = Engine(command, windows)
    log = os.path.join(scratch, "session.log")
    engine.send("uci")
    engine.until(lambda l: l == "uciok")
    engine.send("setoption name Log File value " + engine_path(log, windows),
                "setoption name Book File value " + engine_path(os.path.join(DATA, "book-slice.bin"), windows),
                "position startpos", "go depth 6")
    lines = engine.until(lambda l: l.startswith("bestmove"))
    check("Found entry or entries" in lines, "no book move from the start: %s" % lines[-3:])
    tablebase_answers(engine, windows, native_found)
    if windows:
        refused_names(engine, scratch)
        engine.send("setoption name Log File value " + engine_path(log, windows))

    saved, again = os.path.join(scratch, "first.hash"), os.path.join(scratch, "again.hash")
    engine.send("setoption name Hash value 4", "setoption name Book File value <empty>", "position startpos",
                "go depth 9")
    engine.until(lambda l: l.startswith("bestmove"))
    engine.send("setoption name Hash File Name value " + engine_path(saved, windows), "setoption name Save Hash to File",
                "setoption name Clear Hash", "setoption name Load Hash from File",
                "setoption name Hash File Name value " + engine_path(again, windows), "setoption name Save Hash to File")
    lines = engine.sync()
    check(lines.count("info string Hash Saved") == 2 and "info string Hash Loaded" in lines, "hash file: %s" % lines)
    check(os.path.getsize(saved) == 4 << 20 and filecmp.cmp(saved, again, shallow=False),
          "the reloaded table was not saved back byte for byte")
    engine.finish()
    with open(log, errors="replace") as text:
        check("uci inp: setoption name Save Hash to File" in text.read(), "the log misses the session's input")


def reload_and_save(command, windows, source, target):
    engine = Engine(command, windows)
    engine.send("setoption name Hash value 4", "setoption name Hash File Name value " + engine_path(source, windows),
                "setoption name Load Hash from File",
                "setoption name Hash File Name value " + engine_path(target, windows), "setoption name Save Hash to File")
    lines = engine.sync()
    engine.finish(quit=False)
    return "info string Hash Loaded" in lines and filecmp.cmp(source, target, shallow=False)


def crossed_hash_files(command, windows, native, scratch):
    """Each build's file loads in the other and is saved back unchanged."""
    for maker, maker_windows, reader, reader_windows, name in (
            (native, False, command, windows, "native-to-target"), (command, windows, native, False, "target-to-native")):
        source, target = os.path.join(scratch, name + ".hash"), os.path.join(scratch, name + ".back")
        engine = Engine(maker, maker_windows)
        engine.send("setoption name Hash value 4", "position startpos moves e2e4", "go depth 9")
        engine.until(lambda l: l.startswith("bestmove"))
        engine.send("setoption name Hash File Name value " + engine_path(source, maker_windows),
                    "setoption name Save Hash to File")
        engine.sync()
        engine.finish()
        check(reload_and_save(reader, reader_windows, source, target), "hash file " + name + " did not cross unchanged")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True, help="command that runs the engine under test")
    parser.add_argument("--native", required=True, help="the native build, for the signature and the hash files")
    parser.add_argument("--windows-paths", action="store_true", help="the engine takes Windows file names")
    parser.add_argument("--perft-budget", type=int, default=5000000, help="most leaves counted per position")
    args = parser.parse_args()
    # Words that name files here are made absolute: bench runs elsewhere.
    command = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.engine)]
    native = [os.path.abspath(args.native)]

    expected, got = signature(native, False), signature(command, args.windows_paths)
    print("bench: Nodes searched: %s (native %s)" % (got, expected), flush=True)
    check(got is not None and got == expected, "bench signature %s, native %s" % (got, expected))

    engine = Engine(command, args.windows_paths)
    perft_suites(engine, args.perft_budget)
    engine.finish(quit=False)

    reference = Engine(native)
    reference.send("setoption name SyzygyPath value " + ":".join([os.path.join(DATA, "syzygy"), SHARED_SYZYGY]))
    native_found = next(l for l in reference.sync() if l.startswith("info string Found"))
    reference.finish()
    with tempfile.TemporaryDirectory() as scratch:
        session(command, args.windows_paths, native_found, scratch)
        crossed_hash_files(command, args.windows_paths, native, scratch)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
