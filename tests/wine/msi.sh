#!/usr/bin/env bash
# The Windows release under Wine: Mailbeacon.msi (scripts/package-windows)
# installed, run, upgraded and removed silently, as an administrator would.
# Run by scripts/test-wine, which provides the Wine prefix (WINEPREFIX), the
# display and these variables:
#   MB_WIN_BUILD_DIR  the cross build folder; the package goes to its dist/,
#                     a newer one (project version + 0.0.1) is built beside it
#                     in MB_WIN_BUILD_DIR-next
#   MB_SERVER         the native mailbeacon-server
# In order, on one prefix: an install with all six settings (the fifth the
# public key releases must be signed by, the sixth a root of trust that names
# that key) and the log-on entry; the
# signatures (the older package signed with an encrypted key and its
# password, the newer one with a .pfx); the installed agent, started as the
# log-on entry starts it, updating against the server's release (signed for
# the key the package gave it) and handing off (which leaves "_old" backups
# and a file in a sub-folder beside it); an
# upgrade to the newer package; the uninstall, told a wrong INSTALLDIR; an
# install into a folder of the administrator's, whose uninstall takes only
# what it made; and a first install with one setting and no log-on entry,
# which writes only that one (properties of blanks count as not given),
# refuses an older package, is replaced by a rebuild of its version
# (test-signed), and leaves a value it did not write.
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
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# The vendor's password for both signing keys: spaces and a "$" in it.
export MB_SIGN_PASSWORD='vendor pass $1'
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
  if [[ "${MB_MSI_REUSE_PACKAGES:-}" != 1 ]]; then
    vendor_credentials "$old_build/package/vendor"
    MB_SIGN_CERT=$old_build/package/vendor/sign.pem MB_SIGN_KEY=$old_build/package/vendor/sign-encrypted.key \
      scripts/package-windows "$old_build" || return 1
  fi
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
    -DCMAKE_PROJECT_Mailbeacon_INCLUDE="$new_build/bump-version.cmake" >/dev/null || return 1
  vendor_credentials "$new_build/package/vendor"
  MB_SIGN_PFX=$new_build/package/vendor/sign.pfx scripts/package-windows "$new_build"
}

# A vendor's signing material in DIR, as vendors hold it: a CA of its own
# (ca.pem), a code-signing certificate it issued (sign.pem), its key only
# encrypted with MB_SIGN_PASSWORD (sign-encrypted.key), and the two in a
# password-protected .pfx (sign.pfx).
vendor_credentials() {  # DIR
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout "$dir/ca.key" -out "$dir/ca.pem" \
    -subj "/O=Test vendor/CN=Test vendor CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign 2>/dev/null
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -aes256 -pass env:MB_SIGN_PASSWORD \
    -out "$dir/sign-encrypted.key" 2>/dev/null
  openssl req -new -key "$dir/sign-encrypted.key" -passin env:MB_SIGN_PASSWORD \
    -subj "/O=Test vendor/CN=Test vendor code signing" -out "$dir/sign.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$dir/sign.ext"
  openssl x509 -req -in "$dir/sign.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -days 30 \
    -set_serial "0x$(openssl rand -hex 16)" -extfile "$dir/sign.ext" -out "$dir/sign.pem" 2>/dev/null
  openssl pkcs12 -export -in "$dir/sign.pem" -inkey "$dir/sign-encrypted.key" -certfile "$dir/ca.pem" \
    -passin env:MB_SIGN_PASSWORD -passout env:MB_SIGN_PASSWORD -out "$dir/sign.pfx"
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
# The log-on entry's command, or status 1 when there is none.
run_entry() {
  wine reg query "$run_key" /v Mailbeacon 2>/dev/null | tr -d '\r' |
    awk '$1 == "Mailbeacon" && $2 == "REG_SZ" {sub(/^ *[^ ]+ +REG_SZ +/, ""); print; found = 1}
         END {exit !found}'
}
no_run_entry() { ! run_entry >/dev/null; }
# "\"C:\...\Mailbeacon.exe\" -d 15", the installed agent, in any letter case.
run_entry_starts_agent() {
  local want
  want="\"$(win_path "$install_dir/Mailbeacon.exe")\" -d 15"
  [[ "$(run_entry | tr '[:upper:]' '[:lower:]')" == "$(tr '[:upper:]' '[:lower:]' <<<"$want")" ]]
}

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
  # And a file to a sub-folder of the agent's install folder.
  printf 'add-in data\r\n' >"$rel/ORG/express/addin_data.txt"
  printf '[MailbeaconExpress.dll]\nTARGET_DIR=C:\\mbproduct\n[addin_data.txt]\nTARGET_DIR=.\\addin\n' \
    >"$rel/ORG/express/files.ini"
  # Staged to the slots 0 to 9: the pilot slot the package gave (7) takes it.
  printf '[RELEASE]\r\nLAST_VERSION=1.0.5\r\nROLLOUT=10\r\n' >"$rel/ORG/express/release.ini"
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
  # Signed with the key whose public half the package gave the agent.
  "$MB_SERVER" sign --root "$rel" --key "$work/release-key.pem" --codepage 1252 >/dev/null
  start_release_server "$MB_SERVER" "$rel" --codepage 1252 --access-log "$work/access.log"
}

# Root 1 of a root of trust naming the release key (its text in base64, as
# TrustedRoot holds it).
make_root() {
  openssl ecparam -name prime256v1 -genkey -noout -out "$work/root-key.pem"
  openssl ec -in "$work/root-key.pem" -pubout -out "$work/root-key.pub.pem" 2>/dev/null
  openssl ec -in "$work/release-key.pem" -pubout -out "$work/release-key.pub.pem" 2>/dev/null
  "$MB_SERVER" sign-root --out "$work/root.1.ini" --version 1 --threshold 1 \
    --root-keys "$work/root-key.pub.pem" --release-keys "$work/release-key.pub.pem" \
    --expires 2099-01-01 --key "$work/root-key.pem" >/dev/null
  trusted_root=$(base64 -w0 "$work/root.1.ini")
}

scenario_install() {
  echo "--- silent install with the eight settings"
  expect_checks 13
  old_msi=${MB_MSI_PACKAGE:-$old_build/dist/Mailbeacon.msi} new_msi=$new_build/dist/Mailbeacon.msi
  check "package version is the project's ($old_version)" test "$(product_version "$old_msi")" = "$old_version"
  local appdata
  appdata=$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
  install_dir="$(winepath -u "$appdata")/Programs/Mailbeacon"
  openssl ecparam -name prime256v1 -genkey -noout -out "$work/release-key.pem"
  release_key=$(openssl ec -in "$work/release-key.pem" -pubout -outform DER 2>/dev/null | base64 -w0)
  make_root
  msiexec /i "$(win_path "$old_msi")" MB_URL=http://127.0.0.1:0// MB_VDIR=/mailbeaconhome \
    MB_LANGUAGE=ENGLISH MB_INSTALLTYPE=Express MB_TRUSTED_KEYS="$release_key" \
    MB_TRUSTED_ROOT="$trusted_root" MB_REPORTS=0 MB_ROLLOUT_SLOT=7
  check "msiexec /i succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "URL written without the \"/\" at its end" value_is URL http://127.0.0.1:0
  check "V_DIR written" value_is V_DIR /mailbeaconhome
  check "Language written" value_is Language ENGLISH
  check "InstallType written" value_is InstallType Express
  check "TrustedKeys written" value_is TrustedKeys "$release_key"
  check "TrustedRoot written" value_is TrustedRoot "$trusted_root"
  check "Reports written" value_is Reports 0
  check "RolloutSlot written (a pilot machine)" value_is RolloutSlot 7
  check "agent installed with version $old_version" carries_version "$install_dir/Mailbeacon.exe" "$old_version"
  check "updater installed beside it with version $old_version" \
    carries_version "$install_dir/SwiftPatcher_Mailbeacon.exe" "$old_version"
  check "a log-on entry starts the agent (-d 15)" run_entry_starts_agent
}

scenario_signatures() {
  echo "--- signatures: the installed programs and the packages, against the vendors' CAs"
  expect_checks 7
  local ca=$old_build/package/vendor/ca.pem other_ca=$new_build/package/vendor/ca.pem
  check "Mailbeacon.exe verifies (an encrypted key and its password)" \
    signed_by "$install_dir/Mailbeacon.exe" "$ca"
  check "SwiftPatcher_Mailbeacon.exe verifies" signed_by "$install_dir/SwiftPatcher_Mailbeacon.exe" "$ca"
  check "Mailbeacon.msi verifies" signed_by "$old_msi" "$ca"
  check "it does not verify against another CA" not_signed_by "$old_msi" "$other_ca"
  check "the newer package verifies (a .pfx and its password)" signed_by "$new_msi" "$other_ca"
  local status=0
  MB_SIGN_PFX=$new_build/package/vendor/sign.pfx MB_SIGN_PASSWORD=wrong \
    scripts/package-windows "$new_build" >"$work/wrong.txt" 2>&1 || status=$?
  check "a wrong password is refused before anything is built (status $status)" test "$status" -ne 0
  check "in words" contains "$work/wrong.txt" "MB_SIGN_PFX cannot be opened"
}

scenario_agent_run() {
  echo "--- the agent, started as the log-on entry starts it, updates against the server and hands off"
  expect_checks 9
  start_server
  wine reg add "$key" /v URL /t REG_SZ /d "http://127.0.0.1:$port" /f >/dev/null
  local status=0 command program arguments=()
  if command=$(run_entry); then
    program=${command#\"} && program=${program%%\"*}
    read -ra arguments <<<"${command##*\" }"  # split as Windows splits them
  else
    fail "no log-on entry to start the agent with (started directly)"
    program=$(win_path "$install_dir/Mailbeacon.exe")
  fi
  timeout 120 wine "$program" "${arguments[@]}" || status=$?
  wineserver -w  # the updater finishes too
  local upd=$install_dir/update
  check "agent ends after the hand-off (status $status)" test "$status" -eq 0
  check "it asked the server on loopback" contains "$work/access.log" "pause.aspx"
  check "plug-in placed in its own folder (staged to the pilot slot)" \
    same_file "$work/release/ORG/express/MailbeaconExpress.dll" "$product_dir/MailbeaconExpress.dll"
  check "install record in the update folder" contains "$upd/install_version.ini" "2.0.1"
  check "updater replaced, old one kept as _old" test -f "$install_dir/SwiftPatcher_Mailbeacon.exe_old"
  check "agent replaced by the newer one" same_file "$newer_agent" "$install_dir/Mailbeacon.exe"
  check "old agent kept as _old" carries_version "$install_dir/Mailbeacon.exe_old" "$old_version"
  check "a file placed in a sub-folder of the install folder" test -f "$install_dir/addin/addin_data.txt"
  check "the agent keeps the slot it was given" value_is RolloutSlot 7
}

scenario_upgrade() {
  echo "--- the newer package ($new_version) upgrades in place and keeps the settings"
  expect_checks 16
  wine reg add "$key" /v URL /t REG_SZ /d http://127.0.0.1:0 /f >/dev/null
  check "newer package version ($new_version)" test "$(product_version "$new_msi")" = "$new_version"
  msiexec /i "$(win_path "$new_msi")" MB_LANGUAGE=KOREAN
  check "msiexec /i of the newer package succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "one product left registered ($(registered_products))" test "$(registered_products)" -eq 1
  check "updater now version $new_version" \
    carries_version "$install_dir/SwiftPatcher_Mailbeacon.exe" "$new_version"
  check "agent now version $new_version" carries_version "$install_dir/Mailbeacon.exe" "$new_version"
  check "and signed by the newer package's CA" \
    signed_by "$install_dir/SwiftPatcher_Mailbeacon.exe" "$new_build/package/vendor/ca.pem"
  check "URL kept" value_is URL http://127.0.0.1:0
  check "V_DIR kept" value_is V_DIR /mailbeaconhome
  check "InstallType kept" value_is InstallType Express
  check "TrustedKeys kept" value_is TrustedKeys "$release_key"
  check "TrustedRoot kept" value_is TrustedRoot "$trusted_root"
  check "Reports kept" value_is Reports 0
  check "RolloutSlot kept" value_is RolloutSlot 7
  check "Language given anew" value_is Language KOREAN
  check "update folder kept" contains "$install_dir/update/install_version.ini" "2.0.1"
  check "backups kept" test -f "$install_dir/Mailbeacon.exe_old"
}

scenario_uninstall() {
  echo "--- msiexec /x, even told another INSTALLDIR, leaves nothing of ours and touches nothing else"
  expect_checks 9
  local other=$WINEPREFIX/drive_c/other
  mkdir -p "$other/update"
  printf 'not ours' | tee "$other/update/keep.txt" "$other/Mailbeacon.exe_old" >/dev/null
  wine reg add "$run_key" /v Other /t REG_SZ /d other.exe /f >/dev/null
  msiexec /x "$(win_path "$new_msi")" 'INSTALLDIR=C:\other\'
  check "msiexec /x succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "install folder gone, update folder, backups and sub-folders with it" test ! -e "$install_dir"
  check "the folder INSTALLDIR named keeps its update folder" test -f "$other/update/keep.txt"
  check "and its Mailbeacon.exe_old" test -f "$other/Mailbeacon.exe_old"
  check "no log-on entry left" no_run_entry
  check "another program's log-on entry stays" wine reg query "$run_key" /v Other
  check "settings gone, key and all" no_settings_key
  check "no product registered" test "$(registered_products)" -eq 0
  check "the plug-in the updater placed elsewhere stays" test -f "$product_dir/MailbeaconExpress.dll"
}

scenario_given_folder() {
  echo "--- installed into a folder of the administrator's: its uninstall takes only what it made there"
  expect_checks 5
  local shared=$WINEPREFIX/drive_c/shared
  mkdir -p "$shared/update"
  printf 'theirs' >"$shared/readme.txt"
  msiexec /i "$(win_path "$new_msi")" 'INSTALLDIR=C:\shared\'
  check "msiexec /i into C:\\shared succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "the agent is there" test -f "$shared/Mailbeacon.exe"
  msiexec /x "$(win_path "$new_msi")"
  check "msiexec /x succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "the programs are gone" test ! -e "$shared/Mailbeacon.exe"
  check "the folder and what else it holds stay" test -f "$shared/readme.txt"
  rm -rf "$shared"
}

scenario_one_setting() {
  echo "--- a first install with one setting writes only that one; an older package is refused; a rebuild replaces it"
  expect_checks 20
  msiexec /i "$(win_path "$new_msi")" MB_URL=http://127.0.0.1:0 MB_ROLLOUT_SLOT=100
  check "an MB_ROLLOUT_SLOT above 99 fails the install (status $msi_status)" test "$msi_status" -ne 0
  check "and installs nothing" test "$(registered_products)" -eq 0
  wine reg add "$key" /v InstallType /t REG_SZ /d outlook /f >/dev/null
  msiexec /i "$(win_path "$new_msi")" MB_URL=http://127.0.0.1:0 MB_AUTOSTART=0 MB_VDIR='  ' \
    MB_TRUSTED_KEYS=' ' MB_TRUSTED_ROOT=' ' MB_REPORTS=' ' MB_ROLLOUT_SLOT=' '
  check "msiexec /i succeeds (status $msi_status)" test "$msi_status" -eq 0
  check "no log-on entry with MB_AUTOSTART=0" no_run_entry
  check "URL written" value_is URL http://127.0.0.1:0
  check "no V_DIR for blanks" value_missing V_DIR
  check "no TrustedKeys for a blank" value_missing TrustedKeys
  check "no TrustedRoot for a blank" value_missing TrustedRoot
  check "no Reports, no RolloutSlot for blanks" eval 'value_missing Reports && value_missing RolloutSlot'
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
  check "a build without the vendor's key is test-signed" \
    signed_by "$new_msi" "$new_build/dist/signing-ca.pem"
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
scenario_given_folder
scenario_one_setting
finish_checks
