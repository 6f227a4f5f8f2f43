"""Runs a command on a pseudo-terminal of a given width and keeps every byte it shows there.

  run_in_terminal.py [--cols N] [--interrupt-after PATTERN] [--term NAME] TRANSCRIPT -- COMMAND...

The command's stdin, stdout and stderr are the terminal unless COMMAND redirects them (run it
through bash -c for that). With --interrupt-after, Ctrl-C is typed on the terminal, as a user
would, once text matching the regular expression PATTERN has been shown; the terminal driver then sends SIGINT to the command.
The transcript is the raw bytes the terminal received, escape codes and carriage returns
included. Exits with the command's exit status (128 + N when a signal N ended it).
"""
import argparse
import fcntl
import os
import re
import select
import signal
import struct
import sys
import termios
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cols", type=int, default=80)
    parser.add_argument("--interrupt-after")
    parser.add_argument("--term")
    parser.add_argument("transcript")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    env = dict(os.environ)
    if args.term is not None:
        env["TERM"] = args.term
    # The width must come from the terminal, not from the environment of the test.
    env.pop("COLUMNS", None)

    # The width is set before the command starts, so that its first look finds it.
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, args.cols, 0, 0))
    pid = os.fork()
    if pid == 0:
        os.close(master)
        os.setsid()
        fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
        for fd in (0, 1, 2):
            os.dup2(slave, fd)
        if slave > 2:
            os.close(slave)
        os.execvpe(command[0], command, env)
    os.close(slave)

    shown = bytearray()
    interrupted = args.interrupt_after is None
    deadline = time.monotonic() + 240
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                data = os.read(master, 65536)
            except OSError:  # the child closed the terminal
                break
            if not data:
                break
            shown += data
        if not interrupted and re.search(args.interrupt_after.encode(), shown):
            os.write(master, b"\x03")
            interrupted = True
    else:
        os.kill(pid, signal.SIGKILL)
    _, status = os.waitpid(pid, 0)
    with open(args.transcript, "wb") as out:
        out.write(shown)
    if os.WIFSIGNALED(status):
        return 128 + os.WTERMSIG(status)
    return os.WEXITSTATUS(status)


if __name__ == "__main__":
    sys.exit(main())
