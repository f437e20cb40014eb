#!/usr/bin/env bash
# A mutant run: a scripted check run against a broken program must fail, and
# fail through one of its own verdicts (a "NAME: FAIL: ..." line), not
# through a script error. The check stops at its first failure
# (MB_CHECKS_FAIL_FAST=1), which keeps a mutant run cheap.
# Usage: tests/mutants/run_mutant.sh [--swap BIN_DIR PROGRAM REPLACEMENT] -- COMMAND...
#   --swap  a copy of BIN_DIR (links to its files) in which PROGRAM is a
#           copy of REPLACEMENT; "@BIN@" in COMMAND names that copy
set -Eeuo pipefail
check_name=mutant
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"
work=$(mktemp -d /tmp/mb-mutant.XXXXXX)
cleanup() { rm -rf "$work"; }

swap_bin=
if [[ "${1:-}" == --swap ]]; then
  mkdir "$work/bin"
  for file in "$2"/*; do ln -s "$(realpath "$file")" "$work/bin/"; done
  rm -f "$work/bin/$3"
  cp "$4" "$work/bin/$3"
  swap_bin=$work/bin
  shift 4
fi
[[ "${1:-}" == -- ]] || { echo "usage: run_mutant.sh [--swap BIN_DIR PROGRAM REPLACEMENT] -- COMMAND..."; exit 2; }
shift
command=()
for arg; do command+=("${arg//@BIN@/$swap_bin}"); done

# Failed through a verdict line of its own, and without a script error.
fails_by_a_verdict() {
  local status=0
  MB_CHECKS_FAIL_FAST=1 "${command[@]}" >"$work/out.txt" 2>&1 </dev/null || status=$?
  sed 's/^/    | /' "$work/out.txt" | tail -n 12
  ((status != 0)) && grep -E '^[[:alnum:]_-]+: FAIL: ' "$work/out.txt" >/dev/null &&
    ! grep -F 'SCRIPT ERROR' "$work/out.txt" >/dev/null
}

# The script the command runs (after env and its settings), for the verdict.
judged=${command[0]}
for arg in "${command[@]}"; do
  if [[ $arg == *.sh ]]; then judged=$arg && break; fi
done

expect_checks 1
check "${judged##*/} fails against a broken program" fails_by_a_verdict
finish_checks
