#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a plain debug build, then one under
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests that run threads once more under
# ThreadSanitizer; then runs each fuzz target for a short while (FUZZ_SECONDS each, 30 by default;
# 0 skips them) from its seed corpus, with the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh

# A throwaway PostgreSQL server for the server-host tests, stopped again however the run ends.
pg_parent=$(mktemp -d)
chmod 755 "$pg_parent"
trap 'bash scripts/pg-server.sh stop "$pg_parent/pg"; rm -rf "$pg_parent"' EXIT
TALLYVET_TEST_PG_ODBC=$(bash scripts/pg-server.sh start "$pg_parent/pg")
export TALLYVET_TEST_PG_ODBC
echo "PostgreSQL for the tests: $TALLYVET_TEST_PG_ODBC"

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
cmake --build build/tsan -j "$jobs" --target side_by_side_test row_pipe_test trace_run_test
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -R '^(side_by_side_test|row_pipe_test|trace_run_test)$'

fuzz_seconds=${FUZZ_SECONDS:-30}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzzing, ${fuzz_seconds} s per target =="
  cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTALLYVET_FUZZ=ON -DTALLYVET_TESTS=OFF -DTALLYVET_BENCH=OFF -DTALLYVET_GUI=OFF >/dev/null
  targets=(sql_translate_fuzz derivation_fuzz key_conditions_fuzz gbk_fuzz)
  cmake --build build/fuzz -j "$jobs" --target "${targets[@]}"
  for t in "${targets[@]}"; do
    # New inputs go to a scratch folder; the seeds under tests/fuzz stay as committed.
    work="build/fuzz/corpus-$t"
    mkdir -p "$work"
    log="build/fuzz/$t.log"
    echo "-- $t"
    if ! "build/fuzz/tests/fuzz/$t" "$work" "tests/fuzz/corpus/$t" \
      -max_total_time="$fuzz_seconds" -print_final_stats=1 -artifact_prefix="build/fuzz/$t-" \
      >"$log" 2>&1; then
      grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" || tail -20 "$log"
      echo "$t found a failing input (see $log)"
      exit 1
    fi
    grep -E "stat::number_of_executed_units" "$log"
  done
fi
