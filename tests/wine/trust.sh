#!/usr/bin/env bash
# Signed releases and HTTPS, the Windows agent under Wine (CNG for the
# signatures, WinINet for TLS) against the native mailbeacon-server on
# loopback. Run by scripts/test-wine, which provides the Wine prefix
# (WINEPREFIX), the display and these variables:
#   MB_WIN_BIN  the cross build's bin folder (Mailbeacon.exe, mb_answer_box.exe,
#               mb_trust_ca.exe)
#   MB_SERVER   the native mailbeacon-server (its sign command signs the releases)
# Needs openssl and nginx (scripts/install-deps). Scenarios:
#   - a signed release installs on an agent that trusts its key, and the
#     signing time is remembered;
#   - the older release, signed earlier, served again: refused;
#   - a tampered manifest (its digests changed in transit): refused;
#   - an agent without keys takes the signed release as the design's agent;
#   - HTTPS through an nginx TLS front with a test CA: nothing is fetched
#     until the CA is trusted in this prefix's own Root store, nor from a
#     certificate for another name; then the update works;
#   - ORG and MIRROR signed in one run: a pause answer that sends the agent
#     to MIRROR's older release is refused (the rule against a step back);
#   - TrustedKeys that names no key (" ", an empty REG_MULTI_SZ) keeps the
#     check on: an unsigned release is refused;
#   - a root of trust (TrustedRoot): a release signed by a key of root 2
#     sends the agent to root.aspx and is taken; the old key's releases are
#     refused from then on, and a root signed by one root key of two is
#     refused with its reason;
#   - a signed LENGTH: a body without end is cut at the file's length, and
#     nothing longer is kept in update\.scratch.
set -Eeuo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_SERVER:?}"

work=$(mktemp -d /tmp/mb-trust.XXXXXX)
install_dir="$WINEPREFIX/drive_c/mb"
key='HKCU\SOFTWARE\BrightHarbor\MailbeaconCom'
check_name=trust
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"

cleanup() {
  stop_nginx
  stop_release_server
  rm -rf "$work"
}

start_server() {  # ROOT [extra server options...]; each with a fresh access log
  stop_release_server
  rm -f "$work/access.log"
  start_release_server "$MB_SERVER" "$1" --codepage 1252 --access-log "$work/access.log" "${@:2}"
}

sign_release() {  # ROOT
  "$MB_SERVER" sign --root "$1" --key "$work/key.pem" --codepage 1252 >"$work/sign.txt"
}

# A release of the plug-in at VERSION, signed now.
signed_release() {  # DIR VERSION
  make_release "$1" N
  printf '[RELEASE]\r\nLAST_VERSION=%s\r\n' "$2" >"$1/ORG/express/release.ini"
  sign_release "$1"
}

fresh_install() {  # [TRUSTED_KEYS]
  rm -rf "$install_dir"
  mkdir -p "$install_dir"
  cp "$MB_WIN_BIN/Mailbeacon.exe" "$install_dir/"
  if [[ -f "$MB_WIN_BIN/SwiftPatcher_Mailbeacon.exe" ]]; then
    cp "$MB_WIN_BIN/SwiftPatcher_Mailbeacon.exe" "$install_dir/"
  fi
  seed_wine_settings ENGLISH
  if [[ -n "${1:-}" ]]; then wine reg add "$key" /v TrustedKeys /t REG_SZ /d "$1" /f >/dev/null; fi
}

use_url() { wine reg add "$key" /v URL /t REG_SZ /d "$1" /f >/dev/null; }

run_agent() {  # SECONDS -> sets agent_status
  agent_status=0
  timeout "$1" wine 'C:\mb\Mailbeacon.exe' || agent_status=$?
  wineserver -w
}

# A refused pass is nothing a retry could mend: the user is never asked
# whether to retry, and the agent goes on as after a run with nothing to do
# (still running when stopped: status 124).
run_agent_refused() {
  wine "$MB_WIN_BIN/mb_answer_box.exe" "Mailbeacon Installation" no 6 >"$work/ask.txt" 2>&1 &
  local answers_pid=$!
  agent_status=0
  timeout 8 wine 'C:\mb\Mailbeacon.exe' || agent_status=$?
  wait "$answers_pid" || true  # judged by what it saw
  wineserver -k || true
  wineserver -w
}
went_on_unasked() { [[ $agent_status -eq 124 ]] && lacks "$work/ask.txt" "Do you retry"; }

# A download that fails (a body cut at its signed length) is asked about:
# after three runs the user is asked whether to retry; declining ends the
# agent (status 4).
run_agent_declining() {
  (
    wine "$MB_WIN_BIN/mb_answer_box.exe" "Mailbeacon Installation" no 90 >"$work/ask.txt" 2>&1 &&
      wine "$MB_WIN_BIN/mb_answer_box.exe" "Mailbeacon Installation" ok 30 >"$work/told.txt" 2>&1
  ) &
  local answers_pid=$!
  run_agent 120
  wait "$answers_pid" || true  # judged by the agent's status
}

same_file() { cmp -s "$1" "$2"; }
contains() { grep -q -- "$2" "$1" 2>/dev/null; }
lacks() { ! grep -q -- "$2" "$1" 2>/dev/null; }
placed() {  # where the updater (when built) put the plug-in, else where it waits
  if [[ -f "$install_dir/SwiftPatcher_Mailbeacon.exe" ]]; then echo "$install_dir"; else echo "$install_dir/update"; fi
}

scenario_signed_installs() {
  echo "--- a signed release installs on an agent that trusts its key"
  expect_checks 5
  openssl ecparam -name prime256v1 -genkey -noout -out "$work/key.pem"
  public_key=$(openssl ec -in "$work/key.pem" -pubout -outform DER 2>/dev/null | base64 -w0)
  # 1.0.4, signed first and kept for the replay below; then 1.0.5.
  signed_release "$work/old" 1.0.4
  sleep 1.1
  signed_release "$work/release" 1.0.5
  start_server "$work/release"
  fresh_install "$public_key"
  run_agent 120
  local upd=$install_dir/update
  check "agent ends after the hand-off (status $agent_status)" test "$agent_status" -eq 0
  check "plug-in file fetched intact" \
    same_file "$work/release/ORG/express/MailbeaconExpress.dll" "$(placed)/MailbeaconExpress.dll"
  check "install record holds the signed release" contains "$upd/install_version.ini" "1.0.5"
  check "its signing time is remembered" contains "$upd/accepted_signatures.ini" "SIGNED=20"
  check "nothing was refused" lacks "$upd/update_log.txt" "refused"
}

scenario_replayed() {
  echo "--- the older release, signed earlier, served again: refused"
  expect_checks 5
  start_server "$work/old"
  use_url "http://127.0.0.1:$port"  # the same installation, another server
  run_agent_refused
  local upd=$install_dir/update
  check "the agent went on, never asking the retry question (status $agent_status)" \
    went_on_unasked
  check "the log names the reason" contains "$upd/update_log.txt" \
    "refused the Outlook Express plug-in: older than the release already accepted"
  check "its manifest was served" contains "$work/access.log" "express_exe.aspx?version="
  check "no file of it was asked for" lacks "$work/access.log" "program="
  check "the installed release stays" contains "$upd/install_version.ini" "1.0.5"
}

scenario_tampered() {
  echo "--- a tampered manifest (its digests changed in transit): refused"
  expect_checks 5
  start_server "$work/release" --misbehave wrong-hash
  fresh_install "$public_key"
  run_agent_refused
  local upd=$install_dir/update
  check "the agent went on, never asking the retry question (status $agent_status)" \
    went_on_unasked
  check "the log names the reason" contains "$upd/update_log.txt" \
    "refused the Outlook Express plug-in: invalid signature: it does not fit the manifest"
  check "its manifest was served" contains "$work/access.log" "express_exe.aspx?version="
  check "no file of it was asked for" lacks "$work/access.log" "program="
  check "nothing was handed over" test ! -e "$upd/mailbeacon_download.ini"
}

scenario_keyless() {
  echo "--- an agent without keys takes the signed release as the design's agent"
  expect_checks 2
  start_server "$work/release"
  fresh_install
  run_agent 120
  check "agent ends after the hand-off (status $agent_status)" test "$agent_status" -eq 0
  check "plug-in file fetched intact" \
    same_file "$work/release/ORG/express/MailbeaconExpress.dll" "$(placed)/MailbeaconExpress.dll"
}

# An nginx TLS front (server/deploy/nginx-tls-front.conf) for the release
# server with the certificate of HOST; its port in front_port.
start_front() {  # HOST
  local dir conf
  front_port=$(free_port)
  dir=$work/front-$front_port
  mkdir -p "$dir/logs"
  conf=$(sed -e "s|server 127.0.0.1:8080;|server 127.0.0.1:$port;|" \
    -e "s|listen 192.0.2.10:443 ssl;|listen 127.0.0.1:$front_port ssl;|" \
    -e "s|server_name updates.example.com;|server_name localhost;|" \
    -e "s|/etc/ssl/mailbeacon/fullchain.pem|$work/ca/$1.pem|" \
    -e "s|/etc/ssl/mailbeacon/privkey.pem|$work/ca/$1.key|" \
    "$(dirname "$0")/../../server/deploy/nginx-tls-front.conf")
  printf '%s\n' "$conf" >"$dir/nginx.conf"
  start_nginx "$dir" "$front_port"
}

requests() { grep -c "GET " "$work/access.log" || true; }

scenario_https() {
  echo "--- HTTPS through a TLS front: only with the test CA trusted in this prefix, and only for its name"
  expect_checks 7
  "$(dirname "$0")/../make_test_ca.sh" "$work/ca"
  chmod -R a+rX "$work"  # nginx's workers run as nobody under root
  make_release "$work/plain" N
  start_server "$work/plain"
  start_front localhost
  local good=$front_port
  start_front otherhost
  local wrong_name=$front_port
  fresh_install
  use_url "https://localhost:$good"
  run_agent 15
  check "without the CA the agent keeps trying (status $agent_status)" test "$agent_status" -eq 124
  check "and nothing reached the server ($(requests) requests)" test "$(requests)" -eq 0
  check "the test CA goes into this prefix's Root store" \
    wine "$MB_WIN_BIN/mb_trust_ca.exe" "$(winepath -w "$work/ca/ca.der")"
  use_url "https://localhost:$wrong_name"
  run_agent 15
  check "a certificate for another name: still trying (status $agent_status)" test "$agent_status" -eq 124
  check "and nothing reached the server ($(requests) requests)" test "$(requests)" -eq 0
  use_url "https://localhost:$good"
  run_agent 120
  check "with the CA trusted the agent hands off (status $agent_status)" test "$agent_status" -eq 0
  check "plug-in file fetched intact over HTTPS" \
    same_file "$work/plain/ORG/express/MailbeaconExpress.dll" "$(placed)/MailbeaconExpress.dll"
}

# ORG at 2.0 and MIRROR at 1.0, signed in one run (one signing time).
scenario_folders_signed_together() {
  echo "--- ORG and MIRROR signed together: the older folder's release is refused"
  expect_checks 6
  make_release "$work/folders" N
  printf '[RELEASE]\r\nLAST_VERSION=2.0\r\n' >"$work/folders/ORG/express/release.ini"
  mkdir -p "$work/folders/MIRROR/express"
  head -c 3000 /dev/urandom >"$work/folders/MIRROR/express/MailbeaconExpress.dll"
  printf '[RELEASE]\r\nLAST_VERSION=1.0\r\n' >"$work/folders/MIRROR/express/release.ini"
  sign_release "$work/folders"
  start_server "$work/folders"
  fresh_install "$public_key"
  run_agent 120
  local upd=$install_dir/update
  check "ORG's 2.0 installs (status $agent_status)" test "$agent_status" -eq 0
  check "2.0 is the release accepted" contains "$upd/accepted_signatures.ini" "LAST_VERSION=2.0"
  printf 'Y\r\n' >"$work/folders/pause.txt"  # a machine in the middle: "go to MIRROR"
  start_server "$work/folders"                 # with a fresh access log
  use_url "http://127.0.0.1:$port"
  run_agent_refused
  check "the agent went on, never asking the retry question (status $agent_status)" \
    went_on_unasked
  check "the log names the rule" contains "$upd/update_log.txt" \
    "refused the Outlook Express plug-in: release 1.0 is not signed later than release 2.0"
  check "MIRROR's manifest was served" contains "$work/access.log" "Folder=MIRROR"
  check "no file of it was asked for" lacks "$work/access.log" "program="
}

scenario_empty_keys() {
  echo "--- TrustedKeys that names no key keeps the check on"
  expect_checks 8
  make_release "$work/unsigned" N
  local value upd=$install_dir/update
  for value in ' ' 'empty REG_MULTI_SZ'; do
    start_server "$work/unsigned"  # with a fresh access log
    fresh_install
    if [[ "$value" == ' ' ]]; then
      wine reg add "$key" /v TrustedKeys /t REG_SZ /d ' ' /f >/dev/null
    else
      wine reg add "$key" /v TrustedKeys /t REG_MULTI_SZ /d '' /f >/dev/null
    fi
    run_agent_refused
    check "TrustedKeys=\"$value\": refused, the agent going on unasked (status $agent_status)" \
      went_on_unasked
    check "  the log says why" contains "$upd/update_log.txt" \
      "refused the Outlook Express plug-in: no signature \[TrustedKeys: the value names no key\]"
    check "  its manifest was served" contains "$work/access.log" "express_exe.aspx?version="
    check "  no file of it was asked for" lacks "$work/access.log" "program="
  done
}

# Root 1: root keys A and B, both needed, release key K1 (the agents' key
# so far). Root 2 names K2 and is signed by A and B.
make_roots() {
  local k
  for k in root-a root-b k2 thief; do
    openssl ecparam -name prime256v1 -genkey -noout -out "$work/$k.pem"
    openssl ec -in "$work/$k.pem" -pubout -out "$work/$k.pub.pem" 2>/dev/null
  done
  openssl ec -in "$work/key.pem" -pubout -out "$work/key.pub.pem" 2>/dev/null
  "$MB_SERVER" sign-root --out "$work/root.1.ini" --version 1 --threshold 2 \
    --root-keys "$work/root-a.pub.pem,$work/root-b.pub.pem" --release-keys "$work/key.pub.pem" \
    --expires 2099-01-01 --key "$work/root-a.pem" --key "$work/root-b.pem" >/dev/null
  "$MB_SERVER" sign-root --out "$work/root.2.ini" --version 2 --threshold 2 \
    --root-keys "$work/root-a.pub.pem,$work/root-b.pub.pem" --release-keys "$work/k2.pub.pem" \
    --expires 2099-01-01 --key "$work/root-a.pem" --key "$work/root-b.pem" \
    --previous "$work/root.1.ini" >/dev/null
}

scenario_root_rotation() {
  echo "--- a root of trust: a new release key through root 2; the old key refused after"
  expect_checks 8
  make_roots
  make_release "$work/rotated" N
  mkdir -p "$work/rotated/keys"
  cp "$work/root.1.ini" "$work/root.2.ini" "$work/rotated/keys/"
  "$MB_SERVER" sign --root "$work/rotated" --key "$work/k2.pem" --codepage 1252 >/dev/null
  start_server "$work/rotated"
  fresh_install
  wine reg add "$key" /v TrustedRoot /t REG_SZ /d "$(base64 -w0 "$work/root.1.ini")" /f >/dev/null
  run_agent 120
  local upd=$install_dir/update
  check "a release signed by root 2's key installs (status $agent_status)" test "$agent_status" -eq 0
  check "root 2 was asked for" contains "$work/access.log" "root.aspx?version=2 "
  check "and root 3 (there is none)" contains "$work/access.log" "root.aspx?version=3 "
  check "root 2 is kept in the update folder" same_file "$work/root.2.ini" "$upd/trusted_root.ini"
  # The old key in a thief's hands, and a root signed by one root key of two.
  "$MB_SERVER" sign-root --out "$work/rotated/keys/root.3.ini" --version 3 --threshold 1 \
    --root-keys "$work/root-a.pub.pem" --release-keys "$work/thief.pub.pem" \
    --expires 2099-01-01 --key "$work/root-a.pem" >/dev/null
  printf '[RELEASE]\r\nLAST_VERSION=6.6.6\r\n' >"$work/rotated/ORG/express/release.ini"
  "$MB_SERVER" sign --root "$work/rotated" --key "$work/key.pem" --codepage 1252 >/dev/null
  sleep 1
  run_agent_refused
  check "the old key's release is refused, the agent going on unasked (status $agent_status)" \
    went_on_unasked
  check "the log names the unknown key" contains "$upd/update_log.txt" \
    "refused the Outlook Express plug-in: unknown key $(key_id "$work/key.pem")"
  check "root 3 is refused with its reason" contains "$upd/update_log.txt" \
    "refused root.aspx?version=3: root 3 is signed by 1 of root 2's root keys, 2 needed"
  check "root 2 is still the one kept" same_file "$work/root.2.ini" "$upd/trusted_root.ini"
}

# The first 16 hex digits of the SHA-256 of a key's public DER.
key_id() {  # PRIVATE-KEY
  openssl ec -in "$1" -pubout -outform DER 2>/dev/null | sha256sum | cut -c1-16
}

# The largest file in a folder, in bytes (0 when it is empty or missing).
largest_file() {  # DIR
  find "$1" -type f -printf '%s\n' 2>/dev/null | sort -n | tail -n 1 | grep . || echo 0
}

scenario_length() {
  echo "--- a signed LENGTH: a body without end is cut at the file's length"
  expect_checks 4
  signed_release "$work/length" 1.0.7
  local length
  length=$(stat -c %s "$work/length/ORG/express/MailbeaconExpress.dll")
  start_server "$work/length" --misbehave endless --misbehave-on program=
  fresh_install "$public_key"
  run_agent_declining
  local upd=$install_dir/update
  check "the pass fails like a download, the user declined (status 4, was $agent_status)" \
    test "$agent_status" -eq 4
  check "the file was asked for" contains "$work/access.log" "program="
  check "nothing longer than the file ($length bytes) is kept" \
    test "$(largest_file "$upd/.scratch")" -le "$length"
  check "nothing was handed over" test ! -e "$upd/mailbeacon_download.ini"
}

scenario_signed_installs
scenario_replayed
scenario_tampered
scenario_keyless
scenario_folders_signed_together
scenario_empty_keys
scenario_root_rotation
scenario_length
scenario_https

finish_checks
