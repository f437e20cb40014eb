#!/usr/bin/env bash
# End-to-end runs of the Windows agent under Wine against the native
# mailbeacon-server on loopback. Run by scripts/test-wine, which provides
# the Wine prefix (WINEPREFIX), the display and these variables:
#   MB_WIN_BIN  the cross build's bin folder (Mailbeacon.exe, mb_answer_box.exe, ...)
#   MB_SERVER   the native mailbeacon-server
#   MB_KOREAN_LOCALE  (optional) a Unix locale that gives Wine code page 949,
#                     with LOCPATH exported when it lives in a private folder
# Each scenario seeds the registry with `wine reg add`, runs Mailbeacon.exe
# from C:\mb and checks its exit status, its message boxes and its files.
set -Eeuo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_SERVER:?}"

work=$(mktemp -d /tmp/mb-e2e.XXXXXX)
install_dir="$WINEPREFIX/drive_c/mb"
check_name=e2e
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"

cleanup() {
  stop_release_server
  rm -rf "$work"
}

start_server() {  # [extra server options...]
  start_release_server "$MB_SERVER" "$work/release" --codepage "${codepage:-1252}" \
    --access-log "$work/access.log" "$@"
}

fresh_install() {  # LANGUAGE
  rm -rf "$install_dir"
  mkdir -p "$install_dir"
  cp "$MB_WIN_BIN/Mailbeacon.exe" "$install_dir/"
  if [[ -f "$MB_WIN_BIN/SwiftPatcher_Mailbeacon.exe" ]]; then
    cp "$MB_WIN_BIN/SwiftPatcher_Mailbeacon.exe" "$install_dir/"
  fi
  seed_wine_settings "$1"
}

run_agent() {  # SECONDS -> sets agent_status
  agent_status=0
  timeout "$1" wine 'C:\mb\Mailbeacon.exe' || agent_status=$?
}

same_file() { cmp -s "$1" "$2"; }
contains() { grep -q -- "$2" "$1" 2>/dev/null; }
not_contains() { [[ -e $1 ]] && ! grep -q -- "$2" "$1"; }

scenario_hand_off() {
  echo "--- hand-off: out-of-date plug-in and agent are fetched, checked and handed over"
  expect_checks 10
  make_release "$work/release" N
  start_server
  fresh_install ENGLISH
  run_agent 120
  wineserver -w  # the updater, when built, finishes too
  check "agent ends after the hand-off (status 0, was $agent_status)" test "$agent_status" -eq 0
  local upd=$install_dir/update
  # The updater, when built, moves the checked files into place; otherwise
  # they wait in the update directory.
  local placed=$upd
  if [[ -f "$install_dir/SwiftPatcher_Mailbeacon.exe" ]]; then placed=$install_dir; fi
  check "plug-in file fetched intact" \
    same_file "$work/release/ORG/express/MailbeaconExpress.dll" "$placed/MailbeaconExpress.dll"
  check "agent file fetched intact" same_file "$work/release/ORG/agent/agent_data.txt" "$placed/agent_data.txt"
  check "install record holds the plug-in release" contains "$upd/install_version.ini" "1.0.5"
  check "install record holds the agent release" contains "$upd/install_version.ini" "2.0.1"
  check "update notice fetched" same_file "$work/release/notice.txt" "$upd/Mailbeacon_Update_Notice.txt"
  check "update log written" contains "$upd/update_log.txt" "MailbeaconExpress.dll"
  check "no pause.txt left behind" test ! -e "$upd/pause.txt"
  check "server asked for the pause state" contains "$work/access.log" "pause.aspx"
  check "manifests asked from the primary folder" contains "$work/access.log" "Folder=ORG"
  if [[ -f "$install_dir/SwiftPatcher_Mailbeacon.exe" ]]; then
    expect_checks 2
    check "updater removed the pending-install list" test ! -e "$upd/mailbeacon_download.ini"
    check "updater removed the applied copies" test ! -e "$upd/MailbeaconExpress.dll"
  else
    expect_checks 1
    check "pending-install list left for the updater" contains "$upd/mailbeacon_download.ini" "MailbeaconExpress.dll"
  fi
}

scenario_refused() {  # LANGUAGE EXPECTED_TEXT
  echo "--- server refuses ($1): message box, then the agent ends"
  expect_checks 5
  make_release "$work/release" R
  start_server
  fresh_install "$1"
  wine "$MB_WIN_BIN/mb_answer_box.exe" Mailbeacon ok 90 >"$work/box.txt" 2>&1 &
  local answer_pid=$!
  run_agent 120
  local answered=0
  wait "$answer_pid" || answered=$?
  check "a box captioned Mailbeacon was shown and answered" test "$answered" -eq 0
  check "its text is the refusal message" contains "$work/box.txt" "$2"
  check "it has only an OK button and no icon" contains "$work/box.txt" "buttons: OK icon:no"
  check "agent ends with the refusal status (3, was $agent_status)" test "$agent_status" -eq 3
  check "nothing was downloaded" test ! -e "$install_dir/update/install_version.ini"
}

# Pixels of one colour (#RRGGBB) in a screenshot.
color_count() {
  convert "$1" -define histogram:unique-colors=true -format %c histogram:info:- |
    awk -v c="$2" 'toupper($0) ~ c {gsub(":", "", $1); n += $1} END {print n + 0}'
}

scenario_progress_window() {
  echo "--- progress window: shown with its panels while a slow download fills the bar"
  expect_checks 3
  make_release "$work/release" N 600  # dripped at 10 ms a byte: 6 s on the screen
  start_server --misbehave slow-drip --misbehave-on program= --drip-ms 10
  fresh_install ENGLISH
  timeout 120 wine 'C:\mb\Mailbeacon.exe' &
  local agent_pid=$! blue=0 bar=0
  for _ in $(seq 60); do
    sleep 0.5
    import -window root "$work/screen.png" 2>/dev/null || continue
    blue=$(color_count "$work/screen.png" "#0284E5")
    bar=$(color_count "$work/screen.png" "#578448")
    if ((bar > 0)); then break; fi
  done
  agent_status=0
  wait "$agent_pid" || agent_status=$?
  wineserver -w
  check "blue panels on the screen ($blue pixels)" test "$blue" -gt 20000
  check "progress bar painted during the download ($bar pixels)" test "$bar" -gt 0
  check "the run still hands off (status $agent_status)" test "$agent_status" -eq 0
}

# The vendor's path for a Korean name, every command with its default code
# page (949): the plug-in's release put in place by publish, signed, exported
# and served by nginx; the agent on a Korean system trusts the key.
scenario_korean_names() {
  echo "--- Korean system (code page 949): a Korean name through publish, sign, export and nginx"
  if [[ -z "${MB_KOREAN_LOCALE:-}" ]]; then
    echo "e2e: skipped: no Korean locale (MB_KOREAN_LOCALE)"
    return
  fi
  local name store=$work/store/express-1.0.6 site=$work/site site_port public_key
  stop_release_server
  name=$(printf '\xec\x97\x85\xeb\x8d\xb0\xec\x9d\xb4\xed\x8a\xb8.txt')  # "업데이트.txt"
  make_release "$work/release" N 1000
  rm -rf "$work/store" "$site"
  mkdir -p "$store"
  head -c 1000 /dev/urandom >"$store/MailbeaconExpress.dll"
  printf 'Korean-named file\r\n' >"$store/$name"
  printf '[RELEASE]\r\nLAST_VERSION=1.0.6\r\n' >"$store/release.ini"
  "$MB_SERVER" publish --root "$work/release" --component ORG/express --release "$store" \
    >"$work/publish.txt" 2>&1
  openssl ecparam -name prime256v1 -genkey -noout -out "$work/korean-key.pem"
  public_key=$(openssl ec -in "$work/korean-key.pem" -pubout -outform DER 2>/dev/null | base64 -w0)
  "$MB_SERVER" sign --root "$work/release" --key "$work/korean-key.pem" >"$work/sign.txt"
  chmod -R a+rX "$work"  # nginx's workers run as nobody under root
  site_port=$(free_port)
  "$MB_SERVER" export --root "$work/release" --out "$site" --listen "127.0.0.1:$site_port" \
    >"$work/export.txt"
  start_nginx "$site" "$site_port"
  port=$site_port  # the agent's URL names nginx
  fresh_install KOREAN
  wine reg add 'HKCU\SOFTWARE\BrightHarbor\MailbeaconCom' /v TrustedKeys /t REG_SZ \
    /d "$public_key" /f >/dev/null
  LANG=$MB_KOREAN_LOCALE LC_ALL=$MB_KOREAN_LOCALE run_agent 120
  LANG=$MB_KOREAN_LOCALE LC_ALL=$MB_KOREAN_LOCALE wineserver -w
  stop_nginx
  expect_checks 4
  check "publish put the release in place" contains "$work/publish.txt" "^published $store as ORG/express"
  check "agent hands off (status $agent_status)" test "$agent_status" -eq 0
  local placed=$install_dir/update
  if [[ -f "$install_dir/SwiftPatcher_Mailbeacon.exe" ]]; then placed=$install_dir; fi
  check "the Korean-named file arrived intact" same_file "$store/$name" "$placed/$name"
  check "the signed release was accepted" contains "$install_dir/update/accepted_signatures.ini" "EXPRESS_DOWNLOAD"
}

scenario_retry_declined() {
  echo "--- digests never match: after three runs the user is asked, declines, and the agent ends"
  expect_checks 7
  make_release "$work/release" N 1000
  start_server --misbehave wrong-hash
  fresh_install ENGLISH
  (
    wine "$MB_WIN_BIN/mb_answer_box.exe" "Mailbeacon Installation" no 90 >"$work/ask.txt" 2>&1 &&
      wine "$MB_WIN_BIN/mb_answer_box.exe" "Mailbeacon Installation" ok 30 >"$work/told.txt" 2>&1
  ) &
  local answers_pid=$!
  run_agent 120
  wait "$answers_pid" || true  # the answers are judged by what they read
  check "the retry question came with Yes and No" contains "$work/ask.txt" "buttons: Yes No icon:no"
  check "it asks whether to retry" contains "$work/ask.txt" "Do you retry downloading again?"
  check "declining says it will be tried at the next start" contains "$work/told.txt" "Download incomplete."
  # Under Wine another process's icon handle cannot be told from the rest
  # (icon:yes); the Win32 window-system test checks it is the information
  # icon. The other boxes have none.
  check "that is an information message, with an icon" \
    grep -qE "buttons: OK icon:(information|yes)" "$work/told.txt"
  check "agent ends with the declined status (4, was $agent_status)" test "$agent_status" -eq 4
  check "nothing was handed over" test ! -e "$install_dir/update/mailbeacon_download.ini"
  check "the bad download was not installed" test ! -e "$install_dir/MailbeaconExpress.dll"
}

scenario_error_box() {
  echo "--- an empty pause file: the run's error box, then the agent keeps trying"
  expect_checks 3
  make_release "$work/release" N
  : >"$work/release/pause.txt"
  start_server
  fresh_install ENGLISH
  wine "$MB_WIN_BIN/mb_answer_box.exe" Mailbeacon ok 60 >"$work/box.txt" 2>&1 &
  local answer_pid=$!
  run_agent 20
  wait "$answer_pid" || true  # judged by what it read
  check "the error box names the failure" contains "$work/box.txt" "^Installation failure : ."
  check "the agent was still running, not ended (status $agent_status)" test "$agent_status" -eq 124
  local runs
  runs=$(grep -c "pause.aspx" "$work/access.log" || true)
  check "runs went on after the box was closed ($runs pause requests)" test "$runs" -ge 2
  wineserver -k || true  # the agent's next box is still open
  wineserver -w
}

fresh_log() {  # the server appends to its access log: this scenario's requests only
  stop_release_server
  : >"$work/access.log"
}

rollout_slot() {  # the agent's number for staged releases, from the Wine registry
  wine reg query 'HKCU\SOFTWARE\BrightHarbor\MailbeaconCom' /v RolloutSlot 2>/dev/null |
    tr -d '\r' | awk '$1 == "RolloutSlot" {print $3}'
}

scenario_poll_and_rollout() {
  echo "--- POLL and a staged release: one run, then a wait of an hour; a number below the share takes it"
  expect_checks 7
  make_release "$work/release" $'N\r\nPOLL=3600'
  for c in express agent; do printf 'ROLLOUT=0\r\n' >>"$work/release/ORG/$c/release.ini"; done
  fresh_log
  start_server
  fresh_install ENGLISH
  run_agent 15
  wineserver -k || true
  wineserver -w
  local runs slot
  runs=$(grep -c "pause.aspx" "$work/access.log" || true)
  slot=$(rollout_slot)
  check "the agent was still waiting when stopped (status $agent_status)" test "$agent_status" -eq 124
  check "one run, then the POLL wait ($runs pause requests in 15 s)" test "$runs" -eq 1
  check "the release staged to nobody was not fetched" not_contains "$work/access.log" "program="
  check "the agent drew its number and kept it (\"$slot\")" grep -qxE '[0-9]{1,2}' <<<"$slot"

  for c in express agent; do sed -i 's/^ROLLOUT=0/ROLLOUT=10/' "$work/release/ORG/$c/release.ini"; done
  printf 'N\r\n' >"$work/release/pause.txt"
  fresh_log
  start_server
  fresh_install ENGLISH
  wine reg add 'HKCU\SOFTWARE\BrightHarbor\MailbeaconCom' /v RolloutSlot /t REG_SZ /d 5 /f >/dev/null
  run_agent 120
  wineserver -w
  check "number 5 takes a release staged to 10 % (status $agent_status)" test "$agent_status" -eq 0
  check "its files were fetched" contains "$work/access.log" "program="
  check "the number was kept as it was (\"$(rollout_slot)\")" test "$(rollout_slot)" = 5
}

# What a vendor switches on in the pause file, as the Windows agent takes it:
# with POLL, failed runs back off (500 ms, then doubling up to POLL) rather
# than coming every 500 ms; with REPORTS=Y the installed release is reported
# once a day, whatever the server answers (here 404: it knows no reports).
scenario_reports_and_back_off() {
  echo "--- POLL=3 and REPORTS=Y: failed runs back off, the day's report is sent once"
  expect_checks 3
  make_release "$work/release" $'N\r\nPOLL=3\r\nREPORTS=Y'
  fresh_log
  start_server --misbehave error-500 --misbehave-on program=
  fresh_install ENGLISH
  mkdir -p "$install_dir/update"
  printf '[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=2.0.0\r\n' >"$install_dir/update/install_version.ini"
  wine "$MB_WIN_BIN/mb_answer_box.exe" "Mailbeacon Installation" yes 30 >"$work/ask.txt" 2>&1 &
  local answer_pid=$!
  run_agent 14
  wait "$answer_pid" || true  # judged by what it saw
  wineserver -k || true
  wineserver -w
  local runs reports
  runs=$(grep -c "pause.aspx" "$work/access.log" || true)
  reports=$(grep -c 'report\.aspx?component=agent&from=2\.0\.0&to=2\.0\.0&result=active&reason=&slot= ' \
    "$work/access.log" || true)
  check "failed runs back off ($runs runs in 14 s; every 500 ms would be over 15)" \
    test "$runs" -ge 3 -a "$runs" -le 10
  check "the agent's release was reported active once ($reports)" test "$reports" -eq 1
  check "failed downloads still bring the retry question" contains "$work/ask.txt" "Do you retry"
}

scenario_resume() {
  echo "--- resume: a file cut off half-way is asked for from where it stopped, and checked whole"
  expect_checks 4
  make_release "$work/release" N 3000000
  fresh_log
  start_server --misbehave short-body --misbehave-on program=
  fresh_install ENGLISH
  run_agent 15  # every transfer of a file is cut: the agent keeps trying
  wineserver -k || true
  wineserver -w
  check "the cut transfer's bytes were kept" test -s "$install_dir/update/.scratch/MailbeaconExpress.dll.part"
  start_server --port "$port"  # the same URLs as before
  run_agent 120
  wineserver -w
  check "agent hands off (status $agent_status)" test "$agent_status" -eq 0
  local placed=$install_dir/update
  if [[ -f "$install_dir/SwiftPatcher_Mailbeacon.exe" ]]; then placed=$install_dir; fi
  check "the plug-in file arrived whole" \
    same_file "$work/release/ORG/express/MailbeaconExpress.dll" "$placed/MailbeaconExpress.dll"
  check "its rest came as a part (206)" grep -qE "express_exe\.aspx\?program=[^ ]* 206( |$)" "$work/access.log"
}

scenario_hand_off
scenario_resume
scenario_poll_and_rollout
scenario_reports_and_back_off
scenario_progress_window
scenario_korean_names
scenario_retry_declined
scenario_error_box
scenario_refused ENGLISH "Installation impossible because of server problem."
scenario_refused KOREAN "$(printf '\xec\x84\x9c\xeb\xb2\x84')"  # "서버" (server)

finish_checks
