#!/usr/bin/env bash
# Fails when a C++ file of the product, its tests or its benchmarks differs
# from what clang-format (with the repository's .clang-format) would make it.
# Run `clang-format -i <file>` to fix one.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
# Every C++ file the repository holds, wherever it is.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files as clang-format makes them"
