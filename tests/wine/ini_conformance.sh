#!/usr/bin/env bash
# INI conformance: the same corpus of private-profile cases (ini_probe.cpp)
# through the POSIX engine (native mb_ini_probe) and through Windows' own
# GetPrivateProfileStringA / WritePrivateProfileStringA (mb_ini_probe.exe
# under Wine); every answer must agree, except those listed with their
# reason in ini_known_differences.txt. Run by scripts/test-wine with
#   MB_WIN_BIN       the cross build's bin folder
#   MB_NATIVE_BUILD  the native build folder (mb_ini_probe is built there)
set -euo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_NATIVE_BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/mb-ini.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --build "$MB_NATIVE_BUILD" --target mb_ini_probe >/dev/null
"$MB_NATIVE_BUILD/bin/mb_ini_probe" >"$work/posix.txt"
wine "$MB_WIN_BIN/mb_ini_probe.exe" | tr -d '\r' >"$work/windows.txt"

known=$(grep -v '^#' "$here/ini_known_differences.txt" | grep -v '^$' || true)
drop_known() {
  if [[ -n "$known" ]]; then grep -v -F -f <(printf '%s\n' "$known") "$1"; else cat "$1"; fi
}
answers=$(wc -l <"$work/windows.txt")
if [[ $answers -eq 0 ]]; then
  echo "ini_conformance: the Windows probe printed nothing" >&2
  exit 1
fi
if diff -u <(drop_known "$work/posix.txt") <(drop_known "$work/windows.txt") >"$work/diff.txt"; then
  echo "ini_conformance: $answers answers agree ($(printf '%s\n' "$known" | grep -c . || true) known differences left out)"
else
  echo "ini_conformance: the POSIX engine (-) and GetPrivateProfileStringA (+) differ:"
  cat "$work/diff.txt"
  exit 1
fi
