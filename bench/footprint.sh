#!/usr/bin/env bash
# The agent's footprint against mailbeacon-server on loopback:
# - peak RSS of a full run (a release of a few files fetched, checked and
#   handed to the real updater), by GNU time;
# - RSS of the agent waiting for its first run (-d 30), from /proc;
# - requests and bytes of one up-to-date run, counted by the server's request
#   log and by a counting relay (count_proxy.py) between agent and server.
# Usage: bench/footprint.sh BUILD_DIR   (a main-tree build with -DMB_BENCH=ON)
# Needs: python3, GNU time.
set -Eeuo pipefail
check_name=bench-footprint
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # tables on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"
expect_checks 4

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: bench/footprint.sh BUILD_DIR}
work=$(mktemp -d "${TMPDIR:-/tmp}/mb-footprint.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

inst=$work/inst
release=$work/release
mkdir -p "$inst/update" "$release/ORG/express" "$release/ORG/agent"
cp "$build/bin/Mailbeacon" "$build/bin/SwiftPatcher_Mailbeacon.exe" "$inst/"

# Installed: 1.0 of two files. Published: 1.1 of four express files (two
# renamed on install, 256 KiB to 4 MiB) and one agent file.
printf 'old' >"$inst/plugin.dll"
printf 'old' >"$inst/helper.dll"
printf '[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.0\r\n[plugin.dll]\r\nVERSION=1.0\r\n[helper.dll]\r\nVERSION=1.0\r\n' \
  >"$inst/update/install_version.ini"
head -c $((4 << 20)) /dev/urandom >"$release/ORG/express/plugin_1.1.dll"
head -c $((1 << 20)) /dev/urandom >"$release/ORG/express/helper_1.1.dll"
head -c $((256 << 10)) /dev/urandom >"$release/ORG/express/readme.txt"
head -c $((512 << 10)) /dev/urandom >"$release/ORG/express/data.bin"
printf '[plugin_1.1.dll]\nORDER=1\nORG_NAME=plugin.dll\n[helper_1.1.dll]\nORDER=2\nORG_NAME=helper.dll\n[readme.txt]\nORDER=3\nTARGET_DIR=.\\docs\n[data.bin]\nORDER=4\n' \
  >"$release/ORG/express/files.ini"
printf '[RELEASE]\nLAST_VERSION=1.1\n' >"$release/ORG/express/release.ini"
printf 'cfg 1.1' >"$release/ORG/agent/agent.cfg"
printf '[agent.cfg]\nORDER=1\n' >"$release/ORG/agent/files.ini"
printf '[RELEASE]\nLAST_VERSION=1.1\n' >"$release/ORG/agent/release.ini"

"$build/bin/mailbeacon-server" --root "$release" --port 0 --vdir /mbh --port-file "$work/port" \
  --access-log "$work/server.log" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.05; done
port=$(cat "$work/port")

registry() {  # the server URL the agent is given
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]\n"URL"="%s"\n"V_DIR"="/mbh"\n"Language"="ENGLISH"\n"InstallType"="express"\n' \
    "$1" >"$work/registry.reg"
}
agent_env=(env MAILBEACON_REGISTRY="$work/registry.reg" LC_ALL=ko_KR.UTF-8)
rss_of() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
requests() { grep -c ' GET ' "$work/server.log" || true; }

echo "== full run: fetch 1.1, hand off to the updater"
registry "http://127.0.0.1:$port"
status=0
(cd "$inst" && /usr/bin/time -v -o "$work/full.time" "${agent_env[@]}" MAILBEACON_MAX_RUNS=3 \
  ./Mailbeacon </dev/null >"$work/full.out" 2>&1) || status=$?
if ((status != 0)); then cat "$work/full.out" >&2; fi
check "the full run hands off (status $status)" test "$status" -eq 0
full_requests=$(requests)
for _ in $(seq 300); do
  if [[ ! -e $inst/update/mailbeacon_download.ini ]]; then break; fi
  sleep 0.1
done
check "the updater finished" test ! -e "$inst/update/mailbeacon_download.ini"
check "1.1 is installed" cmp -s "$inst/plugin.dll" "$release/ORG/express/plugin_1.1.dll"

echo "== up-to-date run through the counting relay"
python3 "$here/count_proxy.py" "$port" "$work/proxy.port" "$work/proxy.count" &
pids+=($!)
for _ in $(seq 100); do
  if [[ -s $work/proxy.port ]]; then break; fi
  sleep 0.05
done
registry "http://127.0.0.1:$(cat "$work/proxy.port")"
before=$(requests)
status=0
(cd "$inst" && /usr/bin/time -v -o "$work/idle.time" "${agent_env[@]}" MAILBEACON_MAX_RUNS=1 \
  ./Mailbeacon </dev/null >"$work/idle.out" 2>&1) || status=$?
if ((status != 5)); then cat "$work/idle.out" >&2; fi
check "the up-to-date run ends after its one run (status $status)" test "$status" -eq 5
sleep 0.3  # the relay writes its counts once both directions closed
uptodate_requests=$(($(requests) - before))
targets=$(grep ' GET ' "$work/server.log" | tail -n "$uptodate_requests" | awk '{print $(NF-2)}')

echo "== waiting agent (-d 30)"
(cd "$inst" && exec "${agent_env[@]}" MAILBEACON_MAX_RUNS=1 ./Mailbeacon -d 30 </dev/null >/dev/null 2>&1) &
waiting=$!
pids+=("$waiting")
sleep 2
status_file=/proc/$waiting/status
vm_rss=$(awk '/^VmRSS/ {print $2}' "$status_file")
vm_hwm=$(awk '/^VmHWM/ {print $2}' "$status_file")
rss_anon=$(awk '/^RssAnon/ {print $2}' "$status_file")
rss_file=$(awk '/^RssFile/ {print $2}' "$status_file")
kill "$waiting"

python3 - "$work/proxy.count" "$(rss_of "$work/full.time")" "$(rss_of "$work/idle.time")" \
  "$vm_rss" "$vm_hwm" "$rss_anon" "$rss_file" "$full_requests" "$uptodate_requests" "$targets" <<'PY'
import sys
count_file, full_rss, idle_rss, vm_rss, vm_hwm, anon, mapped, full_req, req, targets = sys.argv[1:]
conns = [tuple(map(int, line.split())) for line in open(count_file) if line.strip()]
up = sum(c[0] for c in conns)
down = sum(c[1] for c in conns)
print()
print("| measure | value |")
print("|---|---|")
print(f"| peak RSS, full run (5 files, 5.8 MiB, {full_req} requests, hand-off) | {full_rss} KiB |")
print(f"| peak RSS, up-to-date run | {idle_rss} KiB |")
print(f"| waiting agent (-d 30), VmRSS / VmHWM | {vm_rss} KiB / {vm_hwm} KiB |")
print(f"| waiting agent: RssAnon (its own) / RssFile (program and libraries) | {anon} KiB / {mapped} KiB |")
print(f"| up-to-date run: requests (server log) | {req} |")
print(f"| up-to-date run: TCP connections (relay) | {len(conns)} |")
print(f"| up-to-date run: bytes sent by the agent | {up} |")
print(f"| up-to-date run: bytes received by the agent | {down} |")
print()
print("Requests of the up-to-date run:")
for t in targets.split():
    print(f"    {t}")
PY
finish_checks
