#!/usr/bin/env bash
# Builds tallyvet and runs its main job on the embedded sample account set: a sample with planted
# faults is created, its receipt costs are checked, and its ledgers are reconciled against the
# documents. Findings are expected on a faulted sample (exit status 1); only a failure stops here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTALLYVET_TESTS=OFF -DTALLYVET_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
tv=build/release/bin/tallyvet
out=build/main-job
mkdir -p "$out"

run() {  # runs a job; 0 (clean) and 1 (findings) are both results, anything else is a failure
  local rc=0
  "$@" || rc=$?
  if [ "$rc" -gt 1 ]; then
    echo "failed ($rc): $*" >&2
    exit "$rc"
  fi
}

"$tv" --version
run "$tv" sample create --db "$out/sample.db" --owner SAMPLE --faults all \
  --manifest "$out/manifest.json" --force
echo "== receipt cost check =="
run "$tv" check-receipts --db "$out/sample.db" --user SAMPLE
echo "== ledger reconciliation, from the opening balances to the latest period, with the cause of every difference =="
latest=$(sqlite3 "$out/sample.db" \
  "SELECT intYear || '.' || printf('%02d', bytPeriod) FROM AccountPeriod ORDER BY intYear DESC, bytPeriod DESC LIMIT 1")
run "$tv" reconcile --db "$out/sample.db" --user SAMPLE --report-dir "$out" --from 期初 --to "$latest" --explain \
  --html "$out/report.html"
echo "Report: $out/Compare.txt (GBK text), $out/report.html (a page with charts)"
