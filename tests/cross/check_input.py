#!/usr/bin/env python3
"""How an engine's dialogue ends, and whether its output arrives whole.

Usage: check_input.py --engine "build/orvane" [--console] [--output]

  - the endings: a search that ends by itself but may not answer yet
    (`go ponder depth 2`, `go infinite` in a mated position and in a
    stalemate), then the end of input, "stop" or "ponderhit" followed by
    the end of input: exactly one bestmove (before the end of input when
    the line releases the search), and exit status 0 within 2 s of the end;
  - a pipe held open: " quit" ends the engine with status 0;
  - a pipe closed without "quit": a last line without a line feed is
    carried out and the engine ends with status 0;
  - with --console (the Windows engine under Wine): the engine runs in a
    terminal (a tmux session of its own); "isready" typed there is
    answered, and " quit" (a quit that only the command handler reads, so
    the input thread is back in its console read) ends the engine at once
    with status 0;
  - with --output: 200 "uci" and 5000 "isready" give byte for byte the same
    output through a blocking pipe and through a non-blocking pipe whose
    reader waits 3 s before it reads.
A missing tmux or an engine that does not start is a failure.  Exit status
0 when every check passed.
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

# Time for an engine started under Wine to answer its first line (Wine may
# first set up its prefix), and for it to end after the quit; the engine
# that waited for one more Enter never ends.
START_SECONDS = 120
END_SECONDS = 10

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


class Terminal:
    """A tmux server and session of our own running one command."""

    def __init__(self, command):
        self.socket = f"orvane-input-{os.getpid()}"
        subprocess.run(["tmux", "-L", self.socket, "new-session", "-d", "-s", "engine", "-x", "160", "-y", "50",
                        command], check=True)

    def screen(self):
        result = subprocess.run(["tmux", "-L", self.socket, "capture-pane", "-p", "-t", "engine"],
                                capture_output=True, text=True)
        return result.stdout

    def type(self, text):
        subprocess.run(["tmux", "-L", self.socket, "send-keys", "-t", "engine", "-l", text], check=True)
        subprocess.run(["tmux", "-L", self.socket, "send-keys", "-t", "engine", "Enter"], check=True)

    def wait_for(self, text, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in self.screen():
                return True
            time.sleep(0.05)
        return False

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


def wait_for_file(path, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return True
        time.sleep(0.01)
    return False


def check_console(engine):
    folder = tempfile.mkdtemp(prefix="orvane-console-")
    status_file = os.path.join(folder, "status")
    # The shell records the engine's exit status once the engine has ended.
    command = f"{engine}; echo $? > {shlex.quote(status_file + '.part')}; mv {shlex.quote(status_file + '.part')} " \
              f"{shlex.quote(status_file)}; sleep 600"
    terminal = Terminal(command)
    try:
        if not terminal.wait_for("POPCNT", START_SECONDS) and not terminal.wait_for("Orvane", 1):
            fail(f"console: no banner within {START_SECONDS} s:\n{terminal.screen()}")
            return
        terminal.type("isready")
        if not terminal.wait_for("readyok", START_SECONDS):
            fail(f"console: no readyok:\n{terminal.screen()}")
            return
        start = time.monotonic()
        terminal.type(" quit")
        if not wait_for_file(status_file, END_SECONDS):
            fail(f"console: the engine still runs {END_SECONDS} s after \" quit\"")
            return
        seconds = time.monotonic() - start
        status = open(status_file).read().strip()
        if status != "0":
            fail(f"console: exit status {status} after \" quit\"")
        else:
            print(f"console: \" quit\" ended the engine with status 0 after {seconds * 1000:.0f} ms")
    finally:
        terminal.close()
        shutil.rmtree(folder, ignore_errors=True)


def start_piped(engine):
    return subprocess.Popen(shlex.split(engine), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, bufsize=0)


# What the engine writes until `text` (bytes or a pattern) has come, it
# ends its output, or the time is up.
def read_until(proc, text, seconds):
    deadline = time.monotonic() + seconds
    output = b""
    os.set_blocking(proc.stdout.fileno(), False)
    while time.monotonic() < deadline:
        try:
            chunk = proc.stdout.read()
        except BlockingIOError:
            chunk = None
        if chunk:
            output += chunk
            if text.search(output) if isinstance(text, re.Pattern) else text in output:
                return output
        elif chunk == b"":
            return output
        time.sleep(0.01)
    return output


def wait_exit(proc, seconds):
    try:
        return proc.wait(seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None


def check_pipe_quit(engine):
    proc = start_piped(engine)
    proc.stdin.write(b"isready\r\n")
    if b"readyok" not in read_until(proc, b"readyok", START_SECONDS):
        fail("pipe: no readyok")
        wait_exit(proc, 0)
        return
    start = time.monotonic()
    proc.stdin.write(b" quit\r\n")  # the input stays open
    status = wait_exit(proc, END_SECONDS)
    proc.stdin.close()
    if status is None:
        fail(f"pipe: the engine still ran {END_SECONDS} s after \" quit\"")
    elif status != 0:
        fail(f"pipe: exit status {status} after \" quit\"")
    else:
        print(f"pipe: \" quit\" ended the engine with status 0 after {(time.monotonic() - start) * 1000:.0f} ms")


def check_pipe_closed(engine):
    proc = start_piped(engine)
    proc.stdin.write(b"isready\r\n")
    if b"readyok" not in read_until(proc, b"readyok", START_SECONDS):
        fail("closed pipe: no readyok")
        wait_exit(proc, 0)
        return
    proc.stdin.write(b"isready")  # a last line without a line feed
    proc.stdin.close()
    answered = b"readyok" in read_until(proc, b"readyok", END_SECONDS)
    status = wait_exit(proc, END_SECONDS)
    if not answered:
        fail("closed pipe: the last line without a line feed was not answered")
    if status != 0:
        fail(f"closed pipe: exit status {status} after the end of input")
    elif answered:
        print("closed pipe: the last line was answered and the engine ended with status 0")


# The searches that end by themselves, and the output line that shows it.
SEARCHES = [
    ("go ponder depth 2", "position startpos", re.compile(rb"info depth 2 .* pv ")),
    ("go infinite, mated", "position fen 7k/6Q1/6K1/8/8/8/8/8 b - - 0 1", re.compile(rb"info depth 99 ")),
    ("go infinite, stalemate", "position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", re.compile(rb"info depth 99 ")),
]
# The line sent once the search has ended (None: the input just ends), and
# whether it releases each search (then the bestmove comes before the end).
ENDINGS = [(None, (False, False, False)), (b"stop", (True, True, True)), (b"ponderhit", (True, False, False))]
ANSWER_SECONDS = 2
# Time for a search whose last line is out to reach its wait for release.
SETTLE_SECONDS = 0.5


def check_ending(engine, search_index, ending, released):
    name, position, finished = SEARCHES[search_index]
    label = f"{name}, then {ending.decode() if ending else 'the end of input'}"
    proc = start_piped(engine)
    go = b"go ponder depth 2" if "ponder" in name else b"go infinite"
    proc.stdin.write(b"isready\n")
    output = read_until(proc, b"readyok", START_SECONDS)
    proc.stdin.write(position.encode() + b"\n" + go + b"\n")
    output += read_until(proc, finished, START_SECONDS)
    if not finished.search(output):
        fail(f"{label}: the search did not end by itself: {output[-300:]!r}")
        wait_exit(proc, 0)
        return
    time.sleep(SETTLE_SECONDS)
    if ending:
        proc.stdin.write(ending + b"\n")
        output += read_until(proc, b"bestmove", ANSWER_SECONDS if released else 0.2)
        if (b"bestmove" in output) != released:
            fail(f"{label}: {'no' if released else 'a'} bestmove before the end of input")
    end = time.monotonic()
    proc.stdin.close()
    status = wait_exit(proc, ANSWER_SECONDS)
    seconds = time.monotonic() - end
    output += proc.stdout.read() or b""
    answers = output.count(b"bestmove")
    if status is None or answers != 1:
        fail(f"{label}: {answers} bestmove(s), "
             f"{'still running' if status is None else 'ended'} {ANSWER_SECONDS} s after the end of input")
    elif status != 0:
        fail(f"{label}: exit status {status}")
    else:
        print(f"{label}: one bestmove, status 0 {seconds * 1000:.0f} ms after the end of input")


# The output of many short answers, read through stdout_fd; the reader
# waits `delay` seconds before it reads.
def dialogue_output(engine, make_pipe, delay):
    lines = b"uci\n" * 200 + b"isready\n" * 5000
    read_end, write_end = make_pipe()
    proc = subprocess.Popen(shlex.split(engine), stdin=subprocess.PIPE, stdout=write_end,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    proc.stdin.write(lines)
    proc.stdin.close()
    time.sleep(delay)
    output = b""
    with os.fdopen(read_end, "rb") as reader:
        while chunk := reader.read(65536):
            output += chunk
    wait_exit(proc, END_SECONDS)
    return output


def non_blocking_pipe():
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    return read_end, write_end


def check_output(engine):
    blocking = dialogue_output(engine, os.pipe, 0)
    slow = dialogue_output(engine, non_blocking_pipe, 3)
    if blocking.count(b"uciok") != 200 or blocking.count(b"readyok") != 5000:
        fail(f"output: a blocking pipe got {blocking.count(b'uciok')} uciok and {blocking.count(b'readyok')} readyok")
    elif slow != blocking:
        fail(f"output: a non-blocking pipe read late got {len(slow)} bytes, a blocking one {len(blocking)}")
    else:
        print(f"output: {len(slow)} bytes alike through a blocking pipe and a non-blocking one read late")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True, help="command that starts the engine")
    parser.add_argument("--console", action="store_true", help="also the console checks (tmux)")
    parser.add_argument("--output", action="store_true", help="also the non-blocking output check")
    args = parser.parse_args()
    if args.console and shutil.which("tmux") is None:
        sys.exit("check_input.py needs tmux (apt-get install tmux)")
    for search_index in range(len(SEARCHES)):
        for ending, released in ENDINGS:
            check_ending(args.engine, search_index, ending, released[search_index])
    if args.console:
        check_console(args.engine)
    check_pipe_quit(args.engine)
    check_pipe_closed(args.engine)
    if args.output:
        check_output(args.engine)
    if failures:
        sys.exit(f"{len(failures)} input check(s) failed")
    print("input checks passed")


if __name__ == "__main__":
    main()
