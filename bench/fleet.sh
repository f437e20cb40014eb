#!/usr/bin/env bash
# A fleet of real POSIX agents against mailbeacon-server on loopback: what
# the vendor's origin carries per 1,000 agents with and without POLL, and how
# the first downloads of a new release spread with and without ROLLOUT.
#
# Every agent is the real program, started from an install folder of its own
# (a hard link to the build's Mailbeacon, its own install record at release
# 1.0) with its own registry file naming the loopback server, and bounded
# twice: MAILBEACON_MAX_RUNS and a time limit (timeout). Its updater is a
# script that starts nothing, so an agent that takes a release leaves the
# file it fetched in its update folder and ends; that file's time is its
# first download.
#
#   1. rates: one fleet, pause.txt "N" (the design's 500 ms), then POLL=S for
#      each S of MB_FLEET_POLLS; requests counted in the server's access
#      log over a window once every agent follows the setting;
#   2. release 1.1 at POLL=S (the last of MB_FLEET_POLLS), agents' first runs
#      spread over S (-d): time from publication to each agent's download;
#   3. the same release staged, ROLLOUT=MB_FLEET_SHARE, then for everyone:
#      who took it at the share (exactly the agents whose number is below
#      it), and when the rest took it;
#   4. release 1.1 without POLL: every agent at once;
#   5. reports (REPORTS=Y) at POLL=S: what a day of reports costs the origin,
#      from what a fleet sends in its first runs of the day and (nothing) in
#      the runs after;
#   6. a failing release at POLL=S: 1.2 published staged at 0, then
#      `rollout --share MB_FLEET_HALT_SHARE --halt-above 20 --halt-min
#      MB_FLEET_HALT_MIN`; each agent that takes it hands it to an updater
#      stand-in that fails (the outcome the real one leaves) and starts the
#      agent again at once, as a user's next log-on would, so it reports the
#      failure: the time from the share's setting to the automatic halt, and
#      how many agents took the release before it.
#
# Usage: bench/fleet.sh BUILD_DIR   (needs Mailbeacon and mailbeacon-server)
#   MB_FLEET_AGENTS   agents per fleet (100)
#   MB_FLEET_POLLS    POLL values measured (5 20)
#   MB_FLEET_WINDOW   shortest measuring window in seconds (20; at least two
#                     polls' worth)
#   MB_FLEET_SHARE    ROLLOUT of the staged release (25)
#   MB_FLEET_HALT_SHARE, MB_FLEET_HALT_MIN  the failing release's share (50)
#                     and the reports its halting rule waits for (20)
# Needs: python3, GNU coreutils (timeout).
set -Eeuo pipefail
check_name=bench-fleet
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # tables on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"

build=${1:?usage: bench/fleet.sh BUILD_DIR}
agents=${MB_FLEET_AGENTS:-100}
read -r -a polls <<<"${MB_FLEET_POLLS:-5 20}"
min_window=${MB_FLEET_WINDOW:-20}
share=${MB_FLEET_SHARE:-25}
halt_share=${MB_FLEET_HALT_SHARE:-50}
halt_min=${MB_FLEET_HALT_MIN:-20}
last_poll=${polls[-1]}
first_poll=${polls[0]}
expect_checks $((20 + ${#polls[@]}))

base=${MB_BENCH_TMP:-$([[ -d /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work=$(mktemp -d "$base/mb-fleet-bench.XXXXXX")
fleet_pids=()
cleanup() {
  stop_fleet
  rm -rf "$work"
}
stop_fleet() {
  local pid file
  for pid in "${fleet_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${fleet_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  fleet_pids=()
  # Agents an updater stand-in started again (part 6): not our children.
  for file in "$work"/fleet-*/agent*/restarted.pid; do
    if [[ -e $file ]]; then kill "$(cat "$file")" 2>/dev/null || true; fi
    rm -f "$file"
  done
}
now() { date +%s.%N; }
sleep_until() { python3 -c 'import sys,time; time.sleep(max(0.0, float(sys.argv[1]) - time.time()))' "$1"; }

# --- The release: 1.0 and 1.1 of the plug-in (one 64 KiB file, installed
# as plugin.dll), the agent at 1.0. ORG/express is a symbolic link swapped
# in one rename, then the server is told (SIGHUP).
release=$work/release
mkdir -p "$release/ORG/agent"
printf 'agent settings\r\n' >"$release/ORG/agent/agent.cfg"
printf '[RELEASE]\nLAST_VERSION=1.0\n' >"$release/ORG/agent/release.ini"
component() {  # NAME VERSION [ROLLOUT]
  local dir=$release/$1
  mkdir -p "$dir"
  head -c 65536 /dev/urandom >"$dir/plugin_$2.dll"
  printf '[plugin_%s.dll]\nORG_NAME=plugin.dll\n' "$2" >"$dir/files.ini"
  printf '[RELEASE]\nLAST_VERSION=%s\n%s' "$2" "${3:+ROLLOUT=$3$'\n'}" >"$dir/release.ini"
}
component express-1.0 1.0
component express-1.1 1.1
component express-1.1-staged 1.1 "$share"
component express-1.2 1.2 0  # fails where it is installed; published staged at 0
publish() {  # COMPONENT_FOLDER
  ln -sfn "../$1" "$release/ORG/express.next"
  mv -T "$release/ORG/express.next" "$release/ORG/express"
  kill -HUP "$server_pid"
}
set_pause() { printf '%s' "$1" >"$release/pause.txt" && kill -HUP "$server_pid"; }
mkdir -p "$release/ORG"
ln -s ../express-1.0 "$release/ORG/express"
printf 'N\r\n' >"$release/pause.txt"

start_release_server "$build/bin/mailbeacon-server" "$release" --vdir /mbh --codepage 1252 \
  --access-log "$work/access.log"
requests() { grep -c ' GET ' "$work/access.log" || true; }
server_cpu_ticks() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
ticks_per_second=$(getconf CLK_TCK)
check "mailbeacon-server answers on loopback port $port" test -n "$port"

# --- The fleet.
printf '#!/bin/sh\nexit 0\n' >"$work/SwiftPatcher_Mailbeacon.exe"
chmod +x "$work/SwiftPatcher_Mailbeacon.exe"
# Part 6's updater: the install fails, and the agent is started again once.
mkdir -p "$work/failing"
cat >"$work/failing/SwiftPatcher_Mailbeacon.exe" <<'EOF'
#!/bin/sh
printf '[EXPRESS_DOWNLOAD]\r\nFROM=1.0\r\nRELEASE=1.2\r\nRESULT=failed\r\nREASON=io\r\nFILE=plugin.dll\r\nTIME=2026-12-08 12:00:00\r\n' \
  >update/install_outcome.ini
[ -e restarted ] && exit 0
: >restarted
echo $$ >restarted.pid
sleep 0.3
exec timeout 120 ./Mailbeacon </dev/null >/dev/null 2>&1
EOF
chmod +x "$work/failing/SwiftPatcher_Mailbeacon.exe"
updater=$work/SwiftPatcher_Mailbeacon.exe
install_agent() {  # DIR
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir/update"
  ln "$build/bin/Mailbeacon" "$dir/Mailbeacon" 2>/dev/null || cp "$build/bin/Mailbeacon" "$dir/"
  ln "$updater" "$dir/" 2>/dev/null || cp -p "$updater" "$dir/"
  printf 'installed' >"$dir/plugin.dll"
  printf 'agent settings\r\n' >"$dir/agent.cfg"
  printf '[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[plugin.dll]\r\nVERSION=1.0\r\n' \
    >"$dir/update/install_version.ini"
  # Loopback only: the agent never asks the vendor's default server.
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]\n"URL"="http://127.0.0.1:%s"\n"V_DIR"="/mbh"\n"Language"="ENGLISH"\n"InstallType"="express"\n' \
    "$port" >"$dir/registry.reg"
}
start_fleet() {  # NAME SPREAD_SECONDS LIFETIME_SECONDS
  local name=$1 spread=$2 life=$3 i dir
  fleet_dirs=()
  for ((i = 0; i < agents; i++)); do
    dir=$work/fleet-$name/agent$i
    install_agent "$dir"
    fleet_dirs+=("$dir")
    (cd "$dir" && exec env MAILBEACON_REGISTRY="$dir/registry.reg" LC_ALL=C.UTF-8 \
      MAILBEACON_MAX_RUNS=100000 timeout "$life" ./Mailbeacon -d $((spread > 0 ? i % spread : 0)) \
      </dev/null >/dev/null 2>&1) &
    fleet_pids+=($!)
  done
}
running() {
  local n=0 pid
  for pid in "${fleet_pids[@]}"; do if kill -0 "$pid" 2>/dev/null; then n=$((n + 1)); fi; done
  echo "$n"
}

# One rate: requests and server CPU over a window, once the fleet follows
# the setting. Appends a row to $work/rates.
measure_rate() {  # LABEL POLL_TEXT EXPECTED_PER_1000 WARM_UP WINDOW
  sleep "$4"
  local c0 t0 u0 c1 t1 u1
  c0=$(requests) u0=$(server_cpu_ticks) t0=$(now)
  sleep "$5"
  c1=$(requests) u1=$(server_cpu_ticks) t1=$(now)
  python3 - "$1" "$2" "$3" "$agents" "$c0" "$c1" "$t0" "$t1" "$u0" "$u1" "$ticks_per_second" \
    >>"$work/rates" <<'PY'
import sys
label, poll, expected, n, c0, c1, t0, t1, u0, u1, hz = sys.argv[1:]
n, req, secs = int(n), int(c1) - int(c0), float(t1) - float(t0)
rate = req / secs
cpu = (int(u1) - int(u0)) / int(hz) / secs * 100
print(f"| {label} | {poll} | {n} | {secs:.1f} | {req} | {rate:.1f} | {rate / n * 1000:,.0f} | {expected} | {cpu:.1f} % |")
PY
  rate_requests=$((c1 - c0))
}

# --- 1. Rates.
echo "== rates: $agents agents, pause.txt N, then POLL ${polls[*]}" >&2
: >"$work/rates"
longest=$((20 + 3 * min_window))
for poll in "${polls[@]}"; do longest=$((longest + 2 * poll + min_window + 2 * poll)); done
start_fleet rates 0 "$longest"
sleep 1
check "all $agents agents of the rate fleet are running" test "$(running)" -eq "$agents"
measure_rate "the design (500 ms)" "-" "6,000" 2 "$min_window"
check "the design's cadence reached the server" test "$rate_requests" -gt 0
for poll in "${polls[@]}"; do
  set_pause $'N\r\nPOLL='"$poll"$'\r\n'
  window=$((2 * poll > min_window ? 2 * poll : min_window))
  # Every agent has picked the setting up by its next run and waited once.
  measure_rate "POLL=$poll" "$poll" "$(python3 -c "print(f'{3000 / $poll:,.0f}')")" \
    $((poll + poll / 5 + 2)) "$window"
  # Three requests a run, one run per POLL (at most 1.5 times that counts as following it).
  check "POLL=$poll: the fleet follows it ($rate_requests requests in ${window} s)" \
    test "$rate_requests" -gt 0 -a $((2 * rate_requests * poll)) -le $((9 * agents * window))
done
check "every agent of the rate fleet ran to the end" test "$(running)" -eq "$agents"
stop_fleet

# --- Releases. Each fleet starts at 1.0; its agents' first downloads of 1.1
# are the modification times of the file in their update folders.
: >"$work/releases"
first_downloads() {  # LABEL POLL_TEXT ROLLOUT_TEXT PUBLISHED_AT AGENT_DIRS...
  python3 - "$@" >>"$work/releases" <<'PY'
import os, sys
label, poll, rollout, t0, dirs = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), sys.argv[5:]
times = sorted(os.stat(os.path.join(d, "update", "plugin_1.1.dll")).st_mtime - t0
               for d in dirs if os.path.exists(os.path.join(d, "update", "plugin_1.1.dll")))
def pct(p):
    return times[min(len(times) - 1, int(p / 100 * len(times)))] if times else float("nan")
busiest = max((sum(1 for t in times if s <= t < s + 1) for s in range(int(times[-1]) + 1)), default=0) if times else 0
print(f"| {label} | {poll} | {rollout} | {len(times)} of {len(dirs)} | "
      f"{pct(10):.1f} / {pct(50):.1f} / {pct(90):.1f} / {times[-1] if times else float('nan'):.1f} | {busiest} |")
PY
}
took() {  # AGENT_DIRS... -> how many fetched 1.1
  local n=0 d
  for d in "$@"; do if [[ -e $d/update/plugin_1.1.dll ]]; then n=$((n + 1)); fi; done
  echo "$n"
}
slot_of() { sed -n 's/^"RolloutSlot"="\([0-9]*\)".*/\1/p' "$1/registry.reg"; }
wait_release() {  # SECONDS AGENT_DIRS... : until each has fetched it or the time is up
  local until
  until=$(python3 -c "import time; print(time.time() + $1)")
  shift
  while [[ $(took "$@") -lt $# ]] && python3 -c "import sys,time; sys.exit(time.time() > $until)"; do
    sleep 0.5
  done
}
reach=$((last_poll + last_poll / 5 + 5))  # every agent runs once within 1.1 POLL

echo "== release at POLL=$last_poll" >&2
publish express-1.0
set_pause $'N\r\nPOLL='"$last_poll"$'\r\n'
start_fleet spread "$last_poll" $((3 * reach + last_poll))
sleep_until "$(python3 -c "import time; print(time.time() + $last_poll + 2)")"
published=$(now)
publish express-1.1
wait_release "$reach" "${fleet_dirs[@]}"
first_downloads "1.1 for everyone" "$last_poll" "-" "$published" "${fleet_dirs[@]}"
check "POLL=$last_poll: every agent took 1.1" test "$(took "${fleet_dirs[@]}")" -eq "$agents"
stop_fleet

echo "== staged release (ROLLOUT=$share), then for everyone, at POLL=$last_poll" >&2
publish express-1.0
start_fleet staged "$last_poll" $((4 * reach + last_poll))
sleep $((last_poll + 2))
published=$(now)
publish express-1.1-staged
sleep "$reach"
staged_took=$(took "${fleet_dirs[@]}")
first_downloads "1.1 staged" "$last_poll" "$share" "$published" "${fleet_dirs[@]}"
inside=0 outside=0 misplaced=0 unnumbered=0
for d in "${fleet_dirs[@]}"; do
  slot=$(slot_of "$d")
  if [[ -z $slot ]]; then unnumbered=$((unnumbered + 1)); continue; fi
  if ((slot < share)); then inside=$((inside + 1)); else outside=$((outside + 1)); fi
  if { [[ -e $d/update/plugin_1.1.dll ]] && ((slot >= share)); } ||
    { [[ ! -e $d/update/plugin_1.1.dll ]] && ((slot < share)); }; then
    misplaced=$((misplaced + 1))
  fi
done
check "every agent drew and kept its number ($unnumbered without)" test "$unnumbered" -eq 0
check "exactly the agents numbered below $share took the staged release ($misplaced otherwise)" \
  test "$misplaced" -eq 0
check "the staged release reached some agents and held back others ($staged_took of $agents)" \
  test "$staged_took" -gt 0 -a "$staged_took" -lt "$agents"
rest_dirs=()
for d in "${fleet_dirs[@]}"; do [[ -e $d/update/plugin_1.1.dll ]] || rest_dirs+=("$d"); done
slots_before=$(for d in "${fleet_dirs[@]}"; do slot_of "$d"; done)
published=$(now)
publish express-1.1
wait_release "$reach" "${rest_dirs[@]}"
first_downloads "1.1, the rest (ROLLOUT raised to 100)" "$last_poll" "100" "$published" "${rest_dirs[@]}"
check "once for everyone, the held-back agents took it too" \
  test "$(took "${fleet_dirs[@]}")" -eq "$agents"
check "no agent's number changed: drawn once and kept" \
  test "$(for d in "${fleet_dirs[@]}"; do slot_of "$d"; done)" = "$slots_before"
stop_fleet

echo "== release at the design's 500 ms" >&2
publish express-1.0
set_pause $'N\r\n'
start_fleet design 0 60
sleep 3
published=$(now)
publish express-1.1
wait_release 30 "${fleet_dirs[@]}"
first_downloads "1.1 for everyone" "-" "-" "$published" "${fleet_dirs[@]}"
check "without POLL every agent took 1.1" test "$(took "${fleet_dirs[@]}")" -eq "$agents"
check "no agent fetched the release before it was published" \
  python3 -c "
import os, sys
t0 = float(sys.argv[1])
sys.exit(any(os.stat(os.path.join(d, 'update', 'plugin_1.1.dll')).st_mtime < t0 - 0.01 for d in sys.argv[2:]))
" "$published" "${fleet_dirs[@]}"
stop_fleet

reports_sent() { grep -c ' GET /mbh/download/report.aspx' "$work/access.log" || true; }

echo "== reports: $agents agents at POLL=$first_poll, REPORTS=Y" >&2
publish express-1.0
set_pause $'N\r\nPOLL='"$first_poll"$'\r\nREPORTS=Y\r\n'
r0=$(reports_sent)
report_window=$((3 * first_poll + 10))
start_fleet reports "$first_poll" $((2 * report_window + 10))
sleep "$report_window"
r1=$(reports_sent)
sleep "$report_window"
r2=$(reports_sent)
check "each agent sent its day's reports in its first runs ($((r1 - r0)) from $agents agents)" \
  test $((r1 - r0)) -ge "$agents" -a $((r1 - r0)) -le $((2 * agents))
check "and nothing in the $report_window s of runs after ($((r2 - r1)))" test $((r2 - r1)) -eq 0
stop_fleet
python3 - "$agents" "$((r1 - r0))" "$((r2 - r1))" "$report_window" "$first_poll" >"$work/reports" <<'PY'
import sys
n, first, after, window, poll = (int(x) for x in sys.argv[1:])
per_day = first / n
print(f"| {n} | {poll} | {first} in the first {window} s | {after} in the next {window} s | "
      f"{per_day:.2f} | {per_day * 1000 / 86400:.3f} | {(per_day + 2) * 1000 / 86400:.3f} | "
      f"{3000 / poll:,.0f} |")
PY

echo "== a failing release at POLL=$first_poll: halted by itself" >&2
updater=$work/failing/SwiftPatcher_Mailbeacon.exe
start_fleet halt "$first_poll" 120
sleep $((first_poll + 2))
publish express-1.2  # staged at 0 by its own ROLLOUT: nobody takes it yet
sleep 1
# The stand-in marks each agent it was handed 1.2 by (the agent's copy
# moves to its scratch area when it starts again).
took_12() {
  local n=0 d
  for d in "$@"; do if [[ -e $d/restarted ]]; then n=$((n + 1)); fi; done
  echo "$n"
}
check "nobody took 1.2 at 0" test "$(took_12 "${fleet_dirs[@]}")" -eq 0
set_at=$(now)
"$build/bin/mailbeacon-server" rollout --root "$release" --component ORG/express \
  --share "$halt_share" --halt-above 20 --halt-min "$halt_min" >/dev/null
halted_at=
until=$(python3 -c "import time; print(time.time() + 60)")
while python3 -c "import sys,time; sys.exit(time.time() > $until)"; do
  if curl -sf "http://127.0.0.1:$port/mbh/download/pause.aspx" | grep -F "ROLLOUT:ORG/express=0 1.2" >/dev/null; then
    halted_at=$(now)
    break
  fi
  sleep 0.05
done
check "the failing release halted by itself within a minute" test -n "$halted_at"
took_at_halt=$(took_12 "${fleet_dirs[@]}")
sleep $((first_poll + first_poll / 5 + 3))
took_after=$(took_12 "${fleet_dirs[@]}")
inside=0
for d in "${fleet_dirs[@]}"; do
  slot=$(slot_of "$d")
  if [[ -n $slot ]] && ((slot < halt_share)); then inside=$((inside + 1)); fi
done
check "the halt came before the whole share took it ($took_at_halt of $inside)" \
  test "$took_at_halt" -lt "$inside"
check "after the halt only agents already under way took it ($took_after, $took_at_halt at the halt)" \
  test $((took_after - took_at_halt)) -le $((agents / 10))
check "the server logged the halt" grep -qF "ORG/express: release 1.2 halted by itself" "$work/server.log"
stop_fleet
python3 - "$agents" "$first_poll" "$halt_share" "$halt_min" "$inside" "$set_at" "${halted_at:-nan}" \
  "$took_at_halt" "$took_after" >"$work/halt" <<'PY'
import sys
n, poll, share, minimum, inside = (int(x) for x in sys.argv[1:6])
set_at, halted_at = float(sys.argv[6]), float(sys.argv[7])
took, after = int(sys.argv[8]), int(sys.argv[9])
print(f"| {n} | {poll} | {share} ({inside} agents) | above 20 % after {minimum} | "
      f"{halted_at - set_at:.1f} | {took} | {after} |")
PY

check "the server kept running" kill -0 "$server_pid"

echo
echo "Origin requests ($agents agents per fleet; expected: three requests per run):"
echo
echo "| cadence | POLL s | agents | window s | requests | requests/s | per 1,000 agents | expected per 1,000 | server CPU |"
echo "|---|---|---|---|---|---|---|---|---|"
cat "$work/rates"
echo
echo "First downloads of a release after its publication (seconds: p10 / p50 / p90 / last):"
echo
echo "| release | POLL s | ROLLOUT | agents that took it | first downloads, s after publication | busiest second (downloads) |"
echo "|---|---|---|---|---|---|"
cat "$work/releases"
echo
echo "Reports (REPORTS=Y): what a day of reports costs the origin (an agent sends its day's"
echo "reports in its first run of the day: active for the product and the agent; a release"
echo "day adds one installed report a component it updates):"
echo
echo "| agents | POLL s | reports | then | per agent and day | requests/s per 1,000 agents, steady day | same, a release day | polling requests/s per 1,000 agents |"
echo "|---|---|---|---|---|---|---|---|"
cat "$work/reports"
echo
echo "A failing release halted by itself (each agent that takes it fails and reports at its next start):"
echo
echo "| agents | POLL s | share | halting rule | s from the share's setting to the halt | agents that took it by then | after |"
echo "|---|---|---|---|---|---|---|"
cat "$work/halt"
finish_checks
