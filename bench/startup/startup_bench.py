#!/usr/bin/env python3
"""Start-up benchmark: time from process start to main window exposed, and
RSS after a few seconds idle, for Orbitune and for a minimal Qt Widgets
window measured in the same run, under a private Xvfb display.

usage: startup_bench.py BUILD_DIR [--runs N] [--idle SECONDS]
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time


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
        # First start seeds the data file; measure it once, then steady state.
        first_ms, _ = measure([app], env, 0.2)
        results = {"minimal Qt window": [], "orbitune": []}
        for _ in range(args.runs):
            results["minimal Qt window"].append(measure([baseline], env, 0.0)[0])
            results["orbitune"].append(measure([app], env, 0.0)[0])
        rss = {"minimal Qt window": measure([baseline], env, args.idle)[1],
               "orbitune": measure([app], env, args.idle)[1]}
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)

    base_ms = statistics.median(results["minimal Qt window"])
    print(f"{'program':<20}{'start-up (median ms)':>22}{'ratio':>8}{'RSS idle (MB)':>16}{'over base':>11}")
    for name in ("minimal Qt window", "orbitune"):
        ms = statistics.median(results[name])
        print(f"{name:<20}{ms:>22.1f}{ms / base_ms:>8.2f}{rss[name]:>16.1f}{rss[name] - rss['minimal Qt window']:>+11.1f}")
    print(f"orbitune first start (creates and seeds data file): {first_ms:.1f} ms")
    print("targets: start-up ratio <= 1.5, idle RSS <= +20 MB over the minimal window")
    print(f"figure|start to window on screen|{statistics.median(results['orbitune']):.2f}|{base_ms:.2f}|ms|<= 1.5x")


if __name__ == "__main__":
    main()
