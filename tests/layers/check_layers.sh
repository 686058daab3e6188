#!/usr/bin/env bash
# Every include points down the layers: component/, cli/ -> reconcile_ui/, receipt_audit/ ->
# ledger_engine/, sample/ -> shell/ -> dictionary/ -> db/. Prints each include that points up
# and fails when there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"

rank() {
  case $1 in
    db) echo 0 ;;
    dictionary) echo 1 ;;
    shell) echo 2 ;;
    ledger_engine | sample) echo 3 ;;
    receipt_audit | reconcile_ui) echo 4 ;;
    component | cli) echo 5 ;;
    *) echo -1 ;;
  esac
}

bad=0
for dir in db dictionary shell ledger_engine sample receipt_audit reconcile_ui component cli; do
  mine=$(rank "$dir")
  while IFS=: read -r file target; do
    theirs=$(rank "$target")
    if [ "$theirs" -gt "$mine" ]; then
      echo "$file includes $target/, a layer above $dir/"
      bad=1
    fi
  done < <(grep -rEo '^#include "[a-z_]+/' --include='*.h' --include='*.cpp' "$dir" |
             sed -E 's/#include "([a-z_]+)\//\1/')
done
exit "$bad"
