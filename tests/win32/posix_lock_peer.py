#!/usr/bin/env python3
"""The POSIX side of the Windows suite's lock test, run on the Linux side by
CTest: `start STATE` empties STATE and leaves a process behind that takes a
POSIX record lock on the byte of STATE/modularstairs.txt.lock that both
builds of the installer lock, as the Linux program's merge does, and talks
to the Windows test through files in STATE:
  held        the lock is taken; it is kept until a second after the test
              writes windows-waits (just before it asks for the lock)
  released    written just before the lock is let go
then, once the test writes windows-holds, it tries the byte without waiting
and writes posix-try ("granted" or "refused"); once the test writes
windows-released, it tries again and writes posix-after. It ends by itself
after a quarter of an hour in any case (the test runs after the end-to-end runs of its program)."""
import fcntl
import os
import pathlib
import shutil
import sys
import time

LOCKED_BYTE = 0x7FFFFFFE


def wait_for(path: pathlib.Path, limit: float) -> bool:
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if path.exists():
            return True
        time.sleep(0.02)
    return False


def attempt(fd: int) -> str:
    try:
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, LOCKED_BYTE)
    except OSError:
        return "refused"
    fcntl.lockf(fd, fcntl.LOCK_UN, 1, LOCKED_BYTE)
    return "granted"


def peer(state: pathlib.Path) -> None:
    fd = os.open(state / "modularstairs.txt.lock", os.O_RDWR | os.O_CREAT, 0o666)
    fcntl.lockf(fd, fcntl.LOCK_EX, 1, LOCKED_BYTE)
    (state / "held").write_text("held")
    wait_for(state / "windows-waits", 900)
    time.sleep(1)
    (state / "released").write_text("released")
    fcntl.lockf(fd, fcntl.LOCK_UN, 1, LOCKED_BYTE)
    if wait_for(state / "windows-holds", 900):
        (state / "posix-try").write_text(attempt(fd))
    if wait_for(state / "windows-released", 900):
        (state / "posix-after").write_text(attempt(fd))


def start(state: pathlib.Path) -> int:
    shutil.rmtree(state, ignore_errors=True)
    state.mkdir(parents=True)
    (state / "modularstairs.txt").write_text("# Modular stairs\r\n")
    if os.fork() > 0:
        return 0 if wait_for(state / "held", 10) else 1
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    peer(state)
    os._exit(0)


if __name__ == "__main__":
    sys.exit(start(pathlib.Path(sys.argv[2])) if sys.argv[1] == "start" else 2)
