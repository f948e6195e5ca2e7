#!/usr/bin/env python3
"""The project's fixture web server: serves a folder on 127.0.0.1 and misbehaves on purpose.

Start (foreground):   python3 fixture_server.py --root DIR [--port-file FILE] [--latency MS]
Start (background):   python3 fixture_server.py --root DIR --port-file FILE --pid-file FILE --background
Stop:                 python3 fixture_server.py --stop PID_FILE

It listens on 127.0.0.1 only, on a port the operating system picks, and prints
"port N" on its first line of output; with --port-file it also writes N (and a
line break) to that file once it accepts connections. --background returns
only when the port file is there. The server ends by itself after --idle-exit
seconds (default 600) without a request, so a test run that dies never leaves
it behind.

Paths (everything else is a file under --root, a folder's path ending in "/"
being its index.html; a missing file is a 404 with a small HTML body, or a 403
when a file of its name with ".403" appended stands in its place):

  /status/CODE           an HTML body with status CODE (404, 500, ...); the query
                         "retry-after=VALUE" adds the header Retry-After: VALUE
  /empty                 200 with an empty body
  /nul                   200, body "abc", a zero byte, then more text
  /utf8/N                200, N bytes of UTF-8 Chinese text (no zero byte)
  /sized/N               200, N bytes of ASCII text
  /gzip/PATH             the page PATH sent with Content-Encoding: gzip
  /deflate/PATH          the page PATH sent with Content-Encoding: deflate
  /redirect/N/PATH       a chain of N 302 redirects that ends at PATH
  /redirect-file         a 302 to file:///etc/hostname
  /redirect-loop         a 302 to itself, forever
  /endless               200 without a length, a body that never ends
  /stall                 200, a few bytes of the body, then silence
  /trickle               200 with Content-Length 4000, then one byte of it a second
  /silent                reads the request and never answers
  /reset                 promises 100000 bytes, sends 1000, then resets the connection
  /big/N                 200 with Content-Length N and N bytes (e.g. /big/104857600)

Any path takes the query "delay=MS" to wait that long before answering; --latency
adds the same wait to every request. The server speaks HTTP/1.1 with keep-alive.

A site's pace (all off unless asked for; see "A site's pace" below):

  --throttle 429|503|busy  one token bucket for the whole server (--rate tokens a
                           second, at most --burst); a request that finds it empty
                           is answered 429, 503, or with a short 200 page saying
                           "访问太频繁，请稍后再试" that also bans every request for
                           --ban seconds; --retry-after S adds "Retry-After: S" to
                           the 429 and 503 answers
  --flaky                  the first request for each chapter page (NNN.html,
                           NNN_K.html) fails, in turn, as 500, a reset connection,
                           an empty 200, the page cut before its prose, 502; the
                           next request gets the page
  /stats                   JSON: requests per path, refused requests, flaky failures
"""

import argparse
import collections
import gzip
import http.server
import io
import json
import os
import re
import signal
import socket
import socketserver
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
import zlib

CHUNK = 64 * 1024


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "fixture"
    disable_nagle_algorithm = True  # headers and body leave at once, no 40 ms stall
    sys_version = ""

    def log_message(self, format, *args):  # quiet: the tests print what matters
        pass

    # ---- helpers ---------------------------------------------------------

    def send_body(self, body, status=200, content_type="text/html", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def send_redirect(self, location):
        body = b"<html><body>moved</body></html>"
        self.send_body(body, status=302, headers=[("Location", location)])

    def file_body(self, path):
        root = self.server.root
        relative = urllib.parse.unquote(path).lstrip("/")
        if relative == "" or relative.endswith("/"):
            relative += "index.html"
        full = os.path.realpath(os.path.join(root, relative))
        if not full.startswith(os.path.realpath(root) + os.sep) or not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    def page_body(self, path):
        """The body of a plain page (a file, or one of the generated pages)."""
        parts = path.strip("/").split("/")
        if parts[0] == "utf8" and len(parts) == 2:
            unit = "第一章 山中有风，夜里有雨。".encode("utf-8")
            count = int(parts[1])
            return (unit * (count // len(unit) + 1))[:count]
        if parts[0] == "sized" and len(parts) == 2:
            unit = b"<p>0123456789 abcdefghijklmnopqrstuvwxyz</p>\n"
            count = int(parts[1])
            return (unit * (count // len(unit) + 1))[:count]
        return self.file_body(path)

    def wait_silently(self, seconds):
        """Keeps the connection open without answering until the client leaves."""
        self.connection.settimeout(1.0)
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                if not self.connection.recv(4096):
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        self.close_connection = True

    # ---- requests --------------------------------------------------------

    def do_GET(self):
        self.server.touch()
        address = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(address.query)
        delay = int(query.get("delay", ["0"])[0]) + self.server.latency
        if delay > 0:
            time.sleep(delay / 1000.0)
        path = address.path
        parts = path.strip("/").split("/")
        self.query = query
        try:
            if answer_paced(self, path):
                return
            self.answer(path, parts)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def answer(self, path, parts):
        head = parts[0]
        if head == "status" and len(parts) == 2:
            code = int(parts[1])
            body = ("<html><head><title>%d</title></head><body><h1>status %d</h1></body></html>" % (code, code)).encode()
            retry_after = [("Retry-After", value) for value in self.query.get("retry-after", [])]
            self.send_body(body, status=code, headers=retry_after)
        elif head == "empty":
            self.send_body(b"")
        elif head == "nul":
            self.send_body(b"abc\x00def and more after the zero byte")
        elif head in ("gzip", "deflate") and len(parts) >= 2:
            body = self.page_body("/" + "/".join(parts[1:]))
            if body is None:
                self.send_body(b"<html>missing</html>", status=404)
                return
            if head == "gzip":
                packed = gzip.compress(body)
            else:
                packed = zlib.compress(body)
            self.send_body(packed, headers=[("Content-Encoding", head)])
        elif head == "redirect" and len(parts) >= 2:
            remaining = int(parts[1])
            rest = "/".join(parts[2:])
            if remaining > 1:
                self.send_redirect("/redirect/%d/%s" % (remaining - 1, rest))
            elif remaining == 1:
                self.send_redirect("/" + rest)
            else:
                self.answer("/" + rest, rest.split("/"))
        elif head == "redirect-file":
            self.send_redirect("file:///etc/hostname")
        elif head == "redirect-loop":
            self.send_redirect("/redirect-loop")
        elif head == "endless":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            block = b"x" * CHUNK
            end = time.monotonic() + 300
            while time.monotonic() < end:
                self.wfile.write(block)
        elif head == "stall":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"a few bytes")
            self.wfile.flush()
            self.wait_silently(300)
        elif head == "trickle":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "4000")
            self.end_headers()
            for _ in range(4000):
                self.wfile.write(b"t")
                self.wfile.flush()
                time.sleep(1)
        elif head == "silent":
            self.wait_silently(300)
        elif head == "reset":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"r" * 1000)
            self.wfile.flush()
            # SO_LINGER with a zero time makes close() send a reset.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
        elif head == "big" and len(parts) == 2:
            count = int(parts[1])
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(count))
            self.end_headers()
            block = b"b" * CHUNK
            while count > 0:
                piece = block if count >= CHUNK else block[:count]
                self.wfile.write(piece)
                count -= len(piece)
        else:
            body = self.page_body(path)
            if body is None and self.file_body(path + ".403") is not None:
                self.send_body(b"<html><head><title>403</title></head><body>forbidden</body></html>", status=403)
            elif body is None:
                self.send_body(b"<html><head><title>404</title></head><body>not found</body></html>", status=404)
            else:
                self.send_body(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, root, latency, pace):
        super().__init__(("127.0.0.1", 0), Handler)
        self.root = root
        self.latency = latency
        self.pace = pace
        self.last_request = time.monotonic()

    def touch(self):
        self.last_request = time.monotonic()


# ---- A site's pace: throttling and flaky answers ------------------------------------
#
# Real novel sites refuse a client that asks too fast and fail now and then. The
# server counts every request by path (for /stats), and, when asked for, answers
# as such a site does. The token bucket is one for the whole server, as a site
# counts one client's requests whatever it asks for; an over-limit request does
# not take a token, and neither does a request during a ban.

BUSY_PAGE = ('<!DOCTYPE html><html><head><meta http-equiv="Content-Type" content="text/html; charset=%s" />'
             "<title>提示</title></head><body><p>访问太频繁，请稍后再试</p></body></html>")
REFUSAL_PAGE = "<html><head><title>%d</title></head><body><h1>%s</h1></body></html>"
FLAKY_FAILURES = ("500", "reset", "empty", "cut", "502")
CHAPTER_PAGE = re.compile(r"/\d+(_\d+)?\.html?$")


class TokenBucket:
    def __init__(self, rate, burst):
        self.rate = rate
        self.burst = burst
        self.tokens = float(burst)
        self.stamp = time.monotonic()

    def take(self, now):
        self.tokens = min(float(self.burst), self.tokens + (now - self.stamp) * self.rate)
        self.stamp = now
        if self.tokens < 1.0:
            return False
        self.tokens -= 1.0
        return True


class Pace:
    def __init__(self, args):
        self.lock = threading.Lock()
        self.mode = args.throttle
        self.bucket = TokenBucket(args.rate, args.burst)
        self.retry_after = args.retry_after
        self.ban_seconds = args.ban
        self.banned_until = 0.0
        self.busy_page = (BUSY_PAGE % args.encoding).encode(args.encoding)
        self.flaky = args.flaky
        self.flaky_failures = {}  # chapter path: how its first request failed
        self.requests = collections.Counter()
        self.refused = 0

    def refusal(self, path):
        """Counts the request; the throttle mode when it is refused, else None."""
        with self.lock:
            self.requests[path] += 1
            if not self.mode:
                return None
            now = time.monotonic()
            if now >= self.banned_until:
                if self.bucket.take(now):
                    return None
                if self.mode == "busy":
                    self.banned_until = now + self.ban_seconds
            self.refused += 1
            return self.mode

    def flaky_failure(self, path):
        """How the first request for a chapter page fails; None for any other request."""
        with self.lock:
            if not self.flaky or not CHAPTER_PAGE.search(path) or path in self.flaky_failures:
                return None
            kind = FLAKY_FAILURES[len(self.flaky_failures) % len(FLAKY_FAILURES)]
            self.flaky_failures[path] = kind
            return kind

    def stats(self):
        with self.lock:
            return {"requests": dict(self.requests), "refused": self.refused, "flaky": dict(self.flaky_failures)}


def answer_paced(handler, path):
    """Answers the request when the site's pace decides it; False lets it through."""
    pace = handler.server.pace
    if path == "/stats":
        handler.send_body(json.dumps(pace.stats(), ensure_ascii=False).encode(), content_type="application/json")
        return True
    refusal = pace.refusal(path)
    headers = [("Retry-After", str(pace.retry_after))] if pace.retry_after is not None else []
    if refusal == "busy":
        handler.send_body(pace.busy_page)
    elif refusal == "429":
        handler.send_body((REFUSAL_PAGE % (429, "Too Many Requests")).encode(), status=429, headers=headers)
    elif refusal == "503":
        handler.send_body((REFUSAL_PAGE % (503, "Service Unavailable")).encode(), status=503, headers=headers)
    if refusal:
        return True
    body = handler.page_body(path) if pace.flaky else None
    failure = pace.flaky_failure(path) if body is not None else None
    if failure in ("500", "502"):
        handler.send_body((REFUSAL_PAGE % (int(failure), "Server Error")).encode(), status=int(failure))
    elif failure == "reset":
        # Closed here and now with a zero linger time, the connection is reset
        # before any byte of an answer (the server's own close would send a FIN
        # first). The handler finishes on empty stand-ins.
        handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        handler.rfile.close()
        handler.connection.close()
        handler.rfile, handler.wfile = io.BytesIO(), io.BytesIO()
        handler.close_connection = True
    elif failure == "empty":
        handler.send_body(b"")
    elif failure == "cut":
        prose = body.find(b'<div id="content"')
        handler.send_body(body[:prose if prose >= 0 else len(body) // 2])
    return failure is not None


def add_pace_options(parser):
    parser.add_argument("--throttle", choices=["429", "503", "busy"], help="answer over-limit requests so")
    parser.add_argument("--rate", type=float, default=10.0, help="tokens a second of the throttle's bucket")
    parser.add_argument("--burst", type=int, default=10, help="tokens the throttle's bucket holds")
    parser.add_argument("--retry-after", type=int, help="seconds sent as Retry-After with 429 and 503")
    parser.add_argument("--ban", type=float, default=3.0, help="seconds of the busy page's ban")
    parser.add_argument("--flaky", action="store_true", help="the first request for each chapter page fails")
    parser.add_argument("--encoding", default="gbk", help="encoding of the busy page")


def pace_arguments(args):
    """The pace options again, for the server started in the background."""
    out = ["--rate", str(args.rate), "--burst", str(args.burst), "--ban", str(args.ban), "--encoding", args.encoding]
    if args.throttle:
        out += ["--throttle", args.throttle]
    if args.retry_after is not None:
        out += ["--retry-after", str(args.retry_after)]
    if args.flaky:
        out.append("--flaky")
    return out


def serve(args):
    server = Server(os.path.abspath(args.root), args.latency, Pace(args))
    port = server.server_address[1]
    print("port %d" % port, flush=True)
    if args.pid_file:
        with open(args.pid_file, "w") as f:
            f.write("%d\n" % os.getpid())
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write("%d\n" % port)
        os.replace(temporary, args.port_file)

    def watch_idle():
        while time.monotonic() - server.last_request < args.idle_exit:
            time.sleep(1)
        server.shutdown()

    threading.Thread(target=watch_idle, daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    if args.port_file and os.path.exists(args.port_file):
        os.remove(args.port_file)


def start_in_background(args):
    if os.path.exists(args.port_file):
        os.remove(args.port_file)
    command = [sys.executable, os.path.abspath(__file__), "--root", args.root, "--port-file", args.port_file,
               "--latency", str(args.latency), "--idle-exit", str(args.idle_exit)]
    if args.pid_file:
        command += ["--pid-file", args.pid_file]
    command += pace_arguments(args)
    subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True)
    end = time.monotonic() + 20
    while not os.path.exists(args.port_file):
        if time.monotonic() > end:
            print("the fixture server did not start", file=sys.stderr)
            return 1
        time.sleep(0.05)
    with open(args.port_file) as f:
        print("port %s" % f.read().strip(), flush=True)
    return 0


def stop(pid_file):
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    os.remove(pid_file)
    return 0


def main():
    parser = argparse.ArgumentParser(description="fixture web server on 127.0.0.1")
    parser.add_argument("--root", default=".", help="folder whose files are served")
    parser.add_argument("--port-file", help="file that receives the port number")
    parser.add_argument("--pid-file", help="file that receives the process id")
    parser.add_argument("--latency", type=int, default=0, help="milliseconds added before every answer")
    parser.add_argument("--idle-exit", type=int, default=600, help="seconds without a request before it ends")
    parser.add_argument("--background", action="store_true", help="start detached; needs --port-file")
    parser.add_argument("--stop", metavar="PID_FILE", help="stop the server whose pid file this is")
    add_pace_options(parser)
    args = parser.parse_args()
    if args.stop:
        return stop(args.stop)
    if args.background:
        if not args.port_file:
            parser.error("--background needs --port-file")
        return start_in_background(args)
    serve(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
