#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a plain debug build, then one under
# AddressSanitizer and UndefinedBehaviorSanitizer.
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
