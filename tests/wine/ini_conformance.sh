#!/usr/bin/env bash
# INI conformance: the same corpus of private-profile cases (ini_probe.cpp)
# through the POSIX engine (native mb_ini_probe) and through Windows' own
# GetPrivateProfileStringA / WritePrivateProfileStringA (mb_ini_probe.exe
# under Wine); every answer must agree, except those listed with their
# reason in ini_known_differences.txt. Run by scripts/test-wine with
#   MB_WIN_BIN       the cross build's bin folder
#   MB_NATIVE_BUILD  the native build folder (mb_ini_probe is built there)
#   MB_KOREAN_LOCALE (optional) also compare under code page 949, with
#                    LOCPATH exported when the locale lives in a private folder
set -euo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_NATIVE_BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/mb-ini.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --build "$MB_NATIVE_BUILD" --target mb_ini_probe >/dev/null

source "$here/conformance_lib.sh"

compare() {  # LOCALE CODE-PAGE
  known=$(known_for "$here/ini_known_differences.txt" "$2")
  LANG=$1 LC_ALL=$1 "$MB_NATIVE_BUILD/bin/mb_ini_probe" >"$work/posix.txt"
  LANG=$1 LC_ALL=$1 wine "$MB_WIN_BIN/mb_ini_probe.exe" | tr -d '\r' >"$work/windows.txt"
  verdict ini_conformance "$2" "the POSIX engine (-) and GetPrivateProfileStringA (+)" \
    "$work/posix.txt" "$work/windows.txt"
}

status=0
compare C.UTF-8 1252 || status=1
if [[ -n "${MB_KOREAN_LOCALE:-}" ]]; then
  compare "$MB_KOREAN_LOCALE" 949 || status=1
fi
exit $status
