#!/usr/bin/env bash
# Installs what is missing, builds Orbitune and starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBITUNE_BUILD_DIR:-$here/build}

bash "$here/scripts/install-deps.sh"
# Only the app, optimised lightly and without debug information, each layer
# compiled as one file: most of the build's time is the compiler reading Qt's
# headers and generating code, and the player spends its time in GStreamer,
# not in our code.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" \
      -DORBITUNE_UNITY_BATCH=0 -DORBITUNE_BUILD_TESTS=OFF -DORBITUNE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target orbitune
exec "$build/orbitune" "$@"
