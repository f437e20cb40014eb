#!/usr/bin/env bash
# What `cmake --install` leaves a vendor, checked as the vendor reads it:
# the programs where README.md says, every link of the installed docs
# leading to an installed file, and every file docs/DEPLOY.md tells them to
# copy from server/deploy/ installed beside it.
# Usage: tests/docs/installed_tree.sh BUILD_DIR
# MB_INSTALL_BREAK=PATH removes PATH (below the prefix) after installing: the
# mutant run, which must fail.
set -Eeuo pipefail
check_name=installed-tree
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"
build=${1:?usage: installed_tree.sh BUILD_DIR}
work=$(mktemp -d /tmp/mb-install.XXXXXX)
cleanup() { rm -rf "$work"; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
if [[ -n "${MB_INSTALL_BREAK:-}" ]]; then rm -rf "${prefix:?}/$MB_INSTALL_BREAK"; fi
docs=$prefix/share/doc/Mailbeacon

expect_checks 5
check "mailbeacon-server in bin/" test -x "$prefix/bin/mailbeacon-server"
check "the agent in libexec/mailbeacon/" test -x "$prefix/libexec/mailbeacon/Mailbeacon"
check "the updater beside it" test -x "$prefix/libexec/mailbeacon/SwiftPatcher_Mailbeacon.exe"
check "README.md with the docs" test -f "$docs/README.md"
check "docs/DEPLOY.md with the docs" test -f "$docs/docs/DEPLOY.md"

# Markdown links "](target)" that lead to a file of the tree (not a URL, not
# an anchor of the same page).
links() {  # MD_FILE
  grep -o '](\([^)#]*\)' "$1" | sed 's/^](//' | grep -v -E '^(https?:|mailto:|$)' || true
}
while IFS= read -r md; do
  while IFS= read -r target; do
    expect_checks 1
    check "${md#"$docs"/} links to $target, installed" test -e "$(dirname "$md")/$target"
  done < <(links "$md")
done < <(find "$docs" -name '*.md' | sort)

# "server/deploy/NAME" in DEPLOY.md: what it tells a vendor to copy.
while IFS= read -r named; do
  expect_checks 1
  check "$named, which DEPLOY.md names, installed with the docs" test -f "$docs/$named"
done < <(grep -o 'server/deploy/[A-Za-z0-9_.-]*[A-Za-z0-9]' "$docs/docs/DEPLOY.md" | sort -u)
finish_checks
