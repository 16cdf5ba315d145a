#!/usr/bin/env python3
"""Loopback HTTP server for the media tests.

Serves playlists (with right and wrong content types), an HLS stream, an ICY
stream with titles, a chained Ogg stream, broken responses and a station that
tests switch on and off (/station). Media files are
made with gst-launch-1.0 into --dir at start-up. Prints "READY <port>" once it
listens on 127.0.0.1 and dies with its parent.

Hostile stations, all under /hostile/ (class HostileMounts):
  silent-head.mp3     the answer's head, then nothing; the connection stays open
  silent-later.mp3    ten seconds of the tone, then nothing, the connection open
  endless-head        a status line, then header lines at 64 KB/s, never the end
  icy-every.mp3       icy-metaint 16, a new title in every block (asked for or not)
  icy-same.mp3        the same, with the same title in every block
  codec-flip          eight seconds of MP3, then the connection ends; the next
                      request gets eight seconds of AAC, and so on
  hls/master-flood.m3u8   1 MB of #EXT-X-STREAM-INF lines with no address, one
                          real variant (/hls/live.m3u8) at the very end
  hls/tiny-target.m3u8    /hls/live.m3u8 with #EXT-X-TARGETDURATION:0.001
  hls/huge-duration.m3u8  the same with #EXTINF durations of 1e308, 2^63 ...
  hls/lagging.m3u8        /hls/live.m3u8 from edges out of step: every other
                          answer is the one before it a segment behind
  hls/trun-bomb.m3u8      live fMP4 whose 34 KB segments hold a trun after
                          another, each restarting at the moof with samples of
                          the default size 1: millions of samples a segment
  tls-port            the port of a TLS listener on loopback (started at the
                      first request; its self-signed certificate for 127.0.0.1
                      is DIR/hostile-cert.pem) that redirects every request to
                      this server's looped tone over plain http://
  hits?path=P         how many requests P has had (P under /hostile/)

    stream_http.py --dir DIR --mp3 URL --ogg URL --dead URL
"""
import argparse
import os
import random
import re
import signal
import ssl
import subprocess
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from parent_death import die_with_parent


def gst(*pipeline):
    subprocess.run(["gst-launch-1.0", "-q", *pipeline], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ts_pid(packet):
    return (packet[1] & 0x1F) << 8 | packet[2]


def pes_pts(packet):
    """The PTS of the PES that starts in this packet, or None."""
    if not packet[1] & 0x40 or not packet[3] & 0x10:
        return None
    at = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
    pes = packet[at:at + 14]
    if len(pes) < 14 or pes[:3] != b"\0\0\1" or not pes[7] & 0x80:
        return None
    b = pes[9:14]
    return ((b[0] >> 1) & 7) << 30 | b[1] << 22 | (b[2] >> 1) << 15 | b[3] << 7 | b[4] >> 1


def cut_fmp4(path, name):
    """Cuts a fragmented MP4 of AAC at 44.1 kHz into its init segment (name +
    "init.mp4") and a segment per moof and mdat (name + "%05d.m4s"); returns
    their durations, from each trun's count of 1024-sample frames."""
    data, at, moofs = open(path, "rb").read(), 0, []
    size = lambda i: int.from_bytes(data[i:i + 4], "big")
    while at + 8 <= len(data):
        moofs += [at] if data[at + 4:at + 8] == b"moof" else []
        at += max(8, size(at))
    durations, parts = [], {"init.mp4": data[:moofs[0]]}
    for k, at in enumerate(moofs):
        mdat = at + size(at)
        parts["%05d.m4s" % k] = data[at:mdat + size(mdat)]
        durations.append(size(data.find(b"trun", at, mdat) + 8) * 1024 / 44100.0)
    for part, body in parts.items():
        with open(os.path.join(os.path.dirname(path), name + part), "wb") as f:
            f.write(body)
    return durations


def make_steps(d):
    """Cuts the "steps" tone (steps.raw, written by the test) into TS segments
    of about a second at PES starts, the program tables in front of each;
    the same AAC goes into fragments of a second of fragmented MP4 (see
    cut_fmp4). Returns the durations of both: TS, fMP4."""
    hls = os.path.join(d, "hls")
    whole = os.path.join(d, "steps.ts")
    gst("filesrc", "location=" + os.path.join(d, "steps.raw"), "!", "rawaudioparse",
        "use-sink-caps=false", "pcm-format=s16le", "sample-rate=44100", "num-channels=1",
        "!", "audioconvert", "!", "avenc_aac", "!", "aacparse", "!", "tee", "name=t", "!",
        "queue", "!", "mpegtsmux", "!", "filesink", "location=" + whole, "t.", "!", "queue",
        "!", "mp4mux", "fragment-duration=1000", "streamable=true", "!", "filesink",
        "location=" + os.path.join(hls, "steps.mp4"))
    fmp4 = cut_fmp4(os.path.join(hls, "steps.mp4"), "steps-")
    data = open(whole, "rb").read()
    packets = [data[i:i + 188] for i in range(0, len(data) - 187, 188)]
    tables = [p for p in packets[:8] if ts_pid(p) in (0, 0x20)] or packets[:2]
    starts, first = [], None  # (packet index, seconds)
    for i, p in enumerate(packets):
        pts = pes_pts(p)
        if pts is None:
            continue
        first = pts if first is None else first
        t = (pts - first) / 90000.0
        if not starts or len(starts) <= t < 99.5:
            starts.append((i, t))
    starts.append((len(packets), 100.0))
    durations = []
    for k in range(len(starts) - 1):
        (a, ta), (b, tb) = starts[k], starts[k + 1]
        with open(os.path.join(hls, "steps%05d.ts" % k), "wb") as f:
            f.write(b"".join(tables + packets[a:b]))
        durations.append(tb - ta)
    return durations, fmp4


def live_playlist(now, durations, name, window):
    """A live media playlist of `name` % index segments looped: those whose
    end has passed by `now` (seconds since the start), the newest `window`
    of them, with a discontinuity where the loop starts over."""
    cycle = sum(durations)
    ends, total = [], 0.0
    for dur in durations:
        total += dur
        ends.append(total)
    loops, into = divmod(now, cycle)
    newest = int(loops) * len(durations) + sum(1 for e in ends if e <= into) - 1
    first = max(0, newest - window + 1)
    out = ["#EXTM3U", "#EXT-X-VERSION:3",
           "#EXT-X-TARGETDURATION:%d" % max(1, round(max(durations))),
           "#EXT-X-MEDIA-SEQUENCE:%d" % first]
    if name.endswith(".m4s"):  # fMP4, behind its init segment
        out[1:2] = ["#EXT-X-VERSION:7", '#EXT-X-MAP:URI="%sinit.mp4"' % name.split("%")[0]]
    for seq in range(first, newest + 1):
        if seq % len(durations) == 0 and seq > 0:
            out.append("#EXT-X-DISCONTINUITY")
        out.append("#EXTINF:%.5f," % durations[seq % len(durations)])
        out.append(name % (seq % len(durations)))
    return ("\n".join(out) + "\n").encode()


def make_media(d):
    """Makes every file in one gst-launch run (several independent branches of
    one pipeline), which saves most of the start-up time. Returns the
    durations of the fMP4 segments of /hls/live-fmp4.m3u8."""
    tone = "audiotestsrc num-buffers={n} wave=sine freq={f} volume={v} ! audioconvert ! "
    hls = os.path.join(d, "hls")
    os.makedirs(hls, exist_ok=True)
    branches = [
        tone.format(n=430, f=440, v=0.5) + "lamemp3enc target=bitrate cbr=true bitrate=128"
        " ! filesink location=" + os.path.join(d, "tone.mp3"),
        # The same tone 20 dB quieter: -29.7 LUFS where tone.mp3 is -9.7.
        tone.format(n=430, f=440, v=0.05) + "lamemp3enc target=bitrate cbr=true bitrate=128"
        " ! filesink location=" + os.path.join(d, "quiet.mp3"),
        # Ticks peaking at -1 dBFS, quiet as a whole (about -21 LUFS): lifted,
        # they need the limiter.
        "audiotestsrc num-buffers=430 wave=ticks freq=440 volume=0.9 ! audioconvert"
        " ! lamemp3enc target=bitrate cbr=true bitrate=128 ! filesink location="
        + os.path.join(d, "ticks.mp3"),
        tone.format(n=430, f=440, v=0.5) + "avenc_aac bitrate=128000 ! aacparse"
        " ! audio/mpeg,stream-format=adts ! filesink location=" + os.path.join(d, "tone.aac"),
        tone.format(n=172, f=550, v=0.5) + "avenc_aac ! aacparse ! tee name=t ! queue ! mpegtsmux"
        " ! filesink location=" + os.path.join(hls, "seg0.ts") + " t. ! queue"
        " ! mp4mux fragment-duration=1000 streamable=true ! filesink location="
        + os.path.join(hls, "fmp4.mp4"),
    ]
    for name, f, title in (("a", 440, "Chain-One"), ("b", 660, "Chain-Two")):
        branches.append(tone.format(n=130, f=f, v=0.5) + "taginject tags=title=%s,artist=Fixture"
                        " ! vorbisenc ! oggmux ! filesink location=%s"
                        % (title, os.path.join(d, name + ".ogg")))
    gst(*" ".join(branches).split())
    # Three short segments with the same sound.
    seg = open(os.path.join(hls, "seg0.ts"), "rb").read()
    for i in (1, 2):
        with open(os.path.join(hls, "seg%d.ts" % i), "wb") as f:
            f.write(seg)
    with open(os.path.join(hls, "vod.m3u8"), "w") as f:
        f.write("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:4\n"
                "#EXT-X-MEDIA-SEQUENCE:0\n")
        for i in range(3):
            f.write("#EXTINF:3.99,\nseg%d.ts\n" % i)
        f.write("#EXT-X-ENDLIST\n")
    return cut_fmp4(os.path.join(hls, "fmp4.mp4"), "fmp4-")  # the same in fragments of a second


# --- Hostile stations: everything under /hostile/ (see the header). ---------


def mp4_box(kind, payload):
    return (8 + len(payload)).to_bytes(4, "big") + kind + payload


def mp4_full_box(kind, version, flags, payload):
    return mp4_box(kind, bytes([version]) + flags.to_bytes(3, "big") + payload)


def trun_bomb(track_id, sequence, size=34 * 1024, payload=2048):
    """A fragment of about `size` bytes: one moof whose traf holds as many
    truns as fit, each of `payload` samples of the default size 1 that all
    start at the moof (default-base-is-moof, the same data offset), behind
    an mdat of `payload` bytes. Read as written it is millions of samples."""
    tfhd = mp4_full_box(b"tfhd", 0, 0x020000 | 0x10 | 0x08,
                        track_id.to_bytes(4, "big") + (1024).to_bytes(4, "big") +
                        (1).to_bytes(4, "big"))
    tfdt = mp4_full_box(b"tfdt", 1, 0, (sequence * 44100).to_bytes(8, "big"))
    mfhd = mp4_full_box(b"mfhd", 0, 0, sequence.to_bytes(4, "big"))
    trun_size = 20
    count = (size - payload - 8 - 8 - len(mfhd) - 8 - len(tfhd) - len(tfdt)) // trun_size
    moof_size = 8 + len(mfhd) + 8 + len(tfhd) + len(tfdt) + count * trun_size
    trun = mp4_full_box(b"trun", 0, 0x01,
                        payload.to_bytes(4, "big") + (moof_size + 8).to_bytes(4, "big"))
    traf = mp4_box(b"traf", tfhd + tfdt + trun * count)
    moof = mp4_box(b"moof", mfhd + traf)
    return moof + mp4_box(b"mdat", bytes(range(256)) * (payload // 256))


class HostileMounts:
    """The hostile stations, selected by path under /hostile/: answers that
    never end, that go quiet, that flood titles, HLS playlists that lie
    and fMP4 segments that expand, a codec changing across reconnects and
    HTTPS redirecting to plain HTTP."""

    def hostile(self, path):
        server = self.server
        with server.lock:
            hits = server.__dict__.setdefault("hostile_hits", {})
            hits[path] = hits.get(path, 0) + 1
            nth = hits[path]
        if path == "/hostile/hits":
            query = urllib.parse.parse_qs(self.path.partition("?")[2])
            asked = query.get("path", [""])[0]
            return self.send(200, "text/plain", str(hits.get(asked, 0)).encode())
        if path == "/hostile/silent-head.mp3":
            return self.stall("audio/mpeg")
        if path == "/hostile/silent-later.mp3":
            return self.hostile_silent_later()
        if path == "/hostile/endless-head":
            return self.hostile_endless_head()
        if path in ("/hostile/icy-every.mp3", "/hostile/icy-same.mp3"):
            return self.hostile_icy_every(changing=path == "/hostile/icy-every.mp3")
        if path == "/hostile/codec-flip":
            return self.hostile_codec_flip(mp3=nth % 2 == 1)
        if path == "/hostile/tls-port":
            return self.send(200, "text/plain", str(self.hostile_tls_port()).encode())
        if path == "/hostile/hls/master-flood.m3u8":
            return self.send(200, "application/vnd.apple.mpegurl", self.hostile_master_flood())
        if path == "/hostile/hls/tiny-target.m3u8":
            return self.send(200, "application/vnd.apple.mpegurl", self.hostile_tiny_target())
        if path == "/hostile/hls/huge-duration.m3u8":
            return self.send(200, "application/vnd.apple.mpegurl", self.hostile_huge_duration())
        if path == "/hostile/hls/lagging.m3u8":
            # A CDN's edges out of step: every other answer is the one before
            # it a segment behind, what an edge that lags serves.
            with server.lock:
                if nth % 2:
                    server.hostile_fresh = time.monotonic() - server.started + 24
                now = server.hostile_fresh - (0 if nth % 2 else 3.99)
            return self.send(200, "application/vnd.apple.mpegurl",
                             live_playlist(now, [3.99] * 3, "/hls/seg%d.ts", 3))
        if path == "/hostile/hls/trun-bomb.m3u8":
            now = time.monotonic() - server.started + 8
            return self.send(200, "application/vnd.apple.mpegurl",
                             live_playlist(now, [1.0] * 4, "bomb-%05d.m4s", 4))
        if path == "/hostile/hls/bomb-init.mp4":
            init = os.path.join(server.cfg.dir, "hls", "fmp4-init.mp4")
            return self.send(200, "audio/mp4", open(init, "rb").read())
        if path.startswith("/hostile/hls/bomb-") and path.endswith(".m4s"):
            return self.send(200, "audio/mp4", self.hostile_bomb_segment())
        return self.send(404, "text/plain", b"not found")

    def hostile_head(self, ctype, extra=None):
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        self.end_headers()

    def hostile_silent_later(self):
        """Ten seconds of the tone, then nothing on a connection kept open."""
        self.hostile_head("audio/mpeg")
        data = open(self.server.cfg.dir + "/tone.mp3", "rb").read()
        try:
            self.paced((data[i:i + 4096] for i in range(0, 160000, 4096)
                        if not self.server.stopping), 16000, burst=0)
            self.wfile.flush()
        except OSError:
            return
        while not self.server.stopping:
            time.sleep(0.2)

    def hostile_endless_head(self):
        """A status line and header lines, 64 KB a second, never a blank line."""
        self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n")
        line, n = b"X-Padding-%08d: " + b"x" * 40 + b"\r\n", 0
        try:
            while not self.server.stopping:
                self.wfile.write(b"".join(line % (n + k) for k in range(64)))
                self.wfile.flush()
                n += 64
                time.sleep(64 * len(line) / 65536.0)
        except OSError:
            pass

    def hostile_icy_every(self, changing):
        """The tone with icy-metaint 16 and a title in every block, asked for
        or not: a new title each block, or the same one each time."""
        metaint = 16
        self.hostile_head("audio/mpeg", {"icy-metaint": str(metaint), "icy-name": "Hostile"})
        data = open(self.server.cfg.dir + "/tone.mp3", "rb").read()

        def chunks():
            n = 0
            while not self.server.stopping:
                for i in range(0, len(data) - metaint, metaint):
                    title = b"Artist %d - Song %d" % (n, n) if changing else b"Artist - Song"
                    text = b"StreamTitle='" + title + b"';"
                    block = text + b"\0" * ((-len(text)) % 16)
                    yield data[i:i + metaint] + bytes([len(block) // 16]) + block
                    n += 1
        try:
            self.paced(chunks(), 16000 * 4)
        except OSError:
            pass

    def hostile_codec_flip(self, mp3):
        """Eight seconds of MP3, or of AAC, then the connection ends: the
        same address alternates between the two at each request."""
        name, ctype = ("tone.mp3", "audio/mpeg") if mp3 else ("tone.aac", "audio/aac")
        self.hostile_head(ctype)
        data = open(os.path.join(self.server.cfg.dir, name), "rb").read()
        try:
            self.paced((data[i:i + 4096] for i in range(0, min(len(data), 128000), 4096)),
                       16000)
        except OSError:
            pass

    def hostile_master_flood(self):
        """1 MB of variant tags with no address, one real variant at the end."""
        if not hasattr(self.server, "hostile_flood"):
            line = b'#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS="mp4a.40.2"\n'
            self.server.hostile_flood = (b"#EXTM3U\n" + line * (1048576 // len(line)) +
                                         line + b"/hls/live.m3u8\n")
        return self.server.hostile_flood

    def hostile_tiny_target(self):
        """The looped live segments with a target duration of a millisecond."""
        now = time.monotonic() - self.server.started + 12
        text = live_playlist(now, [3.99] * 3, "/hls/seg%d.ts", 3).decode()
        return re.sub(r"#EXT-X-TARGETDURATION:\d+", "#EXT-X-TARGETDURATION:0.001", text).encode()

    def hostile_huge_duration(self):
        """The looped live segments, each claiming a duration beyond any clock."""
        now = time.monotonic() - self.server.started + 12
        text = live_playlist(now, [3.99] * 3, "/hls/seg%d.ts", 3).decode()
        huge = iter(["1e308", "9223372036854775807", "1e19", "18446744073709551616.5"] * 3)
        text = re.sub(r"#EXTINF:[0-9.]+,", lambda _: "#EXTINF:%s," % next(huge), text)
        return text.encode()

    def hostile_bomb_segment(self):
        if not hasattr(self.server, "hostile_bomb"):
            first = open(os.path.join(self.server.cfg.dir, "hls", "fmp4-00000.m4s"), "rb").read()
            at = first.find(b"tfhd")
            track = int.from_bytes(first[at + 8:at + 12], "big") if at >= 0 else 1
            self.server.hostile_bomb = trun_bomb(track, 1)
        return self.server.hostile_bomb

    def hostile_tls_port(self):
        """Starts (once) a TLS listener on loopback with a certificate made
        now (DIR/hostile-cert.pem, for 127.0.0.1) that answers every request
        with a redirect to the looped tone of this server over plain HTTP."""
        server = self.server
        with server.lock:
            if getattr(server, "hostile_tls", None):
                return server.hostile_tls.server_port
            cert = os.path.join(server.cfg.dir, "hostile-cert.pem")
            key = os.path.join(server.cfg.dir, "hostile-key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                            "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                            "-keyout", key, "-out", cert], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            target = self.base() + "/typed.mp3?type=audio/mpeg"

            class Redirect(BaseHTTPRequestHandler):
                protocol_version = "HTTP/1.0"
                timeout = 10

                def log_message(self, fmt, *args):
                    pass

                def do_GET(self):
                    self.send_response(302)
                    self.send_header("Location", target)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                do_HEAD = do_GET

            tls = ThreadingHTTPServer(("127.0.0.1", 0), Redirect)
            tls.daemon_threads = True
            # The handshake happens in the request's thread, not in accept.
            tls.socket = context.wrap_socket(tls.socket, server_side=True,
                                             do_handshake_on_connect=False)
            threading.Thread(target=tls.serve_forever, daemon=True).start()
            server.hostile_tls = tls
            return tls.server_port

# --- End of the hostile stations. -------------------------------------------


class Handler(HostileMounts, BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "FixtureHTTP/1.0"

    def log_message(self, fmt, *args):
        pass

    def send(self, code, ctype, body, extra=None):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def base(self):
        return "http://127.0.0.1:%d" % self.server.server_port

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        cfg = self.server.cfg
        mp3, ogg, dead = cfg.mp3, cfg.ogg, cfg.dead
        pls = "[playlist]\nNumberOfEntries=2\nFile1=%s\nTitle1=One\nFile2=%s\nVersion=2\n"
        xspf = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<playlist version="1" xmlns="http://xspf.org/ns/0/"><trackList>'
                '<track><title>One</title><location>%s</location></track>'
                '<track><location>%s</location></track></trackList></playlist>\n')
        # The way older stations write it: upper case, a dead first entry.
        asx = ('<ASX version="3.0"><Title>Old</Title>\n'
               '<Entry><Ref HREF="%s" /></Entry>\n<entry><ref href=%s></entry></ASX>\n')
        routes = {
            "/list.pls": ("audio/x-scpls", pls % (mp3, ogg)),
            "/list-wrongtype.pls": ("text/html", pls % (mp3, ogg)),
            "/list.m3u": ("audio/x-mpegurl", "#EXTM3U\n#EXTINF:-1,One\n%s\n%s\n" % (mp3, ogg)),
            "/list-plain": ("text/plain", "%s\n%s\n" % (mp3, ogg)),
            "/list.xspf": ("application/xspf+xml", xspf % (mp3, ogg)),
            "/list-xspf.txt": ("application/octet-stream", xspf % (mp3, ogg)),
            "/list.asx": ("video/x-ms-asf", asx % (dead, mp3)),
            "/list.ogg.pls": ("audio/x-scpls", pls % (ogg, mp3)),
            "/fallback.pls": ("audio/x-scpls", pls % (dead, mp3)),
            "/fallback404.m3u": ("audio/x-mpegurl", "%s/404\n%s\n" % (self.base(), mp3)),
            "/self.m3u": ("audio/x-mpegurl", "#EXTM3U\n%s/self.m3u\n" % self.base()),
            "/self-then-stream.m3u": ("audio/x-mpegurl",
                                      "%s/self-then-stream.m3u\n%s\n" % (self.base(), mp3)),
            "/list-icy.m3u": ("audio/x-mpegurl", "%s/icy.mp3\n" % self.base()),
            "/html": ("text/html; charset=utf-8",
                      "<!DOCTYPE html><html><body>Not here</body></html>\n"),
        }
        if path in routes:
            ctype, text = routes[path]
            return self.send(200, ctype, text.encode())
        if path.startswith("/hostile/"):
            return self.hostile(path)
        if path == "/huge.m3u":
            return self.send(200, "audio/x-mpegurl", self.server.huge)
        if path == "/404":
            return self.send(404, "text/html", b"<html><body>404</body></html>")
        if path == "/station/set":
            return self.set_station()
        if path == "/station/hits":
            return self.send(200, "text/plain", str(self.server.station["hits"]).encode())
        if path == "/station":
            return self.station()
        if path.startswith("/hop/"):
            # /hop/N/rest redirects N times before it reaches /rest, as a
            # station behind a CDN or an http-to-https move does.
            _, _, n, rest = path.split("/", 3)
            target = "/hop/%d/%s" % (int(n) - 1, rest) if int(n) > 1 else "/" + rest
            return self.send(302, "text/html", b"", {"Location": self.base() + target})
        if path == "/redirect":
            return self.send(302, "text/html", b"", {"Location": mp3})
        if path in ("/loop/a", "/loop/b"):
            other = "/loop/b" if path == "/loop/a" else "/loop/a"
            return self.send(302, "text/html", b"", {"Location": self.base() + other})
        if path == "/stall":
            return self.stall("audio/mpeg")
        if path == "/stall-text":
            return self.stall("text/plain")
        if path == "/drip.txt":
            return self.drip()
        if path == "/typed.mp3":
            # Old Shoutcast servers: audio under a vague type, or none at all.
            query = urllib.parse.parse_qs(self.path.partition("?")[2])
            ctype = query.get("type", [None])[0]
            return self.stream(ctype, cfg.dir + "/tone.mp3", loop=True)
        if path == "/burst.mp3":
            # A station whose first 20 MB come as fast as they are read: a
            # time-shift buffer full at once, for the memory benchmarks.
            return self.stream("audio/mpeg", cfg.dir + "/tone.mp3", loop=True,
                               burst=20_000_000)
        if path == "/cut.mp3":
            return self.stream("audio/mpeg", cfg.dir + "/tone.mp3", cut_after=48 * 1024)
        if path == "/tone.mp3":
            data = open(cfg.dir + "/tone.mp3", "rb").read()
            return self.send(200, "audio/mpeg", data)
        if path == "/ua.mp3":
            # Records who asked, for tests of the request headers.
            with open(os.path.join(cfg.dir, "requests.log"), "a") as f:
                f.write("%s|%s\n" % (self.headers.get("User-Agent"),
                                      self.headers.get("Icy-MetaData")))
            return self.stream("audio/mpeg", cfg.dir + "/tone.mp3", loop=True)
        if path == "/throttled.mp3":
            return self.throttled(cfg.dir + "/tone.mp3")
        if path == "/slow-check.mp3":
            # A stream whose answer to a plain request (the player's
            # playlist check, not its pipeline, which asks for ICY titles)
            # takes five seconds.
            if self.headers.get("Icy-MetaData") != "1":
                time.sleep(5)
            return self.stream("audio/mpeg", cfg.dir + "/tone.mp3", loop=True)
        if path in ("/loud.mp3", "/quiet.mp3", "/ticks.mp3"):
            # Two stations of the same tone, 20 dB apart (loud is tone.mp3),
            # and one of ticks.
            name = "tone.mp3" if path == "/loud.mp3" else path[1:]
            return self.stream("audio/mpeg", cfg.dir + "/" + name, loop=True)
        if path == "/live.aac":
            return self.stream("audio/aac", cfg.dir + "/tone.aac", loop=True)
        if path == "/garbage.mp3":
            return self.garbage()
        if path == "/icyflood.mp3":
            return self.icy_flood()
        if path == "/icy.mp3":
            return self.icy()
        if path == "/icy-1251.mp3":  # a Russian title in Windows-1251, unannounced
            return self.icy("Кино - Группа крови", "cp1251")
        if path == "/chained.ogg":
            return self.chained()
        if path == "/hls/start":
            # The "steps" tone as live HLS, its second 0 sent now; as on a
            # station on air for a while, the playlist holds the seconds
            # before (from the end of the cycle).
            if not self.server.steps_durations:
                self.server.steps_durations, self.server.steps_fmp4 = make_steps(cfg.dir)
            self.server.steps_start = time.monotonic() - 100
            return self.send(200, "text/plain", b"ok")
        if path == "/hls/steps.m3u8" and self.server.steps_durations:
            now = time.monotonic() - self.server.steps_start
            return self.send(200, "application/vnd.apple.mpegurl",
                             live_playlist(now, self.server.steps_durations, "steps%05d.ts", 6))
        if path == "/hls/steps-fmp4.m3u8" and self.server.steps_durations:
            now = time.monotonic() - self.server.steps_start
            return self.send(200, "application/vnd.apple.mpegurl",
                             live_playlist(now, self.server.steps_fmp4, "steps-%05d.m4s", 6))
        if path == "/hls/live-fmp4.m3u8":  # the four seconds below as fMP4
            now = time.monotonic() - self.server.started + 12
            return self.send(200, "application/vnd.apple.mpegurl",
                             live_playlist(now, self.server.live_fmp4, "fmp4-%05d.m4s", 4))
        if path == "/hls/live.m3u8":
            # Three copies of one four-second segment, looped: each starts
            # its timestamps over, which decoders ride over; only the loop's
            # start is marked as a discontinuity.
            now = time.monotonic() - self.server.started + 12
            return self.send(200, "application/vnd.apple.mpegurl",
                             live_playlist(now, [3.99] * 3, "seg%d.ts", 3))
        if path == "/hls/live-aes.m3u8":
            # The same, its segments encrypted with AES-128 (made at the first
            # request), which only GStreamer's own HLS source plays.
            hls, key = os.path.join(cfg.dir, "hls"), bytes(range(16))
            with self.server.lock:
                if not os.path.exists(os.path.join(hls, "key.bin")):
                    for i in range(3):
                        subprocess.run(["openssl", "enc", "-aes-128-cbc", "-K", key.hex(),
                                        "-iv", "0" * 32, "-in", os.path.join(hls, "seg0.ts"),
                                        "-out", os.path.join(hls, "segk%d.ts" % i)], check=True)
                    with open(os.path.join(hls, "key.bin"), "wb") as f:
                        f.write(key)
            now = time.monotonic() - self.server.started + 12
            body = live_playlist(now, [3.99] * 3, "segk%d.ts", 3).replace(
                b"#EXT-X-MEDIA", b'#EXT-X-KEY:METHOD=AES-128,URI="key.bin",IV=0x%s\n#EXT-X-MEDIA'
                % (b"0" * 32))
            return self.send(200, "application/vnd.apple.mpegurl", body)
        if path in ("/once/mp3-aac", "/once/ogg"):
            # A station whose stream ends after a while and which, asked again
            # by a client that wants its titles, comes back with AAC where it sent
            # MP3, or with new Ogg chains: first a.ogg, b.ogg, a.ogg and half of
            # b.ogg, then b.ogg and a.ogg in turn. Other requests (a playlist
            # check) get the first answer and do not count.
            with self.server.lock:
                asked = self.server.__dict__.setdefault("once_asked", set())
                first = path not in asked
                if self.headers.get("Icy-MetaData") == "1":
                    asked.add(path)
            if path == "/once/mp3-aac":
                if first:
                    return self.stream("audio/mpeg", cfg.dir + "/tone.mp3")
                return self.stream("audio/aac", cfg.dir + "/tone.aac", loop=True)
            self.send_response(200)
            self.send_header("Content-Type", "application/ogg")
            self.end_headers()
            a, b = (open(cfg.dir + "/" + n, "rb").read() for n in ("a.ogg", "b.ogg"))

            def chains():
                if first:  # ends inside a page
                    yield from (a, b, a, b[:len(b) // 2])
                    return
                while not self.server.stopping:
                    yield from (b, a)
            try:
                # The first answer with little burst: it lasts past the start.
                return self.paced(chains(), 12000, burst=16000 if first else 65536)
            except OSError:
                return None
        if path.startswith("/hls/"):
            name = os.path.basename(path)
            full = os.path.join(cfg.dir, "hls", name)
            if os.path.isfile(full):
                ctype = ("application/vnd.apple.mpegurl" if name.endswith(".m3u8")
                         else "video/mp2t" if name.endswith(".ts") else "audio/mp4")
                return self.send(200, ctype, open(full, "rb").read())
        return self.send(404, "text/plain", b"not found")

    def set_station(self):
        """/station/set?mode=MODE: what /station answers from now on. "http"
        and "icy" stream the tone with an HTTP or a Shoutcast ("ICY 200 OK")
        status line, "down" answers 503, "page" an offline page with 200.
        Streams under way end when the mode changes."""
        query = urllib.parse.parse_qs(self.path.partition("?")[2])
        station = self.server.station
        with self.server.lock:
            station["mode"] = query.get("mode", ["down"])[0]
            station["generation"] += 1
        return self.send(200, "text/plain", b"ok")

    def station(self):
        station = self.server.station
        with self.server.lock:
            station["hits"] += 1
            mode, generation = station["mode"], station["generation"]
        if mode == "down":
            return self.send(503, "text/html", b"<html><body>Off air</body></html>")
        if mode == "page":
            return self.send(200, "text/html; charset=utf-8",
                             b"<!DOCTYPE html><html><body>We are offline</body></html>\n")
        head = "ICY 200 OK" if mode == "icy" else "HTTP/1.0 200 OK"
        self.wfile.write(("%s\r\nContent-Type: audio/mpeg\r\nicy-name: Fixture Station\r\n\r\n"
                          % head).encode())
        data = open(self.server.cfg.dir + "/tone.mp3", "rb").read()

        def chunks():
            while station["generation"] == generation and not self.server.stopping:
                for i in range(0, len(data), 4096):
                    yield data[i:i + 4096]
                    if station["generation"] != generation:
                        return
        try:
            # A short burst: a listener has little left to play once it ends.
            self.paced(chunks(), 16000, burst=8192)
        except OSError:
            pass

    def stall(self, ctype):
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        self.end_headers()
        self.wfile.flush()
        while not self.server.stopping:
            time.sleep(0.2)

    def drip(self):
        """Text that never ends, a line every half second: bytes keep coming,
        so only a reader's own time limit ends it."""
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.end_headers()
        try:
            while not self.server.stopping:
                self.wfile.write(b"# still here\n")
                self.wfile.flush()
                time.sleep(0.5)
        except OSError:
            pass

    def paced(self, chunks, rate, burst=65536):
        """Writes chunks at about `rate` bytes a second after a burst."""
        sent, started = 0, time.monotonic()
        for chunk in chunks:
            self.wfile.write(chunk)
            sent += len(chunk)
            ahead = (sent - burst) / rate - (time.monotonic() - started)
            if ahead > 0:
                time.sleep(ahead)

    def stream(self, ctype, path, cut_after=None, loop=False, burst=65536):
        self.send_response(200)
        if ctype:
            self.send_header("Content-Type", ctype)
        self.end_headers()
        data = open(path, "rb").read()
        if cut_after:
            data = data[:cut_after]

        def chunks():
            while True:
                for i in range(0, len(data), 4096):
                    yield data[i:i + 4096]
                if not loop or self.server.stopping:
                    return
        try:
            self.paced(chunks(), 16000, burst)
        except OSError:
            pass

    def throttled(self, path):
        """The looped file at exactly its bitrate (128 kbit/s), with no burst
        and random stalls of up to 300 ms; what a stall held back is sent as
        soon as it ends, as on a busy link."""
        self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.end_headers()
        data = open(path, "rb").read()
        rate, size = 16000, 1024
        rnd = random.Random(300)
        sent, started = 0, time.monotonic()
        stall_at = started + rnd.uniform(0.2, 1.0)
        try:
            while not self.server.stopping:
                for i in range(0, len(data), size):
                    self.wfile.write(data[i:i + size])
                    sent += len(data[i:i + size])
                    if time.monotonic() >= stall_at:
                        time.sleep(rnd.uniform(0.1, 0.3))
                        stall_at = time.monotonic() + rnd.uniform(0.2, 1.0)
                    ahead = sent / rate - (time.monotonic() - started)
                    if ahead > 0:
                        time.sleep(ahead)
        except OSError:
            pass

    def garbage(self):
        """Endless random bytes sent as MP3."""
        self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.end_headers()

        def chunks():
            while not self.server.stopping:
                yield os.urandom(4096)
        try:
            self.paced(chunks(), 16000)
        except OSError:
            pass

    def icy_flood(self):
        """ICY metadata blocks of the largest size after every 16 bytes of audio."""
        metaint = 16
        self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.send_header("icy-metaint", str(metaint))
        self.end_headers()
        data = open(self.server.cfg.dir + "/tone.mp3", "rb").read()
        text = b"StreamTitle='" + b"x" * 4000 + b"';"
        block = bytes([255]) + (text + b"\0" * 4080)[:4080]

        def chunks():
            while not self.server.stopping:
                for i in range(0, len(data) - metaint, metaint):
                    yield data[i:i + metaint] + block
        try:
            self.paced(chunks(), 64000)
        except OSError:
            pass

    def icy(self, title=None, encoding="latin-1"):
        metaint = 8192
        want_meta = self.headers.get("Icy-MetaData") == "1"
        self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.send_header("icy-name", "Fixture ICY")
        if want_meta:
            self.send_header("icy-metaint", str(metaint))
        self.end_headers()
        data = open(self.server.cfg.dir + "/tone.mp3", "rb").read()
        titles = [(title or self.server.cfg.icy_title).encode(encoding)]

        def chunks():
            n = 0
            while not self.server.stopping:
                for i in range(0, len(data) - metaint, metaint):
                    yield data[i:i + metaint]
                    if want_meta:
                        text = b"StreamTitle='" + titles[n % len(titles)] + b"';"
                        pad = (-len(text)) % 16
                        block = text + b"\0" * pad
                        yield bytes([len(block) // 16]) + block
                    n += 1
        try:
            self.paced(chunks(), 16000)
        except OSError:
            pass

    def chained(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/ogg")
        self.end_headers()
        a = open(self.server.cfg.dir + "/a.ogg", "rb").read()
        b = open(self.server.cfg.dir + "/b.ogg", "rb").read()

        def chunks():
            while not self.server.stopping:
                for part in (a, b):
                    for i in range(0, len(part), 4096):
                        yield part[i:i + 4096]
        try:
            self.paced(chunks(), 12000)
        except OSError:
            pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dir", required=True)
    ap.add_argument("--mp3", default="http://127.0.0.1:9/none.mp3")
    ap.add_argument("--ogg", default="http://127.0.0.1:9/none.ogg")
    ap.add_argument("--dead", default="http://127.0.0.1:9/dead")
    ap.add_argument("--icy-title", default="Café Olé - Fixture")
    cfg = ap.parse_args()
    die_with_parent()
    fmp4 = make_media(cfg.dir)
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.cfg = cfg
    server.stopping = False
    server.lock = threading.Lock()
    server.station = {"mode": "down", "generation": 0, "hits": 0}
    server.started = time.monotonic()
    server.live_fmp4, server.steps_durations, server.steps_fmp4 = fmp4, [], []
    server.steps_start = 0
    lines = ["#EXTM3U", cfg.mp3]
    lines += ["#EXTINF:-1,Filler %d\n%s/404?n=%d" % (i, "http://127.0.0.1:9", i)
              for i in range(50000)]
    server.huge = ("\n".join(lines) + "\n").encode()

    def stop(*_):
        server.stopping = True
        threading.Thread(target=server.shutdown, daemon=True).start()
    signal.signal(signal.SIGTERM, stop)
    print("READY %d" % server.server_port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
