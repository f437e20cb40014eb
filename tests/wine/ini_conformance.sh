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

# The listed prefixes for one code page: untagged lines and those tagged
# "cpNNN:" for it.
known_for() {  # CODE-PAGE
  grep -v '^#' "$here/ini_known_differences.txt" | grep -v '^$' |
    sed -n -e "/^cp$1:/{s/^cp$1://;p;d}" -e '/^cp[0-9]*:/d' -e p || true
}
drop_known() {  # FILE
  if [[ -n "$known" ]]; then grep -v -F -f <(printf '%s\n' "$known") "$1"; else cat "$1"; fi
}

compare() {  # LOCALE CODE-PAGE
  known=$(known_for "$2")
  LANG=$1 LC_ALL=$1 "$MB_NATIVE_BUILD/bin/mb_ini_probe" >"$work/posix.txt"
  LANG=$1 LC_ALL=$1 wine "$MB_WIN_BIN/mb_ini_probe.exe" | tr -d '\r' >"$work/windows.txt"
  local answers
  answers=$(wc -l <"$work/windows.txt")
  if [[ $answers -eq 0 ]]; then
    echo "ini_conformance (code page $2): the Windows probe printed nothing" >&2
    return 1
  fi
  if diff -u <(drop_known "$work/posix.txt") <(drop_known "$work/windows.txt") >"$work/diff.txt"; then
    echo "ini_conformance (code page $2): $answers answers agree ($(printf '%s\n' "$known" | grep -c . || true) known differences left out)"
  else
    echo "ini_conformance (code page $2): the POSIX engine (-) and GetPrivateProfileStringA (+) differ:"
    cat "$work/diff.txt"
    return 1
  fi
}

status=0
compare C.UTF-8 1252 || status=1
if [[ -n "${MB_KOREAN_LOCALE:-}" ]]; then
  compare "$MB_KOREAN_LOCALE" 949 || status=1
fi
exit $status
