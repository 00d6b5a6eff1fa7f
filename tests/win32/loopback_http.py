#!/usr/bin/env python3
"""A loopback HTTP server for the Windows end-to-end and setup tests, run
on the Linux side: `start STATE` serves STATE/root on 127.0.0.1 at a free port,
writes the port to STATE/port and returns once it listens; `stop STATE`
ends it. It ends by itself after 15 minutes in any case."""
import http.server
import os
import pathlib
import signal
import sys
import threading


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        # A server that pauses half way through the body, so that runs
        # started together are all in their download at once, and a run
        # killed at any moment may leave half an archive.
        self.slow = self.path.startswith("/slow/")
        if self.slow:
            self.path = self.path[len("/slow"):]
        super().do_GET()

    def copyfile(self, source, outputfile):
        if not self.slow:
            return super().copyfile(source, outputfile)
        body = source.read()
        outputfile.write(body[:len(body) // 2])
        outputfile.flush()
        threading.Event().wait(0.5)
        outputfile.write(body[len(body) // 2:])

    def log_message(self, *args):
        pass


def start(state: pathlib.Path) -> int:
    root = state / "root"
    root.mkdir(parents=True, exist_ok=True)
    (state / "port").unlink(missing_ok=True)
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), lambda *a: Handler(*a, directory=str(root)))
    if os.fork() > 0:
        # The parent returns as soon as the child has announced its port.
        for _ in range(100):
            if (state / "port").exists():
                return 0
            threading.Event().wait(0.1)
        return 1
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    (state / "pid").write_text(str(os.getpid()))
    (state / "port.tmp").write_text(str(server.server_address[1]))
    os.replace(state / "port.tmp", state / "port")
    threading.Timer(900, lambda: os._exit(0)).start()
    server.serve_forever()
    return 0


def stop(state: pathlib.Path) -> int:
    try:
        os.kill(int((state / "pid").read_text()), signal.SIGTERM)
    except (FileNotFoundError, ProcessLookupError, ValueError):
        pass
    return 0


if __name__ == "__main__":
    command, folder = sys.argv[1], pathlib.Path(sys.argv[2])
    sys.exit(start(folder) if command == "start" else stop(folder))
