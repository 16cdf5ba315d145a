#!/usr/bin/env python3
"""Start-up benchmark: time from process start to main window exposed, and
RSS after a few seconds idle, for Orbitune and for a minimal Qt Widgets
window measured in the same run, under a private Xvfb display. The programs'
pictures are served on loopback and are in the disk cache when it is
measured, as after a first start with the network up.

usage: startup_bench.py BUILD_DIR [--runs N] [--idle SECONDS]
"""
import argparse
import http.server
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import struct
import tempfile
import threading
import time
import zlib


def png(width=120, height=120):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + b"".join(bytes([x % 256, y % 256, 128]) for x in range(width))
                    for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


def serve_picture():
    body = png()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "max-age=86400")
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/picture.png"


def point_pictures_at(data_home, url):
    """Every program's picture in the data file the first start wrote."""
    for root, _, files in os.walk(data_home):
        if "data.plist" in files:
            path = os.path.join(root, "data.plist")
            with open(path) as f:
                text = f.read()
            text = re.sub(r"(<key>image</key>\s*<string>)[^<]*(</string>)", rf"\g<1>{url}\g<2>", text)
            with open(path, "w") as f:
                f.write(text)
            return True
    return False


def start_xvfb():
    for display in range(90, 140):
        if os.path.exists(f"/tmp/.X11-unix/X{display}") or os.path.exists(f"/tmp/.X{display}-lock"):
            continue
        proc = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{display}"):
                return proc, f":{display}"
            if proc.poll() is not None:
                break
            time.sleep(0.05)
        proc.kill()
        proc.wait()
    sys.exit("could not start Xvfb")


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def measure(cmd, env, idle):
    t0 = time.monotonic_ns()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        line = proc.stdout.readline()
        if not line.startswith("exposed "):
            raise RuntimeError(f"{cmd[0]} exited without showing a window")
        startup_ms = (int(line.split()[1]) - t0) / 1e6
        time.sleep(idle)
        rss = rss_kb(proc.pid) / 1024.0
        return startup_ms, rss
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--idle", type=float, default=5.0)
    args = ap.parse_args()
    app = os.path.join(args.build, "bench", "startup", "orbitune_probed")
    baseline = os.path.join(args.build, "bench", "startup", "bench_minimal_window")

    xvfb, display = start_xvfb()
    home = tempfile.mkdtemp(prefix="orbitune-bench-")
    try:
        runtime = os.path.join(home, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", ORBITUNE_REPORT_EXPOSED="1",
                   ORBITUNE_NO_SYSLOG="1", XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_CACHE_HOME=os.path.join(home, "cache"), XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_RUNTIME_DIR=runtime)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        # First start seeds the data file; measure it once, then steady state
        # (one more start fetches the pictures into the disk cache).
        first_ms, _ = measure([app], env, 0.2)
        picture_server, picture = serve_picture()
        if not point_pictures_at(os.path.join(home, "data"), picture):
            sys.exit("the first start wrote no data file")
        measure([app], env, 2.0)
        results = {"minimal Qt window": [], "orbitune": []}
        for _ in range(args.runs):
            results["minimal Qt window"].append(measure([baseline], env, 0.0)[0])
            results["orbitune"].append(measure([app], env, 0.0)[0])
        rss = {"minimal Qt window": measure([baseline], env, args.idle)[1],
               "orbitune": measure([app], env, args.idle)[1]}
    finally:
        if "picture_server" in locals():
            picture_server.shutdown()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)

    base_ms = statistics.median(results["minimal Qt window"])
    print(f"{'program':<20}{'start-up (median ms)':>22}{'ratio':>8}{'RSS idle (MB)':>16}{'over base':>11}")
    for name in ("minimal Qt window", "orbitune"):
        ms = statistics.median(results[name])
        print(f"{name:<20}{ms:>22.1f}{ms / base_ms:>8.2f}{rss[name]:>16.1f}{rss[name] - rss['minimal Qt window']:>+11.1f}")
    print(f"orbitune first start (creates and seeds data file): {first_ms:.1f} ms")
    print("targets: start-up ratio <= 1.3, idle RSS <= 55 MB")
    ratio = statistics.median(results['orbitune']) / base_ms
    print(f"figure|start to window on screen|{statistics.median(results['orbitune']):.2f}|{base_ms:.2f}|ms|<= 1.3x")
    print(f"figure|resident memory idle|{rss['orbitune']:.1f}|{rss['minimal Qt window']:.1f}|MB|<= 55 MB")
    return 0 if ratio <= 1.3 and rss["orbitune"] <= 55 else 1


if __name__ == "__main__":
    sys.exit(main())
