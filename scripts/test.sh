#!/usr/bin/env bash
# Installs what is missing, checks the code's formatting, builds Orbitune
# with its tests under AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings are errors) and runs the whole suite in that build; beside the
# build it fuzzes the readers of outside bytes (the data file, playlists,
# streams; a minute shared by all of them, on one core). The benchmarks are configured here and built
# by scripts/bench.sh, which runs them. Pass --quick for a plain build
# without the sanitizers and the fuzzer. Each phase's time is printed at the
# end.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# Most tests wait on servers, sound and timers rather than compute: three
# times as many as there are cores run side by side (the suite then keeps
# about two thirds of two cores busy).
test_jobs=$((jobs * 3))
sanitize=1
[[ "${1:-}" == "--quick" ]] && sanitize=0

phases=()
phase_start=$SECONDS
phase_done() {
  phases+=("$(printf '%-34s %4d s' "$1" $((SECONDS - phase_start)))")
  phase_start=$SECONDS
}
summary() {
  echo "== time by phase =="
  printf '%s\n' "${phases[@]}"
  printf '%-34s %4d s\n' "total" "$SECONDS"
}
trap summary EXIT

bash "$here/scripts/install-deps.sh" --test
phase_done "packages"

echo "== format check =="
bash "$here/scripts/check-format.sh"
phase_done "format check"

# configure_and_build <build dir> [cmake arguments]
configure_and_build() {
  local build=$1; shift
  # Line tables (-g1) are all a failure's backtrace needs, and they compile
  # and link much faster than full debug information.
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORBITUNE_WERROR=ON \
        -DORBITUNE_BUILD_TESTS=ON -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 \
        "$@" >/dev/null
  cmake --build "$build" -j"$jobs"
}

# run_tests <build dir> [ctest arguments]
run_tests() {
  local build=$1; shift
  (cd "$build" && ctest --output-on-failure --timeout 600 -j"$test_jobs" "$@")
}

if ((!sanitize)); then
  echo "== build =="
  configure_and_build "$here/build-test" -DORBITUNE_BUILD_BENCH=ON
  phase_done "build"
  echo "== test =="
  run_tests "$here/build-test"
  phase_done "test"
  exit 0
fi

# One build and one run of the suite: building everything twice (plain and
# with the sanitizers) took most of the command's time, and every test
# already passed in both.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The fuzz pass: the fuzz targets built on one core, then a minute of
# fuzzing, two targets at a time (each target gets its share). Started beside
# the main build, in a session of its own (which the kernel schedules as a
# group beside the build's, so its niceness yields to nothing there), it is
# over before the suite begins: the suite then runs alone, 50 s sooner than
# with the fuzzing beside it, where it also ended 80 s after the suite. One
# build job: beside the suite, on both cores it starved the suite's sound
# under the sanitizers now and then. Its process group is ended with this
# script should the build fail.
mkdir -p "$here/build-fuzz"
FUZZ_BUILD_DIR="$here/build-fuzz" FUZZ_BUILD_JOBS=1 FUZZ_PARALLEL=2 setsid nice -n 19 \
  bash "$here/scripts/fuzz.sh" "${ORBITUNE_FUZZ_SECONDS:-60}" > "$here/build-fuzz/fuzz-pass.log" 2>&1 &
fuzz=$!
trap 'kill -- -"$fuzz" 2>/dev/null || true; summary' EXIT

echo "== build with AddressSanitizer + UBSan =="
# Clang here: it builds the suite with the sanitizers in about 200 s on two
# cores where GCC took 350 to 460, and it is the fuzz targets' compiler too.
# The plain build (--quick, and the app's own) stays with the system's GCC,
# so both compilers' warnings are heard.
configure_and_build "$here/build-asan" -DORBITUNE_SANITIZE=ON -DORBITUNE_BUILD_BENCH=ON \
  -DORBITUNE_BENCH_ON_REQUEST=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
phase_done "build (sanitizers)"

echo "== test with AddressSanitizer + UBSan, fuzz the readers (bounded) =="
status=0
run_tests "$here/build-asan" || status=$?
fuzz_status=0
wait "$fuzz" || fuzz_status=$?
# The fuzz pass's log comes first and the suite's verdict last, so that the
# names of failed tests are what the end of the output shows.
if ((fuzz_status != 0)); then
  cat "$here/build-fuzz/fuzz-pass.log"
else
  tail -n 5 "$here/build-fuzz/fuzz-pass.log"
fi
phase_done "test (sanitizers), fuzz"
failed="$here/build-asan/Testing/Temporary/LastTestsFailed.log"
if ((status != 0)) && [[ -s "$failed" ]]; then
  echo "== tests that failed =="
  cat "$failed"
fi
((status == 0)) || exit "$status"
exit "$fuzz_status"
