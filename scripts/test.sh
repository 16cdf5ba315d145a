#!/usr/bin/env bash
# Installs what is missing, checks the code's formatting, builds Orbitune
# with its tests (warnings are errors) and runs the whole suite, then does the same under AddressSanitizer
# and UndefinedBehaviorSanitizer, and fuzzes the data-file reader for a
# minute. Pass --quick to skip the sanitizer and fuzz passes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
sanitize=1
[[ "${1:-}" == "--quick" ]] && sanitize=0

bash "$here/scripts/install-deps.sh" --test

echo "== format check =="
bash "$here/scripts/check-format.sh"

# run_suite <build dir> [ctest arguments --] [cmake arguments]
run_suite() {
  local build=$1; shift
  local select=()
  if [[ " $* " == *" -- "* ]]; then
    while [[ $1 != -- ]]; do select+=("$1"); shift; done
    shift
  fi
  # Line tables (-g1) are all a failure's backtrace needs, and they
  # compile and link much faster than full debug information.
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORBITUNE_WERROR=ON \
        -DORBITUNE_BUILD_TESTS=ON -DORBITUNE_BUILD_BENCH=ON \
        -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 "$@" >/dev/null
  cmake --build "$build" -j"$jobs"
  (cd "$build" && ctest --output-on-failure --timeout 600 -j"$jobs" "${select[@]}")
}

echo "== build and test =="
run_suite "$here/build-test"

if ((sanitize)); then
  echo "== build and test with AddressSanitizer + UBSan =="
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  # Packaging and the include-layering check run no code of ours: the first
  # pass covers them.
  run_suite "$here/build-asan" -E '^(system_deb|layering_refused)$' -- \
    -DORBITUNE_SANITIZE=ON -DORBITUNE_BUILD_BENCH=OFF

  echo "== fuzz the data-file reader (bounded) =="
  FUZZ_BUILD_DIR="$here/build-fuzz" bash "$here/scripts/fuzz.sh" "${ORBITUNE_FUZZ_SECONDS:-60}"
fi
