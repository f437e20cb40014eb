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
#     certificate for another name; then the update works.
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
  wine "$MB_WIN_BIN/mb_answer_box.exe" "Mailbeacon Installation" no 10 >"$work/ask.txt" 2>&1 &
  local answers_pid=$!
  agent_status=0
  timeout 12 wine 'C:\mb\Mailbeacon.exe' || agent_status=$?
  wait "$answers_pid" || true  # judged by what it saw
  wineserver -k || true
  wineserver -w
}
went_on_unasked() { [[ $agent_status -eq 124 ]] && lacks "$work/ask.txt" "Do you retry"; }

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

scenario_signed_installs
scenario_replayed
scenario_tampered
scenario_keyless
scenario_https

finish_checks
