#!/usr/bin/env bash
# Builds the Debian package, checks what it holds and declares, installs it with dpkg -i and asks
# the installed program for its version; removes it again afterwards. Needs root (exit 77: skipped).
# Usage: deb_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
if [ "$(id -u)" -ne 0 ]; then
  echo "dpkg -i needs root: skipped"
  exit 77
fi
if dpkg-query -W -f='${Status}' tallyvet 2>/dev/null | grep -q "install ok installed"; then
  echo "a tallyvet package is already installed here; not replacing it"
  exit 77
fi
out=$(mktemp -d /tmp/tallyvet-deb.XXXXXX)
installed=0
cleanup() {
  [ "$installed" -eq 1 ] && dpkg -r tallyvet >/dev/null
  rm -rf "$out"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || {
  cat "$out/cpack.log"
  exit 1
}
deb=$(ls "$out"/tallyvet_*.deb)
echo "built $deb"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libsqlite3 libstdc++6 libc6; do
  grep -q "$library" <<<"$depends" || fail "Depends does not name $library"
done
# One description, not a list run together.
dpkg-deb -f "$deb" Description | grep -q ';' && fail "the description: $(dpkg-deb -f "$deb" Description)"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/tallyvet ./usr/share/man/man1/tallyvet.1.gz \
  ./usr/share/bash-completion/completions/tallyvet; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
if [ -e "$build/bin/libtallyvet_component.so" ]; then
  grep -q "libqt6widgets6\|libqt6gui6" <<<"$depends" || fail "Depends does not name Qt"
  for file in ./usr/lib/tallyvet/libtallyvet_component.so ./usr/lib/tallyvet/tallyvet-notepad; do
    grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
  done
fi

dpkg -i "$deb" >"$out/dpkg.log" 2>&1 || {
  cat "$out/dpkg.log"
  exit 1
}
installed=1
answer=$(/usr/bin/tallyvet --version)
[ "$answer" = "tallyvet $version" ] || fail "tallyvet --version answers '$answer'"
if [ -e /usr/lib/tallyvet/libtallyvet_component.so ]; then
  /usr/bin/tallyvet classes | grep -qx "component: /usr/lib/tallyvet/libtallyvet_component.so" ||
    fail "the installed program does not find its component"
fi

[ "$failures" -eq 0 ] && echo "installed $(basename "$deb"); tallyvet --version: $answer"
exit "$failures"
