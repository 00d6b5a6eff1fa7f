#!/usr/bin/env python3
"""Loopback web servers for the end-to-end and setup tests, run on the Linux
side, as a hosting site looks to the installer:

    loopback_http.py start STATE [CERT KEY]
    loopback_http.py stop STATE

`start` serves STATE/root over http on 127.0.0.1 at a free port, writes the
port to STATE/port and returns once it listens. With a certificate and its
key, an https server serves the same folder beside it, its port in
STATE/https-port. On the http server:
  /slow/PATH      sends PATH's body in two halves half a second apart, so
                  that runs started together are all in their download at
                  once, and a run killed at any moment may leave half an
                  archive;
  /to-https/PATH  answers with a redirect to https://127.0.0.1:HTTPS-PORT/PATH,
                  as sites that serve https only do.
The servers end on `stop`, and by themselves after 15 minutes."""
import http.server
import os
import pathlib
import signal
import ssl
import sys
import threading


def handler(root, https_port):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=str(root), **kwargs)

        def do_GET(self):
            if self.path.startswith("/to-https/") and https_port is not None:
                self.send_response(302)
                self.send_header("Location", "https://127.0.0.1:%d/%s"
                                 % (https_port, self.path[len("/to-https/"):]))
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
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

    return Handler


def start(state, cert=None, key=None):
    root = state / "root"
    root.mkdir(parents=True, exist_ok=True)
    for name in ("port", "https-port"):
        (state / name).unlink(missing_ok=True)
    https = None
    if cert:
        https = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler(root, None))
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        https.socket = context.wrap_socket(https.socket, server_side=True)
    plain = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), handler(root, https.server_address[1] if https else None))
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
    if https:
        threading.Thread(target=https.serve_forever, daemon=True).start()
        (state / "https-port").write_text(str(https.server_address[1]))
    threading.Timer(900, lambda: os._exit(0)).start()
    (state / "port.tmp").write_text(str(plain.server_address[1]))
    os.replace(state / "port.tmp", state / "port")
    plain.serve_forever()
    return 0


def stop(state):
    try:
        os.kill(int((state / "pid").read_text()), signal.SIGTERM)
    except (FileNotFoundError, ProcessLookupError, ValueError):
        pass
    return 0


if __name__ == "__main__":
    command, folder = sys.argv[1], pathlib.Path(sys.argv[2])
    sys.exit(start(folder, *sys.argv[3:5]) if command == "start" else stop(folder))
