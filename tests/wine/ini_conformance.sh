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
#   MB_POSIX_PROBE   (optional) the native probe to judge, instead of the
#                    one built in MB_NATIVE_BUILD
set -Eeuo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_NATIVE_BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
check_name=ini_conformance
# shellcheck source=../script_lib.sh
source "$here/../script_lib.sh"
work=$(mktemp -d /tmp/mb-ini.XXXXXX)
cleanup() { rm -rf "$work"; }

posix_probe=${MB_POSIX_PROBE:-}
if [[ -z "$posix_probe" ]]; then
  cmake --build "$MB_NATIVE_BUILD" --target mb_ini_probe >/dev/null
  posix_probe=$MB_NATIVE_BUILD/bin/mb_ini_probe
fi

# shellcheck source=conformance_lib.sh
source "$here/conformance_lib.sh"

compare() {  # LOCALE CODE-PAGE
  known=$(known_for "$here/ini_known_differences.txt" "$2")
  LANG=$1 LC_ALL=$1 "$posix_probe" >"$work/posix.txt"
  LANG=$1 LC_ALL=$1 wine "$MB_WIN_BIN/mb_ini_probe.exe" | tr -d '\r' >"$work/windows.txt"
  verdict ini_conformance "$2" "the POSIX engine (-) and GetPrivateProfileStringA (+)" \
    "$work/posix.txt" "$work/windows.txt"
}

expect_checks 1
check "answers agree under code page 1252" compare C.UTF-8 1252
if [[ -n "${MB_KOREAN_LOCALE:-}" ]]; then
  expect_checks 1
  check "answers agree under code page 949" compare "$MB_KOREAN_LOCALE" 949
else
  echo "ini_conformance: skipped code page 949: no Korean locale (MB_KOREAN_LOCALE)"
fi
finish_checks
