#!/usr/bin/env python3
"""ListenBrainz- and Last.fm-compatible scrobbling servers on loopback, for the tests.

Usage: scrobble_server.py TOKEN LASTFM_KEY LASTFM_SECRET
Listens on 127.0.0.1 on a free port and prints "PORT <n>" on stdout. Exits when
its stdin closes, so it never outlives the test that started it.

What the service's API documents say, checked here:
  POST /1/submit-listens   "Authorization: Token <token>" (else 401); a JSON
      object with listen_type "single" or "playing_now" (exactly one listen) or
      "import" (1 to 1000); each listen at most 10240 bytes, its track_metadata
      with non-empty artist_name and track_name, an integer listened_at unless
      playing_now (which has none). Anything else is a 400 and is recorded as
      a fault. Every answer carries X-RateLimit-Limit, -Remaining, -Reset-In.
  GET /1/validate-token    {"valid": true, "user_name": "tester"} for the token,
      {"valid": false} otherwise.
  GET /1/metadata/lookup/?artist_name=&recording_name=   a recording_mbid made
      from both.
  POST /1/feedback/recording-feedback   with the token: recording_mbid or
      recording_msid, and a score of -1, 0 or 1.
  /2.0/ (Last.fm's API 2.0)  every call signed: api_sig the MD5 of the
      parameters but format and api_sig, sorted by name, name and value joined,
      then the secret (else error 13); api_key the key (else error 10).
      auth.getToken gives a token; auth.getSession gives the session key
      once the token was approved (else error 14); track.scrobble (POST, sk
      the session's, else error 9) takes artist[i], track[i], timestamp[i]
      for i from 0, at most 50; track.updateNowPlaying and track.love (POST)
      take artist and track.
Control (not part of the service):
  /__approve?token=T           the user approves T on Last.fm's page
  /__fail?status=503&count=N   answers the next N submissions with status
                               (0 for none: closes the connection unanswered)
  /__rate?limit=N&window=S     at most N submissions per S seconds, then 429
  /__reset                     forgets what it received and every setting
  /__received                  {"listens": [...], "playing_now": [...],
                                "faults": [...], "requests": n, "over_limit": n}
"""

import hashlib
import json
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

TOKEN = sys.argv[1] if len(sys.argv) > 1 else "test-token"
LASTFM_KEY = sys.argv[2] if len(sys.argv) > 2 else "test-key"
LASTFM_SECRET = sys.argv[3] if len(sys.argv) > 3 else "test-secret"
LASTFM_SESSION = "test-session-key"
MAX_SCROBBLES = 50
MAX_LISTENS = 1000
MAX_LISTEN_SIZE = 10240

RESET = dict(listens=[], playing_now=[], faults=[], requests=0, over_limit=0, fail_status=503,
             fail_count=0, limit=1000, window=10.0, used=0, lastfm=[], lastfm_now=[],
             lastfm_love=[], tokens={}, feedback=[])
lock = threading.Lock()
state = dict(json.loads(json.dumps(RESET)), window_start=time.monotonic())


def lastfm_signature(params):
    text = "".join(k + params[k] for k in sorted(params) if k not in ("format", "api_sig"))
    return hashlib.md5((text + LASTFM_SECRET).encode()).hexdigest()


def lastfm_call(params, post):
    """(status, answer) of a Last.fm call, with the lock held."""
    def error(code, message, status=400):
        return status, {"error": code, "message": message}
    if params.get("format") != "json":
        state["faults"].append("lastfm: no format=json")
    if params.get("api_key") != LASTFM_KEY:
        return error(10, "Invalid API key", 403)
    if params.get("api_sig") != lastfm_signature(params):
        state["faults"].append("lastfm: bad signature")
        return error(13, "Invalid method signature supplied", 403)
    method = params.get("method", "")
    if method == "auth.getToken":
        token = "token-%d" % (len(state["tokens"]) + 1)
        state["tokens"][token] = False
        return 200, {"token": token}
    if method == "auth.getSession":
        if not state["tokens"].get(params.get("token")):
            return error(14, "This token has not been authorized")
        return 200, {"session": {"name": "tester", "key": LASTFM_SESSION, "subscriber": 0}}
    if not post:
        state["faults"].append("lastfm: %s by GET" % method)
        return error(6, "Invalid parameters")
    if params.get("sk") != LASTFM_SESSION:
        return error(9, "Invalid session key - Please re-authenticate", 403)
    if method == "track.scrobble":
        got = []
        i = 0
        while "artist[%d]" % i in params:
            item = {k: params.get("%s[%d]" % (k, i), "") for k in ("artist", "track", "timestamp")}
            if not item["artist"] or not item["track"] or not item["timestamp"].isdigit():
                state["faults"].append("lastfm: scrobble %d incomplete" % i)
                return error(6, "Invalid parameters")
            item["timestamp"] = int(item["timestamp"])
            got.append(item)
            i += 1
        if not got or len(got) > MAX_SCROBBLES:
            state["faults"].append("lastfm: %d scrobbles in one call" % len(got))
            return error(6, "Invalid parameters")
        state["lastfm"] += got
        return 200, {"scrobbles": {"@attr": {"accepted": len(got), "ignored": 0},
                                   "scrobble": []}}
    if method in ("track.updateNowPlaying", "track.love"):
        if not params.get("artist") or not params.get("track"):
            state["faults"].append("lastfm: %s without artist and track" % method)
            return error(6, "Invalid parameters")
        key = "lastfm_now" if method == "track.updateNowPlaying" else "lastfm_love"
        state[key].append({"artist": params["artist"], "track": params["track"]})
        return 200, {}
    return error(3, "Invalid Method")


def check_submission(doc):
    """The fault in a submission, or None."""
    if not isinstance(doc, dict):
        return "not an object"
    kind = doc.get("listen_type")
    payload = doc.get("payload")
    if kind not in ("single", "playing_now", "import"):
        return "listen_type %r" % (kind,)
    if not isinstance(payload, list) or not payload:
        return "no payload"
    if kind in ("single", "playing_now") and len(payload) != 1:
        return "%s with %d listens" % (kind, len(payload))
    if len(payload) > MAX_LISTENS:
        return "%d listens in one request" % len(payload)
    for listen in payload:
        if len(json.dumps(listen).encode()) > MAX_LISTEN_SIZE:
            return "a listen over %d bytes" % MAX_LISTEN_SIZE
        meta = listen.get("track_metadata") if isinstance(listen, dict) else None
        if not isinstance(meta, dict):
            return "no track_metadata"
        for key in ("artist_name", "track_name"):
            if not isinstance(meta.get(key), str) or not meta[key].strip():
                return "no " + key
        has_time = "listened_at" in listen
        if kind == "playing_now" and has_time:
            return "playing_now with listened_at"
        if kind != "playing_now" and (not has_time or not isinstance(listen["listened_at"], int)):
            return "no integer listened_at"
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def answer(self, code, body, headers=None):
        data = json.dumps(body).encode()
        self.send_response(code)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        for k, v in (headers or {}).items():
            self.send_header(k, str(v))
        self.end_headers()
        self.wfile.write(data)

    def failing(self):
        """Answers as /__fail asked, with the lock held; False when not failing."""
        if state["fail_count"] <= 0:
            return False
        state["fail_count"] -= 1
        if state["fail_status"] == 0:
            self.close_connection = True  # unanswered
        else:
            self.answer(state["fail_status"], {"code": state["fail_status"], "error": 16,
                                               "message": "failing on request"})
        return True

    def authorised(self):
        return self.headers.get("Authorization", "") == "Token " + TOKEN

    def do_GET(self):
        url = urlsplit(self.path)
        query = {k: v[-1] for k, v in parse_qs(url.query).items()}
        if url.path == "/1/validate-token":
            if self.authorised():
                return self.answer(200, {"code": 200, "message": "Token valid.",
                                         "valid": True, "user_name": "tester"})
            return self.answer(200, {"code": 200, "message": "Token invalid.", "valid": False})
        if url.path == "/1/metadata/lookup/":
            artist, title = query.get("artist_name", ""), query.get("recording_name", "")
            if not artist or not title:
                return self.answer(400, {"code": 400, "error": "artist_name and recording_name"})
            return self.answer(200, {"artist_credit_name": artist, "recording_name": title,
                                     "recording_mbid": "mbid:%s:%s" % (artist, title)})
        with lock:
            if url.path == "/__fail":
                state["fail_status"] = int(query.get("status", "503"))
                state["fail_count"] = int(query.get("count", "1"))
                return self.answer(200, {"ok": True})
            if url.path == "/__rate":
                state["limit"] = int(query.get("limit", "1000"))
                state["window"] = float(query.get("window", "10"))
                state["window_start"] = time.monotonic()
                state["used"] = 0
                return self.answer(200, {"ok": True})
            if url.path == "/__reset":
                state.update(json.loads(json.dumps(RESET)))
                return self.answer(200, {"ok": True})
            if url.path == "/__approve":
                state["tokens"][query.get("token", "")] = True
                return self.answer(200, {"ok": True})
            if url.path == "/__received":
                return self.answer(200, {k: v for k, v in state.items()
                                         if k not in ("tokens",) and not k.startswith("fail")})
            if url.path == "/2.0/":
                return self.answer(*lastfm_call(query, post=False))
        self.answer(404, {"code": 404, "error": "not found"})

    def do_POST(self):
        url = urlsplit(self.path)
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if 0 < length <= 10 * 1024 * 1024 else b""
        if url.path == "/2.0/":
            form = {k: v[-1] for k, v in parse_qs(body.decode("utf-8", "replace"),
                                                    keep_blank_values=True).items()}
            with lock:
                if not self.failing():
                    self.answer(*lastfm_call(form, post=True))
                return
        if url.path == "/1/feedback/recording-feedback":
            with lock:
                if not self.authorised():
                    return self.answer(401, {"code": 401, "error": "Invalid authorization token."})
                try:
                    doc = json.loads(body)
                except ValueError:
                    doc = None
                if (not isinstance(doc, dict) or doc.get("score") not in (-1, 0, 1)
                        or not (doc.get("recording_mbid") or doc.get("recording_msid"))):
                    state["faults"].append("feedback: %r" % (doc,))
                    return self.answer(400, {"code": 400, "error": "bad feedback"})
                state["feedback"].append(doc)
                return self.answer(200, {"status": "ok"})
        if url.path != "/1/submit-listens":
            return self.answer(404, {"code": 404, "error": "not found"})
        with lock:
            state["requests"] += 1
            now = time.monotonic()
            if now - state["window_start"] >= state["window"]:
                state["window_start"] = now
                state["used"] = 0
            reset_in = max(1, int(state["window_start"] + state["window"] - now + 0.999))
            if self.failing():
                return
            if not self.authorised():
                return self.answer(401, {"code": 401, "error": "Invalid authorization token."})
            rate = {"X-RateLimit-Limit": state["limit"], "X-RateLimit-Reset-In": reset_in}
            if state["used"] >= state["limit"]:
                state["over_limit"] += 1
                rate["X-RateLimit-Remaining"] = 0
                return self.answer(429, {"code": 429, "error": "rate limit exceeded"}, rate)
            state["used"] += 1
            rate["X-RateLimit-Remaining"] = state["limit"] - state["used"]
            try:
                doc = json.loads(body)
            except ValueError:
                doc = None
            fault = check_submission(doc)
            if fault:
                state["faults"].append(fault)
                return self.answer(400, {"code": 400, "error": fault}, rate)
            if doc["listen_type"] == "playing_now":
                state["playing_now"] += doc["payload"]
            else:
                state["listens"] += doc["payload"]
            return self.answer(200, {"status": "ok"}, rate)


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()  # until the test closes it or goes


if __name__ == "__main__":
    main()
