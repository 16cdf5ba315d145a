#!/usr/bin/env python3
"""A stand-in Google Cast receiver on loopback, after the published Cast v2
protocol: TLS with a self-signed certificate, frames of a 4-byte big-endian
length and a CastMessage protocol buffer, and the connection, heartbeat,
receiver and media namespaces, answered with RECEIVER_STATUS and MEDIA_STATUS
as devices send them (also by themselves, with requestId 0). A LOADed address
is fetched and played with gst-launch-1.0 into the PulseAudio sink --sink.

  --mode normal   as above
  --mode garbage  after CONNECT, sends frames that are no message, payloads
                  that are no JSON, and a burst of statuses; answers PINGs
  --mode huge     after CONNECT, announces a 10 MB frame and sends it
  --mode stall    after CONNECT, answers nothing and reads nothing

Prints "READY <port>", then a line for what it is told: "CONNECT <dest>",
"LAUNCH", "LOAD <media as JSON>", "PLAY", "PAUSE", "STOP", "VOLUME <level>",
"MUTED <0|1>", "FETCHING", "IMAGE <content type> <bytes in base64>" (the
LOADed picture, fetched as a device shows it; "IMAGE FAILED <why>"), "CLOSED". Lines on standard input:
  TAKEOVER   another sender launches its own app (a new session)
  INTERRUPT  another sender loads something else (a new media session)
  REMOTE     the device's own remote stops the media (IDLE, CANCELLED)

    standin_cast.py --mode MODE --cert CERT --key KEY [--sink SINK]
"""
import argparse
import base64
import json
import os
import socket
import ssl
import struct
import subprocess
import sys
import threading
import urllib.request
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from parent_death import die_with_parent  # noqa: E402

CONNECTION = "urn:x-cast:com.google.cast.tp.connection"
HEARTBEAT = "urn:x-cast:com.google.cast.tp.heartbeat"
RECEIVER = "urn:x-cast:com.google.cast.receiver"
MEDIA = "urn:x-cast:com.google.cast.media"
MEDIA_APP = "CC1AD845"
say_lock = threading.Lock()
lock = threading.Lock()
device = {"app": None, "session": None, "transport": None, "media": None, "media_id": 0,
          "state": "IDLE", "level": 1.0, "muted": False, "player": None, "conns": []}


def say(*words):
    with say_lock:
        sys.stdout.write(" ".join(str(w) for w in words) + "\n")
        sys.stdout.flush()


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append((n & 0x7F) | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def encode(source, dest, ns, payload):
    def field(number, data):
        return varint(number << 3 | 2) + varint(len(data)) + data
    body = varint(1 << 3) + varint(0) + field(2, source.encode()) + field(3, dest.encode())
    body += field(4, ns.encode()) + varint(5 << 3) + varint(0)
    body += field(6, json.dumps(payload).encode())
    return struct.pack(">I", len(body)) + body


def decode(body):
    fields, at = {}, 0

    def varint():
        nonlocal at
        value, shift = 0, 0
        while body[at] & 0x80:
            value, shift, at = value | (body[at] & 0x7F) << shift, shift + 7, at + 1
        value, at = value | body[at] << shift, at + 1
        return value
    while at < len(body):
        tag = varint()
        size = varint() if tag & 7 == 2 else None
        fields[tag >> 3] = body[at:at + size] if size is not None else varint()
        at += size or 0
    return (fields.get(2, b"").decode(), fields.get(3, b"").decode(), fields.get(4, b"").decode(),
            json.loads(fields.get(6, b"{}")))


def receiver_status(request_id=0):
    apps = []
    if device["app"]:
        apps.append({"appId": device["app"], "displayName": "Default Media Receiver",
                     "namespaces": [{"name": MEDIA}], "sessionId": device["session"],
                     "statusText": "Ready To Cast", "transportId": device["transport"]})
    return {"type": "RECEIVER_STATUS", "requestId": request_id,
            "status": {"applications": apps,
                       "volume": {"level": device["level"], "muted": device["muted"]}}}


def media_status(request_id=0, idle_reason=None):
    if not device["media"]:
        return {"type": "MEDIA_STATUS", "requestId": request_id, "status": []}
    status = {"mediaSessionId": device["media_id"], "playbackRate": 1,
              "playerState": device["state"], "currentTime": 0, "supportedMediaCommands": 15,
              "volume": {"level": device["level"], "muted": device["muted"]},
              "media": device["media"]}
    if idle_reason:
        status["idleReason"] = idle_reason
    return {"type": "MEDIA_STATUS", "requestId": request_id, "status": [status]}


def stop_player():
    player = device["player"]
    device["player"] = None
    if player:
        player.terminate()
        player.wait()


def start_player(url, sink):
    stop_player()
    if not sink:
        return
    say("FETCHING")
    device["player"] = subprocess.Popen(
        ["gst-launch-1.0", "-q", "souphttpsrc", "location=" + url, "!", "decodebin", "!",
         "audioconvert", "!", "audioresample", "!", "pulsesink", "device=" + sink],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)


def fetch_image(media):
    images = (media.get("metadata") or {}).get("images") or []
    if not images:
        return

    def fetch(url):
        try:
            with urllib.request.urlopen(url, timeout=5) as reply:
                body = reply.read(2 * 1024 * 1024)
                say("IMAGE", reply.headers.get("Content-Type"), base64.b64encode(body).decode())
        except Exception as error:  # noqa: BLE001 - told to the test as it is
            say("IMAGE", "FAILED", str(error).replace("\n", " "))
    threading.Thread(target=fetch, args=(images[0].get("url", ""),), daemon=True).start()


class Connection:
    def __init__(self, sock, args):
        self.sock, self.args = sock, args
        self.write_lock = threading.Lock()

    def send(self, source, dest, ns, payload):
        with self.write_lock:
            try:
                self.sock.sendall(encode(source, dest, ns, payload))
            except OSError:
                pass


    def hostile(self):
        if self.args.mode == "huge":
            with self.write_lock:
                self.sock.sendall(struct.pack(">I", 10 * 1024 * 1024))
                try:
                    for _ in range(160):
                        self.sock.sendall(b"\x08" * 65536)
                except OSError:
                    say("CUT")
        elif self.args.mode == "garbage":
            for i in range(2000):
                with self.write_lock:
                    junk = os.urandom(200 + i % 300)
                    self.sock.sendall(struct.pack(">I", len(junk)) + junk)
                self.send("receiver-0", "sender-0", RECEIVER, "not an object")
                with self.write_lock:
                    body = encode("receiver-0", "sender-0", RECEIVER, {})[4:]
                    body = body[:-2] + b"{x"
                    self.sock.sendall(struct.pack(">I", len(body)) + body)
                self.send("receiver-0", "*", RECEIVER, receiver_status())
            say("GARBAGE_SENT")

    def serve(self):
        hostile_started = False
        stream = self.sock.makefile("rb")
        while True:
            try:
                head = stream.read(4)
                body = stream.read(struct.unpack(">I", head)[0]) if len(head) == 4 else b""
            except OSError:
                break
            if not body:
                break
            source, dest, ns, payload = decode(body)
            kind = payload.get("type")
            rid = payload.get("requestId", 0)
            if ns == CONNECTION:
                say(kind, dest)
                if self.args.mode == "stall":
                    threading.Event().wait(3600)
                if self.args.mode in ("garbage", "huge") and not hostile_started:
                    hostile_started = True
                    threading.Thread(target=self.hostile, daemon=True).start()
            elif ns == HEARTBEAT and kind == "PING":
                self.send(dest, source, HEARTBEAT, {"type": "PONG"})
            elif ns == RECEIVER:
                self.receiver(source, kind, rid, payload)
            elif ns == MEDIA:
                self.media(source, dest, kind, rid, payload)
        say("CLOSED")

    def receiver(self, source, kind, rid, payload):
        with lock:
            if kind == "LAUNCH":
                say("LAUNCH", payload.get("appId"))
                if device["app"] != payload.get("appId"):
                    device["app"] = payload.get("appId")
                    device["session"] = str(uuid.uuid4())
                    device["transport"] = "web-" + device["session"][:8]
            elif kind == "STOP":
                say("STOP")
                device["app"] = device["session"] = device["transport"] = device["media"] = None
                stop_player()
            elif kind == "SET_VOLUME":
                volume = payload.get("volume", {})
                if "level" in volume:
                    device["level"] = volume["level"]
                    say("VOLUME", "%.2f" % volume["level"])
                if "muted" in volume:
                    device["muted"] = volume["muted"]
                    say("MUTED", int(volume["muted"]))
            answer = receiver_status(rid)
        self.send("receiver-0", source, RECEIVER, answer)

    def media(self, source, dest, kind, rid, payload):
        with lock:
            if dest != device["transport"]:
                return
            if kind == "LOAD":
                say("LOAD", json.dumps(payload.get("media"), sort_keys=True))
                device["media"] = payload.get("media")
                device["media_id"] += 1
                device["state"] = "PLAYING"
                start_player(device["media"]["contentId"], self.args.sink)
                fetch_image(device["media"])
            elif kind in ("PLAY", "PAUSE", "STOP") and payload.get("mediaSessionId") == device["media_id"]:
                say(kind)
                device["state"] = {"PLAY": "PLAYING", "PAUSE": "PAUSED", "STOP": "IDLE"}[kind]
                if kind == "STOP":
                    stop_player()
            answer = media_status(rid)
        self.send(dest, source, MEDIA, answer)


def commands(args):
    for line in sys.stdin:
        word = line.strip()
        with lock:
            conns = list(device["conns"])
            if word == "TAKEOVER":
                device["session"] = str(uuid.uuid4())
                device["transport"] = "web-" + device["session"][:8]
                device["media"] = None
                stop_player()
                for c in conns:
                    c.send("receiver-0", "*", RECEIVER, receiver_status())
            elif word in ("INTERRUPT", "REMOTE"):
                reason = "INTERRUPTED" if word == "INTERRUPT" else "CANCELLED"
                device["state"] = "IDLE"
                stop_player()
                for c in conns:
                    c.send(device["transport"], "*", MEDIA, media_status(0, reason))
                if word == "INTERRUPT":
                    device["media_id"] += 1
                    device["state"] = "PLAYING"
            say("DONE", word)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="normal")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--sink", default="")
    args = parser.parse_args()
    die_with_parent()
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    threading.Thread(target=commands, args=(args,), daemon=True).start()
    say("READY", listener.getsockname()[1])
    try:
        while True:
            raw, _ = listener.accept()
            try:
                sock = context.wrap_socket(raw, server_side=True)
            except (ssl.SSLError, OSError):
                raw.close()
                continue
            conn = Connection(sock, args)
            with lock:
                device["conns"].append(conn)
            threading.Thread(target=conn.serve, daemon=True).start()
    finally:
        stop_player()


if __name__ == "__main__":
    main()
