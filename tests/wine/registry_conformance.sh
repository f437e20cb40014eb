#!/usr/bin/env bash
# Registry conformance: registry_corpus.reg imported with regedit into the
# Wine registry and read with RegQueryValueExA (mb_reg_probe.exe), against
# the same file read by the POSIX registry (native mb_reg_probe); every
# answer must agree, except those listed with their reason in
# registry_known_differences.txt. The corpus goes in as regedit exports it: UTF-16LE
# with a byte-order mark. Run by scripts/test-wine with
#   MB_WIN_BIN       the cross build's bin folder
#   MB_NATIVE_BUILD  the native build folder (mb_reg_probe is built there)
#   MB_KOREAN_LOCALE (optional) also compare under code page 949, with
#                    LOCPATH exported when the locale lives in a private folder
#   MB_POSIX_PROBE   (optional) the native probe to judge, instead of the
#                    one built in MB_NATIVE_BUILD
set -Eeuo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_NATIVE_BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
check_name=registry_conformance
# shellcheck source=../script_lib.sh
source "$here/../script_lib.sh"
work=$(mktemp -d /tmp/mb-reg.XXXXXX)
cleanup() { rm -rf "$work"; }

posix_probe=${MB_POSIX_PROBE:-}
if [[ -z "$posix_probe" ]]; then
  cmake --build "$MB_NATIVE_BUILD" --target mb_reg_probe >/dev/null
  posix_probe=$MB_NATIVE_BUILD/bin/mb_reg_probe
fi

# The corpus as regedit exports it; each side gets its own copy, since the
# POSIX registry writes into its file.
corpus() {
  printf '\xff\xfe'
  sed 's/$/\r/' "$here/registry_corpus.reg" | iconv -f UTF-8 -t UTF-16LE
}

# shellcheck source=conformance_lib.sh
source "$here/conformance_lib.sh"

compare() {  # LOCALE CODE-PAGE
  export LANG=$1 LC_ALL=$1
  known=$(known_for "$here/registry_known_differences.txt" "$2")
  corpus >"$work/import.reg"
  corpus >"$work/posix.reg"
  wine reg delete 'HKCU\Software\MbConformance' /f >/dev/null 2>&1 || true
  wine regedit /S "$(winepath -w "$work/import.reg")"
  "$posix_probe" "$work/posix.reg" >"$work/posix.txt"
  wine "$MB_WIN_BIN/mb_reg_probe.exe" | tr -d '\r' >"$work/windows.txt"
  wine reg delete 'HKCU\Software\MbConformance' /f >/dev/null 2>&1 || true
  verdict registry_conformance "$2" "the POSIX registry (-) and RegQueryValueExA (+)" \
    "$work/posix.txt" "$work/windows.txt"
}

expect_checks 1
check "answers agree under code page 1252" compare C.UTF-8 1252
if [[ -n "${MB_KOREAN_LOCALE:-}" ]]; then
  expect_checks 1
  check "answers agree under code page 949" compare "$MB_KOREAN_LOCALE" 949
else
  echo "registry_conformance: skipped code page 949: no Korean locale (MB_KOREAN_LOCALE)"
fi
finish_checks
