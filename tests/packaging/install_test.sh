#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the main job from there, the way a support
# engineer does: as a user who cannot write the prefix, from a folder of the user's own, where the
# reports must land. As root the jobs run as nobody; otherwise the prefix is made read-only.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/tallyvet-install.XXXXXX)
prefix=$work/prefix
run=$work/run
cleanup() { chmod -R u+w "$work" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null
chmod 755 "$work"
mkdir "$run"
if [ "$(id -u)" -eq 0 ]; then
  chown nobody: "$run"
  as_user() { setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups -- "$@"; }
else
  chmod -R a-w "$prefix"
  as_user() { "$@"; }
fi
as_user test -w "$prefix/bin" && fail "the test user can write the prefix"
cd "$run"
tv=$prefix/bin/tallyvet

# Runs a job as the user; its exit status in $rc, its output in out.txt and err.txt.
job() {
  rc=0
  as_user "$@" >"$run/out.txt" 2>"$run/err.txt" || rc=$?
}

job "$tv" --version
grep -q "^tallyvet [0-9]" out.txt || fail "--version: $(cat out.txt err.txt)"

job "$tv" sample create --db sample.db --owner SAMPLE --faults all --manifest manifest.json
[ "$rc" -eq 0 ] || fail "sample create ($rc): $(cat err.txt)"
latest=$(sqlite3 sample.db \
  "SELECT intYear || '.' || printf('%02d', bytPeriod) FROM AccountPeriod ORDER BY 1 DESC LIMIT 1")

job "$tv" check-receipts --db sample.db --user SAMPLE
[ "$rc" -eq 1 ] || fail "check-receipts on a faulted sample exits $rc, not 1: $(cat err.txt)"

# Twice: the second report moves the first to its backup, both in the current folder.
for _ in 1 2; do
  job "$tv" reconcile --db sample.db --user SAMPLE --from 期初 --to "$latest" --html report.html
  [ "$rc" -eq 1 ] || fail "reconcile on a faulted sample exits $rc, not 1: $(cat err.txt)"
done
[ -s Compare.txt ] && [ -s Compare.000 ] || fail "no Compare.txt and Compare.000 in the current folder"
grep -q "<svg" report.html || fail "no report page with its charts in the current folder"
grep -q "report: ./Compare.txt\|report: $run/Compare.txt" err.txt || fail "report path: $(cat err.txt)"
[ -z "$(find "$prefix" -name 'Compare*')" ] || fail "a report was written into the prefix"

# Registration journals land beside the report.
job "$tv" reconcile --db sample.db --user SAMPLE --from 期初 --to "$latest" --items 2 --register --yes
[ "$rc" -eq 1 ] || fail "reconcile --register exits $rc: $(cat err.txt)"
ls Correction.*.journal.sql Correction.*.undo.sql >/dev/null 2>&1 || fail "no journal in the current folder"

# A report folder the user cannot write: a clear error before any work, nothing written.
job "$tv" reconcile --db sample.db --user SAMPLE --from 期初 --to "$latest" --report-dir "$prefix/share"
[ "$rc" -eq 2 ] || fail "an unwritable --report-dir exits $rc, not 2"
grep -q "cannot be written" err.txt || fail "unwritable --report-dir says: $(cat err.txt)"
[ ! -s out.txt ] || fail "work started before the report folder was refused: $(cat out.txt)"

# The component and its viewer, found from the installed program.
if [ -e "$prefix/lib/tallyvet/libtallyvet_component.so" ]; then
  job "$tv" classes
  [ "$rc" -eq 0 ] || fail "classes ($rc): $(cat err.txt)"
  grep -qx "component: $prefix/lib/tallyvet/libtallyvet_component.so" out.txt &&
    grep -qx "viewer: $prefix/lib/tallyvet/tallyvet-notepad" out.txt ||
    fail "classes: $(cat out.txt)"
fi

[ "$failures" -eq 0 ] && echo "installed into $prefix; the main job ran there as $(as_user id -un)"
exit "$failures"
