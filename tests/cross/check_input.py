#!/usr/bin/env python3
"""How the Windows engine's dialogue ends under Wine, on each kind of input.

Usage: check_input.py --engine "wine build-cross-windows/orvane.exe"

  - a console: the engine runs in a terminal (a tmux session of its own);
    "isready" typed there is answered, and " quit" (a quit that only the
    command handler reads, so the input thread is back in its console read)
    ends the engine at once with status 0;
  - a pipe held open: " quit" ends the engine with status 0;
  - a pipe closed without "quit": a last line without a line feed is
    carried out and the engine ends with status 0.
A missing tmux or an engine that does not start is a failure.  Exit status
0 when every check passed.
"""
import argparse
import os
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
            if text in output:
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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True, help="command that starts the engine")
    args = parser.parse_args()
    if shutil.which("tmux") is None:
        sys.exit("check_input.py needs tmux (apt-get install tmux)")
    check_console(args.engine)
    check_pipe_quit(args.engine)
    check_pipe_closed(args.engine)
    if failures:
        sys.exit(f"{len(failures)} input check(s) failed")
    print("input checks passed")


if __name__ == "__main__":
    main()
