#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a plain debug build, then one under
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests that run threads once more under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DTALLYVET_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== debug build =="
run_suite build/debug
echo "== address and undefined-behaviour sanitizers =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build/asan -DTALLYVET_SANITIZE=ON
echo "== thread sanitizer: the tests that run threads =="
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTALLYVET_BENCH=OFF -DTALLYVET_GUI=OFF \
  -DTALLYVET_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target side_by_side_test row_pipe_test
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -R '^(side_by_side_test|row_pipe_test)$'
