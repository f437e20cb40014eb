#!/usr/bin/env bash
# The update on a real desktop, under Wine: the add-in's three DLLs (real
# ones, mb_tiny.dll with their version appended) go from 1.0.5 to 1.0.6 in
# C:\mb\addin, and the add-in is never left half updated:
#   - a DLL the mail program has loaded is replaced while it is loaded;
#   - a DLL held without FILE_SHARE_DELETE keeps the whole add-in at 1.0.5,
#     and the update completes once it is let go (the agent started again by
#     the updater hands it over, nothing is fetched again);
#   - a release with a file for the system folder that this user may not
#     write changes nothing, and says so once in the log;
#   - two agents started together, twenty times, install once each time;
#   - an updater killed half-way leaves no temporary after the next run;
#   - a start after a failed install while the server answers 500 leaves
#     the add-in whole, and once the server is back the install completes
#     without fetching anything again.
# Run by scripts/test-wine (prefix, display, variables as for e2e.sh):
#   MB_WIN_BIN  the cross build's bin folder (Mailbeacon.exe, mb_hold_file.exe, mb_tiny.dll)
#   MB_SERVER   the native mailbeacon-server
set -Eeuo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_SERVER:?}"

work=$(mktemp -d /tmp/mb-desktop.XXXXXX)
install_dir="$WINEPREFIX/drive_c/mb"
addin=$install_dir/addin
upd=$install_dir/update
system_dir="$WINEPREFIX/drive_c/windows/system32"
check_name=desktop
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"

cleanup() {
  chattr -i "$system_dir" 2>/dev/null || true
  stop_release_server
  rm -rf "$work"
}

dll_of() {  # NAME VERSION -> a real DLL whose bytes tell its name and version
  cat "$MB_WIN_BIN/mb_tiny.dll"
  printf 'Mailbeacon %s %s\n' "$1" "$2"
}

publish() {  # VERSION [TARGET_DIR of MbRes.dll] [BYTES of a big file]
  local rel=$work/release v=$1 name
  rm -rf "$rel"
  mkdir -p "$rel/ORG/express" "$rel/ORG/agent" "$rel/MIRROR"
  printf 'N\r\n' >"$rel/pause.txt"
  printf 'Release notes\r\n' >"$rel/notice.txt"
  : >"$rel/ORG/express/files.ini"
  for name in MbCore MailbeaconExpress MbRes; do
    dll_of "$name" "$v" >"$rel/ORG/express/${name}_$v.dll"
    local dir='.\addin'
    [[ $name == MbRes && -n "${2:-}" ]] && dir=$2
    printf '[%s_%s.dll]\r\nVERSION=%s\r\nORG_NAME=%s.dll\r\nTARGET_DIR=%s\r\n' \
      "$name" "$v" "$v" "$name" "$dir" >>"$rel/ORG/express/files.ini"
  done
  if [[ -n "${3:-}" ]]; then
    head -c "$3" /dev/zero >"$rel/ORG/express/MbBig_$v.bin"
    printf '[MbBig_%s.bin]\r\nVERSION=%s\r\nORG_NAME=MbBig.bin\r\nTARGET_DIR=.\\addin\r\n' "$v" "$v" \
      >>"$rel/ORG/express/files.ini"
  fi
  printf '[RELEASE]\r\nLAST_VERSION=%s\r\n' "$v" >"$rel/ORG/express/release.ini"
  printf 'agent data\r\n' >"$rel/ORG/agent/agent_data.txt"
  printf '[RELEASE]\r\nLAST_VERSION=2.0.1\r\n' >"$rel/ORG/agent/release.ini"
}

installed_105() {  # the add-in at 1.0.5, the agent up to date; nothing of ours running
  stop_programs
  rm -rf "$install_dir"
  mkdir -p "$addin" "$upd"
  cp "$MB_WIN_BIN/Mailbeacon.exe" "$MB_WIN_BIN/SwiftPatcher_Mailbeacon.exe" "$install_dir/"
  local record='[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0.5\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=2.0.1\r\n'
  for name in MbCore MailbeaconExpress MbRes; do
    dll_of "$name" 1.0.5 >"$addin/$name.dll"
    record+="[$name.dll]\\r\\nVERSION=1.0.5\\r\\n"
  done
  printf 'big 1.0.5\n' >"$addin/MbBig.bin"
  record+='[MbBig.bin]\r\nVERSION=1.0.5\r\n'
  printf '%b' "$record" >"$upd/install_version.ini"
}

serve() {  # [server options...]: a fresh access log for each scenario
  stop_release_server
  : >"$work/access.log"
  start_release_server "$MB_SERVER" "$work/release" --access-log "$work/access.log" "$@"
  seed_wine_settings ENGLISH
}

run_agent() {  # SECONDS [VAR=VALUE...] -> sets agent_status
  local seconds=$1
  shift
  agent_status=0
  env "$@" timeout "$seconds" wine 'C:\mb\Mailbeacon.exe' || agent_status=$?
}

# Ends the agents, the updater and the holder, not the Wine server (a new
# one takes seconds to start).
stop_programs() {
  pkill -9 -f 'C:.mb.(Mailbeacon|SwiftPatcher_Mailbeacon)\.exe|mb_hold_file\.exe' || true
  wait_until 10 no_program_running || script_error "a program did not end"
}
no_program_running() { ! pgrep -f 'C:.mb.(Mailbeacon|SwiftPatcher_Mailbeacon)\.exe|mb_hold_file\.exe' >/dev/null; }

fetched() { grep -c 'program=' "$work/access.log" || true; }
log_has() { grep -qF -- "$1" "$upd/update_log.txt" 2>/dev/null; }
log_count() { grep -cF -- "$1" "$upd/update_log.txt" 2>/dev/null || true; }
# The agent's own line (the updater's says why in brackets after it).
agent_waits_for() { grep -qE "Waiting for C:.mb.addin.$1 : in use by another program.?\$" "$upd/update_log.txt"; }
kept_running() { [[ $agent_status -eq 124 && $1 -ge 3 ]]; }
updater_running() { pgrep -f 'SwiftPatcher_Mailbeacon.exe' >/dev/null; }
updater_gone() { ! updater_running; }
record_is() { grep -q "INSTALL_VERSION=$1" "$upd/install_version.ini"; }

wait_until() {  # SECONDS COMMAND...: true once COMMAND succeeds
  local tries=$(($1 * 10))
  shift
  while ((tries-- > 0)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

addin_at() {  # VERSION: every DLL of the add-in is of that release
  local name
  for name in MbCore MailbeaconExpress MbRes; do
    cmp -s <(dll_of "$name" "$1") "$addin/$name.dll" || return 1
  done
}

no_hidden_file() {  # FOLDER: nothing staged, set aside or half copied is left
  [[ -z "$(find "$1" -maxdepth 1 -name '.*' -type f -print -quit)" ]]
}

installed_done() { record_is 1.0.6 && ! updater_running; }
staged_files() { [[ -n "$(find "$addin" -name '.*.stage-*' -print -quit)" ]]; }

hold() {  # MODE FILE: a program holds C:\mb\addin\FILE
  rm -f "$install_dir/held.ready" "$install_dir/held.ready.stop"
  wine "$MB_WIN_BIN/mb_hold_file.exe" "$1" "C:\\mb\\addin\\$2" 'C:\mb\held.ready' 300 &
  holder_pid=$!
  wait_until 30 test -e "$install_dir/held.ready" || { script_error "the file was not held"; return 1; }
}

let_go() {
  touch "$install_dir/held.ready.stop"
  wait "$holder_pid" || true
}

scenario_loaded_dll() {
  echo "--- a DLL the mail program has loaded is replaced while it is loaded"
  expect_checks 8
  publish 1.0.6
  installed_105
  serve
  hold load MailbeaconExpress.dll
  run_agent 120 MAILBEACON_UPDATER_IN_USE_MS=20000
  check "the agent hands off (status $agent_status)" test "$agent_status" -eq 0
  check "it fetched the three files ($(fetched))" test "$(fetched)" -eq 3
  check "the updater installed the release" wait_until 60 installed_done
  check "every DLL is 1.0.6, the loaded one too" addin_at 1.0.6
  check "the backups are the 1.0.5 copies" cmp -s <(dll_of MbCore 1.0.5) "$addin/MbCore.dll_old"
  check "the loaded copy waits aside while loaded" \
    test -n "$(find "$addin" -name '.MailbeaconExpress.dll.aside-*' -print -quit)"
  let_go
  run_agent 5  # up to date: it runs until stopped; its start removes what is free now
  wineserver -k || true
  wineserver -w
  check "the old copy went once it was let go" no_hidden_file "$addin"
  check "nothing was logged as failed" test "$(log_count 'stopped')" -eq 0
}

scenario_held_file() {
  echo "--- a DLL held without FILE_SHARE_DELETE: the add-in stays whole at 1.0.5, then completes"
  expect_checks 9
  publish 1.0.6
  installed_105
  serve
  hold share-read MailbeaconExpress.dll
  run_agent 120 MAILBEACON_UPDATER_IN_USE_MS=4000
  check "the agent hands off (status $agent_status)" test "$agent_status" -eq 0
  check "the updater gave up on the held file" wait_until 60 log_has "not installed, its files are as they were"
  check "the add-in is whole at 1.0.5, not mixed" addin_at 1.0.5
  check "the log names the file in use" \
    log_has 'Update stopped at C:\mb\addin\MailbeaconExpress.dll : in use by another program'
  check "the agent started again waits for the file" \
    wait_until 30 agent_waits_for 'MailbeaconExpress\.dll'
  let_go
  check "once let go the install completes" wait_until 60 installed_done
  check "every DLL is 1.0.6" addin_at 1.0.6
  wineserver -w
  check "nothing was fetched twice ($(fetched) files asked for)" test "$(fetched)" -eq 3
  check "nothing staged or aside is left" no_hidden_file "$addin"
}

scenario_system_folder() {
  echo "--- a file for the system folder this user may not write: nothing changes, one log line"
  publish 1.0.6 system32
  installed_105
  if ! chattr +i "$system_dir" 2>/dev/null; then
    echo "desktop: skipped: this file system cannot make the system folder unwritable (chattr +i)"
    return
  fi
  expect_checks 5
  serve
  run_agent 6
  chattr -i "$system_dir"
  local runs
  runs=$(grep -c 'pause.aspx' "$work/access.log" || true)
  check "the agent keeps running without a box ($runs runs, status $agent_status)" \
    kept_running "$runs"
  check "one log line names the folder and the rights" \
    test "$(log_count 'Update not possible : C:\windows\system32 : needs administrator rights')" -eq 1
  check "nothing was fetched" test "$(fetched)" -eq 0
  check "the add-in is unchanged" addin_at 1.0.5
  check "nothing was handed over" test ! -e "$upd/mailbeacon_download.ini"
}

round_installed_once() {  # LOG_OFFSET ACCESS_OFFSET
  wait_until 60 installed_done || return 1
  local log fetched_now
  log=$(tail -c +"$(($1 + 1))" "$upd/update_log.txt")
  fetched_now=$(tail -c +"$(($2 + 1))" "$work/access.log" | grep -c 'program=' || true)
  addin_at 1.0.6 && [[ $fetched_now -eq 3 ]] &&
    [[ $(grep -c 'Installed : ' <<<"$log" || true) -eq 3 ]] &&
    ! grep -qE 'stopped|not installed|refused|Could not|put back' <<<"$log"
}

scenario_two_agents() {
  echo "--- two agents started together, twenty times: one install each time"
  expect_checks 1
  publish 1.0.6
  installed_105
  serve
  local round bad=0 log_at access_at
  for round in $(seq 20); do
    installed_105
    log_at=$(stat -c %s "$upd/update_log.txt" 2>/dev/null || echo 0)
    access_at=$(stat -c %s "$work/access.log")
    timeout 60 wine 'C:\mb\Mailbeacon.exe' &
    local first=$!
    timeout 60 wine 'C:\mb\Mailbeacon.exe' &
    local second=$!
    if ! round_installed_once "$log_at" "$access_at"; then
      echo "desktop: round $round did not install exactly once" >&2
      bad=$((bad + 1))
    fi
    stop_programs
    wait "$first" "$second" || true
  done
  check "twenty rounds, each installed exactly once ($bad did not)" test "$bad" -eq 0
}

# Killed while it waits for a held file, every new file staged beside its
# target: the kill is timed by the wait, not by the speed of a copy.
scenario_killed_updater() {
  echo "--- an updater killed half-way: nothing changed, no temporary after the next run"
  expect_checks 7
  publish 1.0.6 "" 20000000
  installed_105
  serve
  hold share-read MbBig.bin
  run_agent 120 MAILBEACON_UPDATER_IN_USE_MS=120000
  check "the agent hands off (status $agent_status)" test "$agent_status" -eq 0
  wait_until 60 log_has 'Waiting for C:\mb\addin\MbBig.bin' ||
    { script_error "the updater never waited for the held file"; return 1; }
  pkill -9 -f 'SwiftPatcher_Mailbeacon.exe' || true
  wait_until 10 updater_gone
  check "the kill left the staged files beside their targets" staged_files
  check "killed half-way: the add-in is unchanged" addin_at 1.0.5
  let_go
  local before
  before=$(fetched)
  run_agent 120
  check "the next agent hands off again (status $agent_status)" test "$agent_status" -eq 0
  check "and the update completes" wait_until 90 installed_done
  stop_programs
  check "no temporary is left in the add-in's folder" no_hidden_file "$addin"
  check "nothing was fetched again" test "$(fetched)" -eq "$before"
}

scenario_outage_after_failure() {
  echo "--- after a failed install the server answers 500: the add-in stays whole, then completes"
  expect_checks 5
  publish 1.0.6
  installed_105
  serve
  hold share-read MbRes.dll
  run_agent 120 MAILBEACON_UPDATER_IN_USE_MS=2000
  wait_until 60 log_has "not installed, its files are as they were" ||
    { script_error "the updater did not give up"; return 1; }
  wineserver -k || true  # the agent it started again, the holder
  wineserver -w
  serve --misbehave error-500
  run_agent 6
  check "the agent keeps trying while the server fails (status $agent_status)" test "$agent_status" -eq 124
  check "the add-in is whole at 1.0.5" addin_at 1.0.5
  serve
  run_agent 120
  check "once the server is back the agent hands off (status $agent_status)" test "$agent_status" -eq 0
  check "and the install completes" wait_until 60 installed_done
  wineserver -w
  check "nothing was fetched again ($(fetched) file requests)" test "$(fetched)" -eq 0
}

main() {
  scenario_loaded_dll
  scenario_held_file
  scenario_system_folder
  scenario_two_agents
  scenario_killed_updater
  scenario_outage_after_failure
  finish_checks
}
main
