#!/usr/bin/env bash
# The Windows release under Wine: Mailbeacon.msi (scripts/package-windows)
# installed, run, upgraded and removed silently, as an administrator would.
# Run by scripts/test-wine, which provides the Wine prefix (WINEPREFIX), the
# display and these variables:
#   MB_WIN_BUILD_DIR  the cross build folder; the package goes to its dist/,
#                     a newer one (project version + 0.0.1) is built beside it
#                     in MB_WIN_BUILD_DIR-next
#   MB_SERVER         the native mailbeacon-server
# In order, on one prefix: an install with all four settings; the signatures;
# the installed agent updating against the server and handing off (which
# leaves "_old" backups beside it); an upgrade to the newer package; the
# uninstall; and a first install with one setting, which writes only that one,
# refuses an older package, is replaced by a rebuild of its version, and
# leaves a value it did not write.
# For the mutant run (a broken package must fail these checks):
#   MB_MSI_REUSE_PACKAGES=1  take the packages an earlier run built
#   MB_MSI_PACKAGE           the package to judge instead of this version's
set -Eeuo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BUILD_DIR:?}" "${MB_SERVER:?}"
root=$(cd "$(dirname "$0")/../.." && pwd)
old_build=$MB_WIN_BUILD_DIR
new_build=$MB_WIN_BUILD_DIR-next
work=$(mktemp -d /tmp/mb-msi.XXXXXX)
key='HKCU\SOFTWARE\BrightHarbor\MailbeaconCom'
product_dir="$WINEPREFIX/drive_c/mbproduct"  # where the release puts the plug-in
check_name=msi
# shellcheck source=../script_lib.sh
source "$root/tests/script_lib.sh"

cleanup() {
  stop_release_server
  rm -rf "$work"
}

# --- the two packages: this version, and the same sources one patch level up
# (as after raising the CMake project VERSION), through CMake's hook for a
# file included right after project().
build_packages() {
  if [[ "${MB_MSI_REUSE_PACKAGES:-}" != 1 ]]; then scripts/package-windows "$old_build" || return 1; fi
  old_version=$(cat "$old_build/package/version.txt")
  local major minor patch
  IFS=. read -r major minor patch <<<"$old_version"
  new_version=$major.$minor.$((patch + 1))
  if [[ "${MB_MSI_REUSE_PACKAGES:-}" == 1 ]]; then return 0; fi
  mkdir -p "$new_build"
  printf 'set(PROJECT_VERSION %s)\nset(PROJECT_VERSION_MAJOR %s)\nset(PROJECT_VERSION_MINOR %s)\nset(PROJECT_VERSION_PATCH %s)\n' \
    "$new_version" "$major" "$minor" "$((patch + 1))" >"$new_build/bump-version.cmake"
  cmake -S . -B "$new_build" -G Ninja -DCMAKE_BUILD_TYPE="${MB_WIN_BUILD_TYPE:-Release}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DMB_WERROR=ON \
    -DCMAKE_PROJECT_Mailbeacon_INCLUDE="$new_build/bump-version.cmake" >/dev/null &&
    scripts/package-windows "$new_build"
}

msiexec() {  # ARGS... -> sets msi_status
  msi_status=0
  timeout 180 wine msiexec "$@" /qn || msi_status=$?
}
win_path() { winepath -w "$1"; }

reg_value() {  # NAME: the value's text, or status 1 when it is missing
  wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v name="$1" '$1 == name && $2 == "REG_SZ" {sub(/^ *[^ ]+ +REG_SZ +/, ""); print; found = 1}
                      END {exit !found}'
}
value_is() { [[ "$(reg_value "$1")" == "$2" ]]; }
value_missing() { ! reg_value "$1" >/dev/null; }
no_settings_key() { ! wine reg query "$key" >/dev/null 2>&1; }

# "1.2.3.0" from a program's version resource.
file_version() {
  x86_64-w64-mingw32-windres --input-format=coff -i "$1" -O rc 2>/dev/null |
    sed -n 's/^ *FILEVERSION \([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p'
}
carries_version() { [[ "$(file_version "$1")" == "$2.0" ]]; }
signed_by() {  # FILE CA
  osslsigncode verify -CAfile "$2" -in "$1" >"$work/verify.txt" 2>&1
}
not_signed_by() { ! signed_by "$@"; }
same_file() { cmp -s "$1" "$2"; }
contains() { grep -q -- "$2" "$1" 2>/dev/null; }
msi_property() {  # MSI NAME
  msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name {print $2}'
}
product_version() { msi_property "$1" ProductVersion; }
product_code() { msi_property "$1" ProductCode; }
# Products registered for this user under our name, one line each.
registered_products() {
  wine reg query 'HKCU\Software\Microsoft\Installer\Products' /s 2>/dev/null | tr -d '\r' |
    grep -c 'ProductName *REG_SZ *Mailbeacon$' || true
}

start_server() {
  local rel=$work/release
  mkdir -p "$rel/ORG/express" "$rel/ORG/agent"
  printf 'N\r\n' >"$rel/pause.txt"
  printf 'Release notes\r\n' >"$rel/notice.txt"
  # The plug-in goes to a folder of the product's own, outside the agent's.
  head -c 50000 /dev/urandom >"$rel/ORG/express/MailbeaconExpress.dll"
  printf '[MailbeaconExpress.dll]\nTARGET_DIR=C:\\mbproduct\n' >"$rel/ORG/express/files.ini"
  printf '[RELEASE]\r\nLAST_VERSION=1.0.5\r\n' >"$rel/ORG/express/release.ini"
  # The agent's release: a new updater, which the agent puts in place itself
  # (backing up the old one), and the newer agent, which the updater puts in
  # place after the agent has ended (backing it up too).
  cp "$install_dir/SwiftPatcher_Mailbeacon.exe" "$rel/ORG/agent/SwiftPatcher_Mailbeacon_2.exe"
  msiextract -C "$work/newer" "$new_build/dist/Mailbeacon.msi" >/dev/null
  newer_agent=$(find "$work/newer" -name Mailbeacon.exe)
  cp "$newer_agent" "$rel/ORG/agent/Mailbeacon_2.exe"
  printf '[SwiftPatcher_Mailbeacon_2.exe]\nORG_NAME=SwiftPatcher_Mailbeacon.exe\n[Mailbeacon_2.exe]\nORG_NAME=Mailbeacon.exe\n' \
    >"$rel/ORG/agent/files.ini"
  printf '[RELEASE]\r\nLAST_VERSION=2.0.1\r\n' >"$rel/ORG/agent/release.ini"
  start_release_server "$MB_SERVER" "$rel" --codepage 1252 --access-log "$work/access.log"
}

scenario_install() {
  echo "--- silent install with the four settings"
  expect_checks 8
  old_msi=${MB_MSI_PACKAGE:-$old_build/dist/Mailbeacon.msi} new_msi=$new_build/dist/Mailbeacon.msi
  check "package version is the project's ($old_version)" test "$(product_version "$old_msi")" = "$old_version"
  local appdata
  appdata=$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
  install_dir="$(winepath -u "$appdata")/Programs/Mailbeacon"
  msiexec /i "$(win_path "$old_msi")" MB_URL=http://127.0.0.1:0 MB_VDIR=/mailbeaconhome \
    MB_LANGUAGE=ENGLISH MB_INSTALLTYPE=Express
  check "msiexec /i succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "URL written" value_is URL http://127.0.0.1:0
  check "V_DIR written" value_is V_DIR /mailbeaconhome
  check "Language written" value_is Language ENGLISH
  check "InstallType written" value_is InstallType Express
  check "agent installed with version $old_version" carries_version "$install_dir/Mailbeacon.exe" "$old_version"
  check "updater installed beside it with version $old_version" \
    carries_version "$install_dir/SwiftPatcher_Mailbeacon.exe" "$old_version"
}

scenario_signatures() {
  echo "--- signatures: the installed programs and the package, against the package's test CA"
  expect_checks 4
  local ca=$old_build/dist/signing-ca.pem other_ca=$new_build/dist/signing-ca.pem
  check "Mailbeacon.exe verifies" signed_by "$install_dir/Mailbeacon.exe" "$ca"
  check "SwiftPatcher_Mailbeacon.exe verifies" signed_by "$install_dir/SwiftPatcher_Mailbeacon.exe" "$ca"
  check "Mailbeacon.msi verifies" signed_by "$old_msi" "$ca"
  check "it does not verify against another CA" not_signed_by "$old_msi" "$other_ca"
}

scenario_agent_run() {
  echo "--- the installed agent updates against the server and hands off"
  expect_checks 7
  start_server
  wine reg add "$key" /v URL /t REG_SZ /d "http://127.0.0.1:$port" /f >/dev/null
  local status=0
  timeout 120 wine "$(win_path "$install_dir/Mailbeacon.exe")" || status=$?
  wineserver -w  # the updater finishes too
  local upd=$install_dir/update
  check "agent ends after the hand-off (status $status)" test "$status" -eq 0
  check "it asked the server on loopback" contains "$work/access.log" "pause.aspx"
  check "plug-in placed in its own folder" \
    same_file "$work/release/ORG/express/MailbeaconExpress.dll" "$product_dir/MailbeaconExpress.dll"
  check "install record in the update folder" contains "$upd/install_version.ini" "2.0.1"
  check "updater replaced, old one kept as _old" test -f "$install_dir/SwiftPatcher_Mailbeacon.exe_old"
  check "agent replaced by the newer one" same_file "$newer_agent" "$install_dir/Mailbeacon.exe"
  check "old agent kept as _old" carries_version "$install_dir/Mailbeacon.exe_old" "$old_version"
}

scenario_upgrade() {
  echo "--- the newer package ($new_version) upgrades in place and keeps the settings"
  expect_checks 12
  wine reg add "$key" /v URL /t REG_SZ /d http://127.0.0.1:0 /f >/dev/null
  check "newer package version ($new_version)" test "$(product_version "$new_msi")" = "$new_version"
  msiexec /i "$(win_path "$new_msi")" MB_LANGUAGE=KOREAN
  check "msiexec /i of the newer package succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "one product left registered ($(registered_products))" test "$(registered_products)" -eq 1
  check "updater now version $new_version" \
    carries_version "$install_dir/SwiftPatcher_Mailbeacon.exe" "$new_version"
  check "agent now version $new_version" carries_version "$install_dir/Mailbeacon.exe" "$new_version"
  check "and signed by the newer package's CA" \
    signed_by "$install_dir/SwiftPatcher_Mailbeacon.exe" "$new_build/dist/signing-ca.pem"
  check "URL kept" value_is URL http://127.0.0.1:0
  check "V_DIR kept" value_is V_DIR /mailbeaconhome
  check "InstallType kept" value_is InstallType Express
  check "Language given anew" value_is Language KOREAN
  check "update folder kept" contains "$install_dir/update/install_version.ini" "2.0.1"
  check "backups kept" test -f "$install_dir/Mailbeacon.exe_old"
}

scenario_uninstall() {
  echo "--- msiexec /x leaves nothing of ours, and nothing else is touched"
  expect_checks 5
  msiexec /x "$(win_path "$new_msi")"
  check "msiexec /x succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "install folder gone, update folder and backups with it" test ! -e "$install_dir"
  check "settings gone, key and all" no_settings_key
  check "no product registered" test "$(registered_products)" -eq 0
  check "the plug-in the updater placed elsewhere stays" test -f "$product_dir/MailbeaconExpress.dll"
}

scenario_one_setting() {
  echo "--- a first install with one setting writes only that one; an older package is refused; a rebuild replaces it"
  expect_checks 13
  wine reg add "$key" /v InstallType /t REG_SZ /d outlook /f >/dev/null
  msiexec /i "$(win_path "$new_msi")" MB_URL=http://127.0.0.1:0
  check "msiexec /i succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "URL written" value_is URL http://127.0.0.1:0
  check "no V_DIR" value_missing V_DIR
  check "no Language" value_missing Language
  check "the InstallType it found is left as it was" value_is InstallType outlook
  msiexec /i "$(win_path "$old_msi")"
  check "the older package is refused (status $msi_status)" test "$msi_status" -ne 0
  check "and changes nothing" carries_version "$install_dir/Mailbeacon.exe" "$new_version"
  # Last: Wine's installer, replacing a release after installing the new one,
  # drops the upgrade code's registration, so later upgrades find nothing.
  local product_code
  product_code=$(product_code "$new_msi")
  scripts/package-windows "$new_build" >/dev/null  # a rebuild: same version, new product code
  msiexec /i "$(win_path "$new_msi")"
  check "a rebuild of the same version replaces it (status $msi_status)" test "$msi_status" -eq 0
  check "one product left registered ($(registered_products))" test "$(registered_products)" -eq 1
  check "under a new product code" test "$(product_code "$new_msi")" != "$product_code"
  check "URL kept" value_is URL http://127.0.0.1:0
  msiexec /x "$(win_path "$new_msi")"
  check "uninstall removes the URL it wrote" value_missing URL
  check "and leaves the InstallType it did not write" value_is InstallType outlook
  wine reg delete "$key" /f >/dev/null 2>&1 || true
}

cd "$root"
if ! build_packages; then
  fail "packaging"
  finish_checks
fi
wine reg delete "$key" /f >/dev/null 2>&1 || true  # what earlier runs in this prefix left
scenario_install
scenario_signatures
scenario_agent_run
scenario_upgrade
scenario_uninstall
scenario_one_setting
finish_checks
