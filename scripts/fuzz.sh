#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz: every reader of bytes from the network
# or from another program's file) with clang + libFuzzer (ASan, UBSan) in
# their own build directory and runs them one after the other, sharing a
# bounded time, each over its checked-in corpus.
#
#   scripts/fuzz.sh [seconds [target...]]   default 60 s shared by all targets
#   scripts/fuzz.sh --build-only            builds the targets and stops
#
# A target is a fuzz_<name> program the build makes; its corpus is
# tests/fuzz/corpus/<name>/, and tests/fuzz/dict/<name>.dict, if there is
# one, lists the words of its format. Environment: FUZZ_BUILD_DIR (default:
# ../build-fuzz next to the source tree), FUZZ_JOBS (parallel fuzzing
# processes per target, default 1), FUZZ_PARALLEL (targets run at once,
# default 1), FUZZ_BUILD_JOBS (compilers at once, default one a core).
# New inputs libFuzzer finds go to a scratch corpus in the build directory;
# an input that crashes, leaks, hangs or runs out of memory is copied into
# the target's corpus as a regression case and the script fails.
set -euo pipefail

seconds="${1:-60}"
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$src/../build-fuzz}"
jobs="${FUZZ_JOBS:-1}"

cmake -S "$src/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${FUZZ_BUILD_JOBS:-$(nproc)}" >/dev/null
[[ "$seconds" == --build-only ]] && exit 0
shift || true

# Limits per target: the longest input, the time one input may take (s) and
# the memory a run may use (MB). Inputs are far smaller than what the
# readers accept from the network, so a reader that is quadratic in its
# input or blows a small input up shows as a timeout or an oom. The data
# file: an input at the reader's limits (a small binary file whose shared
# references expand to 200,000 values) takes about 9 s under the sanitizers
# on an idle two-core machine, and test.sh runs the fuzzer at the lowest
# priority beside the sanitizer suite, so its timeout is well above that.
# HLS playlists are read up to 1 MB, so that is the longest input there.
limits() {
  case "$1" in
    store) echo 65536 120 3072 ;;
    hls) echo 1048576 10 1024 ;;
    *) echo 65536 10 1024 ;;
  esac
}

targets=()
if (($# > 0)); then
  targets=("$@")
else
  for f in "$build"/fuzz_*; do
    [[ -x "$f" && -f "$f" ]] && targets+=("$(basename "$f")")
  done
fi
((${#targets[@]} > 0)) || { echo "fuzz.sh: no fuzz target in $build" >&2; exit 1; }
share=$((seconds / ${#targets[@]}))
((share >= 5)) || share=5

# One target's run: its summary lines to $build/summary-<name>.txt, its
# exit status to $build/status-<name>.txt.
fuzz_one() {
  local target=$1 name corpus scratch artifacts max_len timeout rss dict run
  name="${target#fuzz_}"
  corpus="$src/tests/fuzz/corpus/$name"
  scratch="$build/corpus/$name"
  artifacts="$build/artifacts/$name"
  mkdir -p "$corpus" "$scratch" "$artifacts"
  rm -f "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*
  read -r max_len timeout rss < <(limits "$name")
  dict=()
  [[ -f "$src/tests/fuzz/dict/$name.dict" ]] && dict=(-dict="$src/tests/fuzz/dict/$name.dict")
  {
    echo "== $target: ${share}s, max_len $max_len, timeout ${timeout}s, rss ${rss} MB"
    run=0
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
    QT_LOGGING_RULES="*.debug=false;*.warning=false" \
      "$build/$target" "$scratch" "$corpus" \
        -max_total_time="$share" -timeout="$timeout" -rss_limit_mb="$rss" -max_len="$max_len" \
        "${dict[@]}" -jobs="$jobs" -workers="$jobs" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" 2>&1 | tee "$build/fuzz-$name.log" |
      grep -E "^#|ERROR|SUMMARY|stat::|invariant" || true
    run=${PIPESTATUS[0]}
    echo "$run" > "$build/status-$name.txt"
  } > "$build/summary-$name.txt"
}

# FUZZ_PARALLEL targets at once (default 1): each still gets its share.
parallel="${FUZZ_PARALLEL:-1}"
running=0
for target in "${targets[@]}"; do
  fuzz_one "$target" &
  running=$((running + 1))
  if ((running >= parallel)); then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

status=0
found=0
for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  corpus="$src/tests/fuzz/corpus/$name"
  artifacts="$build/artifacts/$name"
  cat "$build/summary-$name.txt"
  run=$(cat "$build/status-$name.txt" 2>/dev/null || echo 1)
  ((run == 0)) || { status=1; echo "fuzz.sh: $target failed, see $build/fuzz-$name.log" >&2; }
  for f in "$artifacts"/crash-* "$artifacts"/timeout-* "$artifacts"/oom-* "$artifacts"/leak-*; do
    [[ -e "$f" ]] || continue
    cp "$f" "$corpus/regression-$(basename "$f")"
    echo "fuzz.sh: kept $(basename "$f") as tests/fuzz/corpus/$name/regression-$(basename "$f")"
    found=1
  done
done
if ((found)) || ((status != 0)); then
  echo "fuzz.sh: failure" >&2
  exit 1
fi
echo "fuzz.sh: no find in ${seconds}s over ${#targets[@]} targets; scratch corpora: $(find "$build/corpus" -type f | wc -l) inputs"
