#!/usr/bin/env bash
# Installs what is missing, builds Orbitune and starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBITUNE_BUILD_DIR:-$here/build}

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DORBITUNE_BUILD_TESTS=OFF -DORBITUNE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target orbitune
exec "$build/orbitune" "$@"
