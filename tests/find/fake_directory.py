#!/usr/bin/env python3
"""Loopback stand-in for a Radio Browser API server, for the Find Stations tests.

Answers GET /json/stations/search (name, country, language, tag, limit,
offset, order, reverse, hidebroken) from a built-in station list shaped like
the real directory's, and GET /json/url/<uuid> (a click), appending each
click's uuid to DIR/clicks.log. Every request is logged to DIR/requests.log
as one JSON object: {"path", "query", "ua"}.

How it answers is read from DIR/mode for each request:
  normal      the stations
  slow        nothing until the mode changes (or 60 s)
  500         HTTP 500
  notjson     an HTML page
  object      a JSON object instead of a list
  wrongtypes  a list of entries with wrong types, plus one good station
  huge        a valid list larger than 6 MB
  hugeclose   announces a 6 MB answer, then hangs up without sending it
  endless     a list that never ends, without a length (also for clicks)
  understated announces 100 bytes, then sends a list larger than 6 MB
  trickle     a space every 100 ms, never done (also for clicks)

Prints "READY <port>" once it listens on 127.0.0.1 and dies with its parent.

    fake_directory.py --dir DIR --stream URL
"""
import argparse
import json
import os
import sys
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from parent_death import die_with_parent  # noqa: E402


def station(n, name, stream, country="Germany", language="german", tags="pop",
            codec="MP3", bitrate=128, clicks=0, ok=1, favicon=True):
    sid = str(uuid.uuid5(uuid.NAMESPACE_URL, "orbitune-test/%d" % n))
    return {
        "changeuuid": str(uuid.uuid5(uuid.NAMESPACE_URL, "change/%d" % n)),
        "stationuuid": sid,
        "serveruuid": None,
        "name": name,
        # The listed URL is a playlist; the resolved one is the stream.
        "url": "http://127.0.0.1:9/listen/%d.pls" % n,
        "url_resolved": stream,
        "homepage": "http://127.0.0.1:9/home/%d" % n,
        "favicon": ("http://127.0.0.1:9/icons/%d.png" % n) if favicon else "",
        "tags": tags,
        "country": country,
        "countrycode": {"Germany": "DE", "France": "FR", "Japan": "JP"}.get(country, "XX"),
        "iso_3166_2": None,
        "state": "",
        "language": language,
        "languagecodes": "",
        "votes": n * 3,
        "lastchangetime": "2024-01-01 00:00:00",
        "lastchangetime_iso8601": "2024-01-01T00:00:00Z",
        "codec": codec,
        "bitrate": bitrate,
        "hls": 0,
        "lastcheckok": ok,
        "lastchecktime": "2024-01-01 00:00:00",
        "clickcount": clicks,
        "clicktrend": 0,
        "ssl_error": 0,
        "geo_lat": None,
        "geo_long": None,
        "has_extended_info": False,
    }


def stations(stream):
    named = [
        station(1, "Jazz Lounge", stream, "France", "french", "jazz,lounge", "AAC", 96, 900),
        station(2, "Jazz Classics", stream, "Germany", "german", "jazz", "MP3", 128, 800),
        station(3, "Rock Antenne", stream, "Germany", "german", "rock,classic rock", clicks=700),
        station(4, "Tokyo Jazz Cafe", stream, "Japan", "japanese", "jazz,cafe", "OGG", 0, 600,
                favicon=False),
        station(5, "<b>Bold</b> & Co", stream, "France", "french", "talk", clicks=500),
        station(6, "Broken Jazz", stream, "Germany", "german", "jazz", clicks=950, ok=0),
        station(7, "C++ Radio", stream, "Germany", "english", "tech", clicks=10),
    ]
    # Enough of one kind for several pages.
    filler = [station(100 + i, "Filler %03d" % i, stream, "Germany", "german", "filler",
                      clicks=300 - i) for i in range(250)]
    return named + filler


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def mode(self):
        try:
            with open(os.path.join(self.server.dir, "mode")) as f:
                return f.read().strip() or "normal"
        except OSError:
            return "normal"

    def log(self, path, query):
        with open(os.path.join(self.server.dir, "requests.log"), "a") as f:
            f.write(json.dumps({"path": path, "query": query,
                                "ua": self.headers.get("User-Agent", "")}) + "\n")

    def send(self, status, body, ctype="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = urlsplit(self.path)
        query = {k: v[-1] for k, v in parse_qs(parts.query, keep_blank_values=True).items()}
        self.log(parts.path, query)
        mode = self.mode()
        if mode == "slow":
            deadline = time.time() + 60
            while self.mode() == "slow" and time.time() < deadline:
                time.sleep(0.05)
            self.send(503, b"[]")
            return
        if mode == "500":
            self.send(500, b'{"error": "internal"}')
            return
        if mode in ("endless", "trickle"):
            if parts.path.startswith("/json/url/"):
                self.record_click(parts.path[len("/json/url/"):])
            self.unending(mode)
            return
        if parts.path.startswith("/json/url/"):
            self.click(parts.path[len("/json/url/"):])
        elif parts.path == "/json/stations/search":
            self.search(query, mode)
        else:
            self.send(404, b"not found", "text/plain")

    def unending(self, mode):
        """Sends until the client hangs up, the mode changes or a minute is over."""
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        one = json.dumps(self.server.stations[0]).encode()
        chunk = b" " if mode == "trickle" else b"," + b",".join([one] * 64)
        deadline = time.time() + 60
        try:
            self.wfile.write(b"[" + one)
            while self.mode() == mode and time.time() < deadline:
                self.wfile.write(chunk)
                time.sleep(0.1 if mode == "trickle" else 0.005)
        except OSError:
            pass

    def record_click(self, sid):
        with open(os.path.join(self.server.dir, "clicks.log"), "a") as f:
            f.write(sid + "\n")

    def click(self, sid):
        self.record_click(sid)
        match = [s for s in self.server.stations if s["stationuuid"] == sid]
        if not match:
            self.send(200, json.dumps({"ok": "false", "message": "not found"}).encode())
            return
        s = match[0]
        self.send(200, json.dumps({"ok": "true", "message": "retrieved station url",
                                   "stationuuid": sid, "name": s["name"],
                                   "url": s["url_resolved"]}).encode())

    def search(self, q, mode):
        if mode == "notjson":
            self.send(200, b"<html><body>Gateway says hello</body></html>", "text/html")
            return
        if mode == "object":
            self.send(200, b'{"stations": []}')
            return
        if mode == "wrongtypes":
            good = self.server.stations[0]
            entries = [
                {"name": 42, "url": "http://127.0.0.1:9/a.mp3"},
                {"name": "No URL", "url": ["http://127.0.0.1:9/b.mp3"]},
                {"name": "Bad scheme", "url": "file:///etc/passwd"},
                "just a string", None, 7,
                dict(good, bitrate="lots", tags=["x"], country=None),
            ]
            self.send(200, json.dumps(entries).encode())
            return
        if mode == "huge":
            one = json.dumps(self.server.stations[0]).encode()
            count = (6 * 1024 * 1024) // len(one) + 1
            body = b"[" + b",".join([one] * count) + b"]"
            self.send(200, body)
            return
        if mode in ("hugeclose", "understated"):
            one = json.dumps(self.server.stations[0]).encode()
            body = b"[" + b",".join([one] * ((6 * 1024 * 1024) // len(one) + 1)) + b"]"
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body) if mode == "hugeclose" else 100))
            self.end_headers()
            self.close_connection = True
            try:
                if mode == "understated":
                    self.wfile.write(body)
            except OSError:
                pass
            return
        result = list(self.server.stations)

        def has(field, key):
            want = q.get(key, "").lower()
            return lambda s: want in s[field].lower()
        for key, field in (("name", "name"), ("country", "country"), ("language", "language")):
            if q.get(key):
                result = list(filter(has(field, key), result))
        if q.get("tag"):
            tag = q["tag"].lower()
            result = [s for s in result if any(tag in t for t in s["tags"].lower().split(","))]
        if q.get("hidebroken") == "true":
            result = [s for s in result if s["lastcheckok"] == 1]
        order = q.get("order", "name")
        if order in ("name", "clickcount", "votes", "bitrate", "country"):
            result.sort(key=lambda s: s[order], reverse=q.get("reverse") == "true")
        offset = int(q.get("offset", "0") or 0)
        limit = int(q.get("limit", "100000") or 100000)
        self.send(200, json.dumps(result[offset:offset + limit]).encode())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dir", required=True)
    ap.add_argument("--stream", default="http://127.0.0.1:9/none.mp3")
    args = ap.parse_args()
    die_with_parent()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.dir = args.dir
    server.stations = stations(args.stream)
    print("READY %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
