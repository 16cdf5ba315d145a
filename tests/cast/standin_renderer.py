#!/usr/bin/env python3
"""A stand-in UPnP MediaRenderer on loopback for the Play On tests.

Answers SSDP searches on 127.0.0.1 and the SOAP actions Orbitune sends.
  --mode sonos    says it plays x-rincon-mp3radio (as Sonos does) and AAC
                  over HTTP; prints "URI <CurrentURI>" for each
                  SetAVTransportURI and "STOP" for each Stop, and reports
                  PLAYING after a Play.
  --mode foreign  like sonos, but its description sends every control URL
                  to another host (127.0.0.2), which prints "FOREIGN <path>"
                  for each request it gets.
  --mode endless  serves its description as an endless chunked body (20 MB/s),
  --mode trickle  or a byte every 300 ms; prints "CUT <bytes sent>" once the
                  reader hangs up.
  --mode crowd    answers each search as 40 renderers ("<name> <n>").
  --mode hostile  answers slowly (GetProtocolInfo: 30 s), or GetTransportInfo
                  in turn with garbage, a 20 MB reply and a 30 s wait;
                  SetVolume with a 20 MB reply.
Prints "READY <port>" once it listens, and dies with its parent. Lines on
its standard input change how it answers from then on (sonos and foreign):
  STATE <state>      GetTransportInfo reports <state> until the next Play/Stop
  MISS <n>           the next <n> GetTransportInfo get no answer (3 s wait)
  SLOWURI <s> ok|fault  the next SetAVTransportURI is answered after <s>
                     seconds, taken or refused; "ANSWERED" is printed then
  SLOWSTOP <s>       the next Stop is answered after <s> seconds
Each Play prints "PLAY", each answer to GetTransportInfo "POLL <state>" (or
"MISSED"), each fetch of the description "DESCRIBED".

    standin_renderer.py --mode MODE --name NAME --uuid UUID
"""
import argparse
import os
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from parent_death import die_with_parent  # noqa: E402

RENDERER = "urn:schemas-upnp-org:device:MediaRenderer:1"
SERVICES = [("AVTransport", "avt"), ("RenderingControl", "rc"), ("ConnectionManager", "cm")]
CROWD = 40
SONOS_SINK = "x-rincon-mp3radio:*:*:*,http-get:*:audio/mp4:*,http-get:*:audio/aac:*"
state = {"transport": "STOPPED", "polls": 0, "miss": 0, "slow_uri": None, "slow_stop": 0}
lock = threading.Lock()
say_lock = threading.Lock()


def say(*words):
    """One whole line at a time, whichever thread says it."""
    with say_lock:
        sys.stdout.write(" ".join(str(w) for w in words) + "\n")
        sys.stdout.flush()


def description(name, uuid, control_base=""):
    services = "".join(
        f"<service><serviceType>urn:schemas-upnp-org:service:{s}:1</serviceType>"
        f"<serviceId>urn:upnp-org:serviceId:{s}</serviceId><SCPDURL>/scpd/{p}.xml</SCPDURL>"
        f"<controlURL>{control_base}/ctl/{p}</controlURL><eventSubURL>/evt/{p}</eventSubURL>"
        f"</service>"
        for s, p in SERVICES)
    return (f'<?xml version="1.0"?><root xmlns="urn:schemas-upnp-org:device-1-0">'
            f"<specVersion><major>1</major><minor>0</minor></specVersion><device>"
            f"<deviceType>{RENDERER}</deviceType><friendlyName>{name}</friendlyName>"
            f"<manufacturer>Test</manufacturer><modelName>Stand-in</modelName>"
            f"<UDN>uuid:{uuid}</UDN><serviceList>{services}</serviceList></device></root>")


def soap_reply(action, service, values):
    body = "".join(f"<{k}>{v}</{k}>" for k, v in values.items())
    return ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"'
            ' s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            f'<u:{action}Response xmlns:u="urn:schemas-upnp-org:service:{service}:1">{body}'
            f"</u:{action}Response></s:Body></s:Envelope>").encode()


def make_handler(args):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *a):
            pass

        def send(self, body, kind="text/xml"):
            self.send_response(200)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            if self.path == "/description.xml" and args.mode in ("endless", "trickle"):
                say("DESCRIBED")
                self.send_response(200)
                self.send_header("Content-Type", "text/xml")
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                piece = b"<!-- " + b"x" * 65536 + b" -->" if args.mode == "endless" else b" "
                chunk = b"%x\r\n%s\r\n" % (len(piece), piece)
                sent = 0
                try:
                    while True:
                        self.wfile.write(chunk)
                        self.wfile.flush()
                        sent += len(chunk)
                        # 20 MB/s, or a byte every 300 ms.
                        time.sleep(0.003 if args.mode == "endless" else 0.3)
                except OSError:
                    say("CUT", sent)
                    return
            if self.path.startswith("/crowd/"):
                n = self.path.split("/")[2]
                say("DESCRIBED")
                return self.send(description(f"{args.name} {n}", f"{args.uuid}-{n}").encode())
            if self.path == "/description.xml":
                say("DESCRIBED")
                base = f"http://127.0.0.2:{args.foreign_port}/admin/factory-reset" \
                    if args.mode == "foreign" else ""
                self.send(description(args.name, args.uuid, base).encode())
            else:
                self.send(b'<?xml version="1.0"?><scpd xmlns="urn:schemas-upnp-org:service-1-0"/>')

        def send_fault(self):
            body = ('<?xml version="1.0"?><s:Envelope '
                    'xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><s:Fault>'
                    '<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>'
                    '<UPnPError xmlns="urn:schemas-upnp-org:control-1-0"><errorCode>714'
                    '</errorCode><errorDescription>Illegal MIME-type</errorDescription>'
                    '</UPnPError></detail></s:Fault></s:Body></s:Envelope>').encode()
            self.send_response(500)
            self.send_header("Content-Type", 'text/xml; charset="utf-8"')
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode()
            soap = self.headers.get("SOAPACTION", "").strip('"')
            service = soap.split(":")[-2]
            action = soap.split("#")[-1]
            values = {}
            if action == "GetProtocolInfo":
                if args.mode == "hostile":
                    time.sleep(30)
                values = {"Source": "", "Sink": SONOS_SINK}
            elif action == "SetAVTransportURI":
                uri = body.split("<CurrentURI>")[1].split("</CurrentURI>")[0]
                say("URI", uri)
                with lock:
                    slow, state["slow_uri"] = state["slow_uri"], None
                if slow:
                    time.sleep(slow[0])
                    if slow[1] == "fault":
                        self.send_fault()
                    else:
                        self.send(soap_reply(action, service, values))
                    say("ANSWERED")
                    return
            elif action == "Play":
                state["transport"] = "PLAYING"
                say("PLAY")
            elif action == "Stop":
                state["transport"] = "STOPPED"
                say("STOP")
                with lock:
                    slow, state["slow_stop"] = state["slow_stop"], 0
                time.sleep(slow)
            elif action == "SetVolume" and args.mode == "hostile":
                return self.send(b" " * (20 * 1024 * 1024))
            elif action == "GetTransportInfo":
                if args.mode == "hostile":
                    state["polls"] += 1
                    turn = state["polls"] % 3
                    if turn == 0:
                        return self.send(b"\x00garbage<<<" * 100)
                    if turn == 1:
                        return self.send(b" " * (20 * 1024 * 1024))
                    time.sleep(30)
                with lock:
                    missed = state["miss"] > 0
                    state["miss"] -= int(missed)
                if missed:
                    say("MISSED")
                    time.sleep(3)
                    return
                say("POLL", state["transport"])
                values = {"CurrentTransportState": state["transport"],
                          "CurrentTransportStatus": "OK", "CurrentSpeed": "1"}
            self.send(soap_reply(action, service, values))

    return Handler


def answer_searches(args, port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("0.0.0.0", 1900))
    group = struct.pack("4s4s", socket.inet_aton("239.255.255.250"), socket.inet_aton("127.0.0.1"))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, group)
    while True:
        data, sender = sock.recvfrom(4096)
        text = data.decode(errors="replace")
        if not text.startswith("M-SEARCH") or sender[0] != "127.0.0.1":
            continue
        if RENDERER not in text and "ssdp:all" not in text:
            continue
        devices = [(f"/crowd/{n}", f"{args.uuid}-{n}") for n in range(CROWD)] \
            if args.mode == "crowd" else [("/description.xml", args.uuid)]
        for path, uuid in devices:
            reply = (f"HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\n"
                     f"LOCATION: http://127.0.0.1:{port}{path}\r\n"
                     f"SERVER: Linux/1 UPnP/1.0 Standin/1\r\n"
                     f"ST: {RENDERER}\r\nUSN: uuid:{uuid}::{RENDERER}\r\n\r\n")
            sock.sendto(reply.encode(), sender)


def follow_commands():
    for line in sys.stdin:
        word = line.split()
        with lock:
            if word[:1] == ["STATE"]:
                state["transport"] = word[1]
            elif word[:1] == ["MISS"]:
                state["miss"] = int(word[1])
            elif word[:1] == ["SLOWSTOP"]:
                state["slow_stop"] = float(word[1])
            elif word[:1] == ["SLOWURI"]:
                state["slow_uri"] = (float(word[1]), word[2])


def serve_foreign(args):
    class Foreign(BaseHTTPRequestHandler):
        def log_message(self, *a):
            pass

        def do_GET(self):
            say("FOREIGN", self.path)
            self.send_response(404)
            self.end_headers()

        do_POST = do_GET

    server = ThreadingHTTPServer(("127.0.0.2", 0), Foreign)
    args.foreign_port = server.server_address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["sonos", "hostile", "foreign", "endless", "trickle", "crowd"],
                        required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--uuid", required=True)
    args = parser.parse_args()
    die_with_parent()
    if args.mode == "foreign":
        serve_foreign(args)
    threading.Thread(target=follow_commands, daemon=True).start()
    server = ThreadingHTTPServer(("127.0.0.1", 0), make_handler(args))
    server.daemon_threads = True
    port = server.server_address[1]
    threading.Thread(target=answer_searches, args=(args, port), daemon=True).start()
    say("READY", port)
    server.serve_forever()


if __name__ == "__main__":
    main()
