#!/usr/bin/env bash
# Builds an optimised tree and runs every benchmark: start-up against a
# minimal Qt window, playback against bare gst-launch playbin, and the
# program list with 10,000 programs. Each prints its own table.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBITUNE_BENCH_DIR:-$here/build-bench}

bash "$here/scripts/install-deps.sh" --test
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORBITUNE_BUILD_TESTS=ON \
      -DORBITUNE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target orbitune orbitune_probed bench_minimal_window bench_playback list_bench

echo "== start-up =="
python3 "$here/bench/startup/startup_bench.py" "$build"
echo "== playback =="
(cd "$build" && ORBITUNE_SOURCE_DIR="$here" QT_QPA_PLATFORM=offscreen ./bench/playback/bench_playback)
echo "== program list =="
(cd "$build" && ORBITUNE_SOURCE_DIR="$here" QT_QPA_PLATFORM=offscreen ./bench/list/list_bench)
