#!/usr/bin/env bash
# Builds an optimised tree and runs every benchmark, each against a baseline
# measured in the same run: start-up against a minimal Qt window, the app
# playing against bare gst-launch playbin on the same loopback stream, our
# player in process, the preview's frame cost and the program list with
# 10,000 programs against 10, the song history's recording and search and
# its window over 100,000 songs, recording a stream against playing it, and
# playing on a loopback renderer against the renderer given the station, and
# hostile stations against well-behaved ones.
# Each prints its own table; the figures are
# gathered in one table at the end. Run it on an otherwise idle machine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBITUNE_BENCH_DIR:-$here/build-bench}
runs=${ORBITUNE_BENCH_RUNS:-5}
figures=$(mktemp)
trap 'rm -f "$figures"' EXIT

bash "$here/scripts/install-deps.sh" --test
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORBITUNE_BUILD_TESTS=ON \
      -DORBITUNE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target orbitune orbitune_probed bench_minimal_window \
      bench_playback bench_timeshift bench_app preview_frames list_bench history_bench import_bench \
      bench_cast bench_hostile bench_record

export ORBITUNE_SOURCE_DIR="$here"
# Shows a benchmark's output and keeps its figure lines. A benchmark that
# misses one of its own targets exits 1; the others run all the same.
keep() {
  while IFS= read -r line; do
    printf '%s\n' "$line"
    case $line in figure\|*) printf '%s\n' "$line" >>"$figures" ;; esac
  done
}
run() { "$@" || echo "(exit status $? from $1)"; }

echo "== start-up =="
run python3 "$here/bench/startup/startup_bench.py" "$build" --runs $((runs + 2)) 2>&1 | keep
echo "== the app playing, against gst-launch playbin =="
(cd "$build" && run ./bench/playback/bench_app --runs "$runs" --seconds 20) 2>&1 | keep
echo "== our player in process =="
(cd "$build" && QT_QPA_PLATFORM=offscreen run ./bench/playback/bench_playback --seconds 10 --cycles 100) 2>&1 | keep
echo "== time-shift: live, skips and an outage, against playbin and the sink's own delay =="
(cd "$build" && run ./bench/playback/bench_timeshift --runs "$runs") 2>&1 | keep
echo "== one preview frame =="
(cd "$build" && QT_QPA_PLATFORM=offscreen run ./bench/preview/preview_frames) 2>&1 | keep
echo "== program list =="
(cd "$build" && QT_QPA_PLATFORM=offscreen run ./bench/list/list_bench) 2>&1 | keep
echo "== song history =="
(cd "$build" && QT_QPA_PLATFORM=offscreen run ./bench/history/history_bench) 2>&1 | keep
echo "== importing station lists =="
(cd "$build" && run ./bench/import/import_bench) 2>&1 | keep
echo "== recording, against playing alone =="
(cd "$build" && run ./bench/record/bench_record --seconds 45) 2>&1 | keep
echo "== playing on a renderer (gmediarender), against it given the station =="
(cd "$build" && run ./bench/cast/bench_cast --runs "$runs" --seconds 20) 2>&1 | keep
echo "== hostile stations, against well-behaved ones =="
(cd "$build" && run ./bench/hostile/bench_hostile --seconds "${ORBITUNE_BENCH_HOSTILE_SECONDS:-60}") 2>&1 | keep

echo
echo "Summary ($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
printf '| %-38s | %12s | %12s | %6s | %-9s |\n' figure Orbitune baseline ratio goal
printf '|%s|%s|%s|%s|%s|\n' "----------------------------------------" "--------------" \
       "--------------" "--------" "-----------"
while IFS='|' read -r _ name ours base unit goal; do
  ratio=$(awk -v a="$ours" -v b="$base" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "-" }')
  printf '| %-38s | %12s | %12s | %6s | %-9s |\n' "$name" "$ours $unit" "$base $unit" "$ratio" "$goal"
done <"$figures"
