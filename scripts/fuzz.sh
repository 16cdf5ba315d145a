#!/usr/bin/env bash
# Builds the store fuzz target with clang + libFuzzer (ASan, UBSan) in its own
# build directory and runs it for a bounded time over the checked-in corpus.
#
#   scripts/fuzz.sh [seconds]        default 60
#   scripts/fuzz.sh --build-only     builds the target and stops
#
# Environment: FUZZ_BUILD_DIR (default: ../build-fuzz next to the source
# tree), FUZZ_JOBS (parallel fuzzing processes, default 1).
# New inputs libFuzzer finds go to a scratch corpus in the build directory;
# an input that crashes is copied into tests/fuzz/corpus/store/ as a regression case
# and the script fails.
set -euo pipefail

seconds="${1:-60}"
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$src/../build-fuzz}"
jobs="${FUZZ_JOBS:-1}"
corpus="$src/tests/fuzz/corpus/store"

cmake -S "$src/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
[[ "$seconds" == --build-only ]] && exit 0

scratch="$build/corpus"
artifacts="$build/artifacts"
mkdir -p "$scratch" "$artifacts"
rm -f "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*

# An input at the reader's limits (a small binary file whose shared
# references expand to 200,000 values) takes about 9 s in the fuzz target
# under the sanitizers on an idle two-core machine, and test.sh runs the
# fuzzer at the lowest priority beside the sanitizer suite: the timeout is
# for hangs and blow-ups, well above that.
status=0
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
QT_LOGGING_RULES="*.debug=false" \
  "$build/fuzz_store" "$scratch" "$corpus" \
    -max_total_time="$seconds" -timeout=120 -rss_limit_mb=3072 -max_len=65536 \
    -jobs="$jobs" -workers="$jobs" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" 2>&1 | tee "$build/fuzz.log" | grep -E "^#|ERROR|SUMMARY|stat::|invariant" || true
status=${PIPESTATUS[0]}

found=0
for f in "$artifacts"/crash-* "$artifacts"/timeout-* "$artifacts"/oom-* "$artifacts"/leak-*; do
  [[ -e "$f" ]] || continue
  cp "$f" "$corpus/regression-$(basename "$f")"
  echo "fuzz.sh: kept $(basename "$f") as tests/fuzz/corpus/store/regression-$(basename "$f")"
  found=1
done
if ((found)) || ((status != 0)); then
  echo "fuzz.sh: failure, see $build/fuzz.log" >&2
  exit 1
fi
echo "fuzz.sh: no crash in ${seconds}s; scratch corpus: $(ls "$scratch" | wc -l) inputs"
