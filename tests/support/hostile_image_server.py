#!/usr/bin/env python3
"""A loopback HTTP server that misbehaves on purpose, for the image loader tests.

Usage: hostile_image_server.py ROOT_DIR
Listens on 127.0.0.1 on a free port and prints "PORT <n>" on stdout. Exits when
its stdin closes, so it never outlives the test that started it.

Paths (a query string makes a distinct URL; counts are per full path):
  /img/<name>?delay=ms&cc=<Cache-Control>&etag=<tag>   a file from ROOT_DIR
  /stall                 reads the request, never answers
  /stall-body            sends headers announcing 1000 bytes, then nothing
  /trickle               an image type, then one byte per second, forever
  /huge?length=1         200 MB of zeros, with Content-Length when length=1
  /bomb.png?w=&h=&full=1 a small PNG whose header declares 50000x50000 pixels
  /html                  an HTML page served as image/png
  /loop/a, /loop/b       redirect to each other for ever
  /redirect/<n>/<name>   n redirects, then /img/<name>
  /missing.png           404 with a valid PNG body
  /__count?p=<path>      how many requests <path> received
  /__stats               "active=<n> max=<n>" image requests being served
  /__reset               forget counts and the max
"""

import os
import select
import socket
import struct
import sys
import threading
import time
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

ROOT = sys.argv[1] if len(sys.argv) > 1 else "."
HUGE = 200 * 1024 * 1024

lock = threading.Lock()
counts = {}
active = 0
max_active = 0


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def bomb_png(width=50000, height=50000, full=False):
    # 8-bit greyscale, by default 50000 x 50000: 2.5 GB once decoded. Only the
    # first rows of zeros follow unless full: the guard has to refuse the
    # header, not run out of data. A full one is a complete, valid image.
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    rows = zlib.compress(b"\0" * ((width + 1) * (height if full else min(height, 64))), 9)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
            + png_chunk(b"IDAT", rows) + png_chunk(b"IEND", b""))


BOMB = bomb_png()
TYPES = {".png": "image/png", ".jpg": "image/jpeg", ".jpeg": "image/jpeg",
         ".gif": "image/gif", ".txt": "image/png"}


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def client_gone(self):
        try:
            readable, _, _ = select.select([self.connection], [], [], 0)
            if readable:
                return self.connection.recv(1, socket.MSG_PEEK) == b""
        except OSError:
            return True
        return False

    def wait_until_gone(self, seconds=None):
        end = None if seconds is None else time.monotonic() + seconds
        while not self.client_gone():
            if end is not None and time.monotonic() >= end:
                return False
            time.sleep(0.05)
        return True

    def send_plain(self, code, body, headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_GET(self):
        global active, max_active
        parts = urlsplit(self.path)
        query = parse_qs(parts.query)
        path = parts.path
        if path == "/__count":
            with lock:
                n = counts.get(query.get("p", [""])[0], 0)
            return self.send_plain(200, str(n).encode(), [("Cache-Control", "no-store")])
        if path == "/__stats":
            with lock:
                body = "active=%d max=%d" % (active, max_active)
            return self.send_plain(200, body.encode(), [("Cache-Control", "no-store")])
        if path == "/__reset":
            with lock:
                counts.clear()
                max_active = active
            return self.send_plain(200, b"ok", [("Cache-Control", "no-store")])

        with lock:
            counts[self.path] = counts.get(self.path, 0) + 1
            active += 1
            max_active = max(max_active, active)
        try:
            self.serve(path, query)
        except (BrokenPipeError, ConnectionResetError):
            pass
        finally:
            with lock:
                active -= 1

    def serve(self, path, query):
        if path.startswith("/img/"):
            delay = int(query.get("delay", ["0"])[0])
            if delay and self.wait_until_gone(delay / 1000.0):
                return
            name = os.path.basename(path[len("/img/"):])
            with open(os.path.join(ROOT, name), "rb") as f:
                body = f.read()
            headers = [("Content-Type", TYPES.get(os.path.splitext(name)[1], "image/png"))]
            if "cc" in query:
                headers.append(("Cache-Control", query["cc"][0]))
            if "etag" in query:
                tag = '"%s"' % query["etag"][0]
                headers.append(("ETag", tag))
                if self.headers.get("If-None-Match") == tag:
                    self.send_response(304)
                    for name, value in headers:
                        self.send_header(name, value)
                    self.end_headers()
                    return
            return self.send_plain(200, body, headers)
        if path == "/stall":
            self.wait_until_gone()
            return
        if path == "/stall-body":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(BOMB[:8])
            self.wfile.flush()
            self.wait_until_gone()
            return
        if path == "/trickle":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.end_headers()
            for i in range(3600):
                self.wfile.write(BOMB[i % len(BOMB):i % len(BOMB) + 1])
                self.wfile.flush()
                if self.wait_until_gone(1.0):
                    return
            return
        if path == "/huge":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            if query.get("length", ["0"])[0] == "1":
                self.send_header("Content-Length", str(HUGE))
            self.end_headers()
            chunk = b"\0" * 65536
            for _ in range(HUGE // len(chunk)):
                self.wfile.write(chunk)
            return
        if path == "/bomb.png":
            body = BOMB
            if "w" in query or "h" in query:
                body = bomb_png(int(query.get("w", ["50000"])[0]), int(query.get("h", ["50000"])[0]),
                                query.get("full", ["0"])[0] == "1")
            return self.send_plain(200, body, [("Content-Type", "image/png")])
        if path == "/html":
            body = b"<!doctype html><html><body><h1>Not here</h1></body></html>\n" * 20
            return self.send_plain(200, body, [("Content-Type", "image/png")])
        if path.startswith("/loop/"):
            target = "/loop/b" if path == "/loop/a" else "/loop/a"
            return self.send_plain(302, b"", [("Location", target)])
        if path.startswith("/redirect/"):
            _, _, n, name = path.split("/", 3)
            n = int(n)
            target = "/img/%s" % name if n <= 1 else "/redirect/%d/%s" % (n - 1, name)
            return self.send_plain(302, b"", [("Location", target)])
        if path == "/missing.png":
            with open(os.path.join(ROOT, "small.png"), "rb") as f:
                body = f.read()
            return self.send_plain(404, body, [("Content-Type", "image/png")])
        return self.send_plain(404, b"not found", [("Content-Type", "text/plain")])


def watch_stdin():
    # The test holds our stdin open; when it goes away, so do we.
    try:
        while sys.stdin.buffer.read(4096):
            pass
    finally:
        os._exit(0)


def main():
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=watch_stdin, daemon=True).start()
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
