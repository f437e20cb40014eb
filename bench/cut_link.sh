#!/usr/bin/env bash
# The cut link: the agent fetches a release of FILES files of FILE_MIB MiB
# (random bytes) from mailbeacon-server through a loopback relay
# (bench/count_proxy.py) and hands off to a stand-in updater that does
# nothing, in three cases:
#   whole link   the relay never cuts: the reference;
#   cut link     the relay drops every connection once the server has sent
#                CUT_MIB MiB on it (a proxy with a transfer limit, a VPN that
#                renews), for at most LIMIT seconds;
#   killed       the relay holds every answer once the server has sent
#                KILL_MIB MiB, the agent is killed (SIGKILL) there and
#                started again over a whole link: what the second agent
#                fetches.
# Reports bytes on the wire (both directions, every connection the relay
# saw), their ratio to the release's size and to what the agent still
# lacked, and the time to hand off.
# Usage: bench/cut_link.sh BUILD_DIR   (Mailbeacon and mailbeacon-server built)
# Settings: MB_BENCH_FILES (8) MB_BENCH_FILE_MIB (5) MB_BENCH_CUT_MIB (6)
#           MB_BENCH_LIMIT_S (90) MB_BENCH_KILL_MIB (25)
set -Eeuo pipefail
check_name=bench-cut-link
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # table on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: bench/cut_link.sh BUILD_DIR}" && pwd)
files=${MB_BENCH_FILES:-8}
file_mib=${MB_BENCH_FILE_MIB:-5}
cut_mib=${MB_BENCH_CUT_MIB:-6}
limit=${MB_BENCH_LIMIT_S:-90}
kill_mib=${MB_BENCH_KILL_MIB:-25}
mib=$((1024 * 1024))
release_bytes=$((files * file_mib * mib))
base=${MB_BENCH_TMP:-$([[ -d /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work=$(mktemp -d "$base/mb-cut-bench.XXXXXX")
relay_pid=
agent_pid=
cleanup() {
  [[ -z "$agent_pid" ]] || kill -9 "$agent_pid" 2>/dev/null || true
  [[ -z "$relay_pid" ]] || kill "$relay_pid" 2>/dev/null || true
  if [[ "${MB_BENCH_KEEP:-}" == 1 ]]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}

release=$work/release
inst=$work/inst
mkdir -p "$release/ORG/express" "$release/ORG/agent"
printf 'N\r\n' >"$release/pause.txt"
for i in $(seq "$files"); do
  head -c $((file_mib * mib)) /dev/urandom >"$release/ORG/express/part$i.bin"
  printf '[part%d.bin]\r\nORDER=%d\r\n' "$i" "$i" >>"$release/ORG/express/files.ini"
done
printf '[RELEASE]\r\nLAST_VERSION=1.1\r\n' >"$release/ORG/express/release.ini"
printf '[RELEASE]\r\nLAST_VERSION=2.0\r\n' >"$release/ORG/agent/release.ini"
start_release_server "$build/bin/mailbeacon-server" "$release"

# A fresh install one release behind, the agent's settings naming the relay.
fresh_install() {  # RELAY_PORT
  rm -rf "$inst"
  mkdir -p "$inst/update"
  cp "$build/bin/Mailbeacon" "$inst/"
  printf '#!/bin/sh\nexit 0\n' >"$inst/SwiftPatcher_Mailbeacon.exe"
  chmod +x "$inst/SwiftPatcher_Mailbeacon.exe"
  printf '[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=2.0\r\n' \
    >"$inst/update/install_version.ini"
  point_at "$1"
}

point_at() {  # RELAY_PORT
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]\n"URL"="http://127.0.0.1:%s"\n"V_DIR"="/mailbeaconhome"\n"Language"="ENGLISH"\n"InstallType"="express"\n' \
    "$1" >"$work/registry.reg"
}

start_relay() {  # CUT_BYTES (0: never) [HOLD_BYTES]: see bench/count_proxy.py
  rm -f "$work/relay.port" "$work/relay.held"
  : >"$work/relay.count"
  # The same port every time: an agent started again finds the same URLs.
  python3 "$here/count_proxy.py" "$port" "$work/relay.port" "$work/relay.count" \
    --port "${relay_port:-0}" --cut "$1" --hold "${2:-0}" --held-file "$work/relay.held" &
  relay_pid=$!
  for _ in $(seq 100); do [[ -s "$work/relay.port" ]] && break; sleep 0.05; done
  relay_port=$(cat "$work/relay.port")
}

stop_relay() {
  kill "$relay_pid"
  wait "$relay_pid" 2>/dev/null || true
  relay_pid=
}

wire_bytes() { awk '{ s += $1 + $2 } END { print s + 0 }' "$work/relay.count"; }

# The agent in the background; sets agent_pid.
start_agent() {
  (cd "$inst" && exec env MAILBEACON_REGISTRY="$work/registry.reg" MAILBEACON_MAX_RUNS=1000000 \
    ./Mailbeacon </dev/null >>"$work/agent.out" 2>&1) &
  agent_pid=$!
}

# Waits for the agent, killing it once LIMIT seconds have passed since
# started_ms; sets agent_status (137: killed).
wait_agent() {  # LIMIT
  while kill -0 "$agent_pid" 2>/dev/null && (($(now_ms) - started_ms < $1 * 1000)); do
    sleep 0.05
  done
  kill -9 "$agent_pid" 2>/dev/null || true
  agent_status=0
  # (bash would report a killed agent on stderr as if the script had erred)
  { wait "$agent_pid" || agent_status=$?; } 2>/dev/null
  agent_pid=
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Every release file is in the update folder, byte for byte.
release_in_update_folder() {
  local i
  for i in $(seq "$files"); do
    cmp -s "$release/ORG/express/part$i.bin" "$inst/update/part$i.bin" || return 1
  done
}

row() {  # CASE STATUS MILLISECONDS BYTES LACKED
  local done=no
  [[ $2 == 0 ]] && done=yes
  awk -v c="$1" -v d="$done" -v ms="$3" -v b="$4" -v r="$release_bytes" -v l="$5" \
    'BEGIN { printf "| %s | %s | %.1f | %d | %.2f | %d | %.2f |\n", c, d, ms / 1000, b, b / r, l, b / l }' \
    >>"$work/table"
}

run_case() {  # NAME CUT_BYTES LIMIT
  start_relay "$2"
  fresh_install "$relay_port"
  started_ms=$(now_ms)
  start_agent
  wait_agent "$3"
  row "$1" "$agent_status" $(($(now_ms) - started_ms)) "$(wire_bytes)" "$release_bytes"
  stop_relay
}

expect_checks 3
echo "== whole link"
run_case "whole link" 0 "$limit"
check "the agent hands off over a whole link" test "$agent_status" = 0
check "the whole release reached the update folder" release_in_update_folder

echo "== cut every $cut_mib MiB, at most $limit s"
run_case "cut every $cut_mib MiB" $((cut_mib * mib)) "$limit"
if [[ $agent_status == 0 ]]; then
  expect_checks 1
  check "the release is whole after the cuts" release_in_update_folder
fi

echo "== killed at $kill_mib MiB, started again"
start_relay 0 $((kill_mib * mib))
fresh_install "$relay_port"
started_ms=$(now_ms)
start_agent
while kill -0 "$agent_pid" 2>/dev/null && [[ ! -s "$work/relay.held" ]]; do sleep 0.02; done
wait_agent 0  # killed now
expect_checks 1
check "the first agent was held at $kill_mib MiB" test -s "$work/relay.held"
got=$(cat "$work/relay.held")
stop_relay
start_relay 0  # the relay of the second agent counts only its bytes
started_ms=$(now_ms)
start_agent
wait_agent "$limit"
row "killed at $kill_mib MiB, restarted" "$agent_status" $(($(now_ms) - started_ms)) "$(wire_bytes)" \
  $((release_bytes - got))
stop_relay
check "the restarted agent hands off" test "$agent_status" = 0
if [[ $agent_status == 0 ]]; then
  expect_checks 1
  check "the release is whole after the restart" release_in_update_folder
fi

echo
echo "$files files of $file_mib MiB ($release_bytes bytes) through a loopback relay; bytes on the"
echo "wire in both directions; x release = wire bytes / release bytes; lacked: the release"
echo "less what reached the agent before it was killed; time until the hand-off (or the limit"
echo "of $limit s). Killed: the second agent's figures only."
echo
echo "| case | handed off | s | bytes on the wire | x release | lacked | x lacked |"
echo "|---|---|---|---|---|---|---|"
cat "$work/table"
finish_checks
