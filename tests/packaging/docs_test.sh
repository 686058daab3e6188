#!/usr/bin/env bash
# The manual page and the bash completion know every command and option the program's own --help
# lists: a command added or an option renamed without them fails here.
# Usage: docs_test.sh TALLYVET MAN_PAGE COMPLETION
set -euo pipefail
tallyvet=$1 man=$2 completion=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# shellcheck source=/dev/null
source "$completion"

# The options and subcommands `tallyvet $1 --help` lists.
help_options() { "$tallyvet" $1 --help | grep -oE '^ +(-h,)?--[a-z-]+' | sed 's/^ *//; s/^-h,//'; }
help_commands() { "$tallyvet" $1 --help | sed -n '/^Subcommands:/,$p' | grep -oE '^  [a-z-]+' | tr -d ' '; }

# What completion offers after "tallyvet $1 ".
completions() {
  local -a words=(tallyvet $1 "")
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  COMPREPLY=()
  _tallyvet
  printf '%s\n' "${COMPREPLY[@]}"
}

# The man page's section of a command: from its .SS line to the next heading.
man_section() { awk -v head=".SS $1" -v quoted=".SS \"$1\"" '
  $0 == head || $0 == quoted { on = 1; next }
  on && /^\.S[SH]/ { exit }
  on { print }' "$man"; }

check() {  # $1: the command words ("" for the program itself)
  local cmd=$1 section offered
  offered=$(completions "$cmd")
  if [ -n "$cmd" ]; then
    section=$(man_section "$cmd")
    # A group of commands (sample) needs no section of its own; its commands have theirs.
    [ -n "$section" ] || [ -n "$(help_commands "$cmd")" ] || fail "man page has no section for '$cmd'"
  else
    section=$(cat "$man")
  fi
  for option in $(help_options "$cmd"); do
    grep -qxF -- "$option" <<<"$offered" || fail "completion of '$cmd' lacks $option"
    [ "$option" = --help ] && continue
    grep -qF -- "$(sed 's/-/\\-/g' <<<"$option")" <<<"$section" ||
      fail "man page section '$cmd' lacks $option"
  done
  for sub in $(help_commands "$cmd"); do
    grep -qxF -- "$sub" <<<"$offered" || fail "completion of '$cmd' lacks the command $sub"
    check "${cmd:+$cmd }$sub"
  done
}

check ""
grep -q '^\.SH EXIT STATUS' "$man" || fail "man page has no EXIT STATUS"
for status in 0 1 2; do
  sed -n '/^\.SH EXIT STATUS/,/^\.SH [^E]/p' "$man" | grep -qx "\.B $status" ||
    fail "EXIT STATUS does not explain $status"
done
# A value completion: the range kinds after --range.
COMP_WORDS=(tallyvet reconcile --range "")
COMP_CWORD=3
_tallyvet
[ "${#COMPREPLY[@]}" -eq 3 ] || fail "--range offers ${COMPREPLY[*]}"

[ "$failures" -eq 0 ] && echo "manual page and completion cover every command and option"
exit "$failures"
