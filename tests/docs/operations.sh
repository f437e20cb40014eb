#!/usr/bin/env bash
# docs/OPERATIONS.md played through, one command a step, as its reader runs
# them: a release's life with four real POSIX agents (the build's Mailbeacon,
# each in an install folder of its own with the build's updater and its own
# registry file naming the loopback server; MAILBEACON_MAX_RUNS=1, so every
# step runs each agent once) against one real mailbeacon-server with
# --metrics-listen, shared by every step:
#   publish 1.0.5, then 1.0.6 staged at 0; stage at 5 % with a halting rule;
#   watch (reports and downloads in the metrics); widen to 50 %; halt
#   (--share 0); halt by itself (two agents whose install fails); roll back
#   (1.0.5 published again); rotate a key (signed releases, agents trusting
#   the old and the new key, then the new one only); roll back a signed
#   release (1.0.8 staged to half the fleet, 1.0.7 published again: refused
#   until it is signed anew, then taken back by those that took 1.0.8,
#   while the others never fail a run).
# What the agents installed is read from their install records and files;
# a failed run shows as a "Mailbeacon: cannot fetch" or "refused" line, or
# an exit status other than the hand-off (0) and the run limit (5).
# The agents' numbers (RolloutSlot) are set, as a vendor sets a pilot group:
# a 2, b 30, c 70, d 95.
# Usage: tests/docs/operations.sh BIN_DIR  (Mailbeacon, SwiftPatcher_Mailbeacon,
# mailbeacon-server). Needs curl, openssl, GNU coreutils (timeout).
set -Eeuo pipefail
bin=${1:?usage: operations.sh BIN_DIR}
bin=$(cd "$bin" && pwd)
check_name=operations
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"
expect_checks 43

work=$(mktemp -d /tmp/mb-operations.XXXXXX)
cleanup() {
  if keep_evidence; then echo "operations: files left in $work"; else rm -rf "$work"; fi
}
server=$bin/mailbeacon-server
root=$work/release
releases=$work/releases
agents=(a b c d)
declare -A slot=([a]=2 [b]=30 [c]=70 [d]=95)

# --- The releases: the plug-in's file under a name of each release's own
# (installed as plugin.dll), so that a release put back is fetched again.
express_release() {  # VERSION [ROLLOUT]
  local dir=$releases/express-$1 name=plugin_${1//./}.dll
  mkdir -p "$dir"
  printf 'plugin %s\r\n' "$1" >"$dir/$name"
  printf '[%s]\r\nORG_NAME=plugin.dll\r\n' "$name" >"$dir/files.ini"
  printf '[RELEASE]\r\nLAST_VERSION=%s\r\n%s' "$1" "${2:+ROLLOUT=$2$'\r\n'}" >"$dir/release.ini"
}
express_release 1.0.5
express_release 1.0.6 0  # published staged at 0: nobody takes it before it is staged
express_release 1.0.7
express_release 1.0.8 0  # the bad one, staged
mkdir -p "$root/ORG/agent"
printf 'N\r\nREPORTS=Y\r\n' >"$root/pause.txt"
printf 'Release notes\r\n' >"$root/notice.txt"
printf 'agent data\r\n' >"$root/ORG/agent/agent_data.txt"
printf '[RELEASE]\r\nLAST_VERSION=2.0.1\r\n' >"$root/ORG/agent/release.ini"

# Started here rather than by start_release_server: a server that does not
# start is a verdict of this check, not a script error.
"$server" --root "$root" --port-file "$work/port" --log "$work/server.log" --vdir /mbh \
  --codepage 1252 --metrics-listen 127.0.0.1:0 2>"$work/server.err" &
server_pid=$!  # stopped by script_lib at the end
metrics_url=
for _ in $(seq 300); do
  metrics_url=$(sed -n 's|^mailbeacon-server: metrics on \(http://.*/metrics\)$|\1|p' "$work/server.err")
  if [[ -n $metrics_url ]] || ! kill -0 "$server_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
check "the server serves with its metrics (${metrics_url:-none})" test -n "$metrics_url" -a -s "$work/port"
[[ -n $metrics_url ]] || finish_checks
port=$(cat "$work/port")
base=http://127.0.0.1:$port/mbh/download

# --- One command a step, as docs/OPERATIONS.md writes them.
publish() {  # RELEASE_DIR
  "$server" publish --root "$root" --component ORG/express --release "$1" --codepage 1252 \
    >>"$work/commands.log" 2>&1 || return 1
  kill -HUP "$server_pid"
  served "$(sed -n 's/^LAST_VERSION=\([^\r]*\).*/\1/p' "$1/release.ini")"
}
rollout() {  # OPTIONS...
  "$server" rollout --root "$root" --component ORG/express "$@" >>"$work/commands.log" 2>&1
}
# Each signing has a second of its own, as releases signed by hand do: a
# different release signed in the same second as one accepted is refused.
last_signed=0
sign() {  # ROOT KEY
  while (($(date +%s) <= last_signed)); do sleep 0.1; done
  "$server" sign --root "$1" --key "$2" --codepage 1252 >>"$work/commands.log" 2>&1 || return 1
  last_signed=$(date +%s)  # once it ended: its signing time is no later
  kill -HUP "$server_pid"
}
# The server serves the express release VERSION (at once after SIGHUP; a
# few tries for the snapshot to be installed).
served() {  # VERSION
  local _
  for _ in $(seq 50); do
    curl -sf "$base/express_exe.aspx?version=new&Folder=ORG" | grep "^LAST_VERSION=$1"$'\r' >/dev/null && return 0
    sleep 0.1
  done
  return 1
}
# The pause answer holds TEXT (a rollout change is read within a second).
pause_has() {  # TEXT
  local _
  for _ in $(seq 30); do
    curl -sf "$base/pause.aspx" | grep -F -- "$1" >/dev/null && return 0
    sleep 0.1
  done
  return 1
}
metric() {  # SERIES -> its value, or nothing
  curl -sf "$metrics_url" | awk -v s="$1" 'index($0, s " ") == 1 { print $2 }'
}
metric_is() {  # SERIES VALUE: within a few seconds (counted once answers went out)
  local _
  for _ in $(seq 50); do
    [[ "$(metric "$1")" == "$2" ]] && return 0
    sleep 0.1
  done
  echo "    $1 is $(metric "$1"), not $2" >&2
  return 1
}

# --- The agents.
registry() {  # AGENT [TRUSTED_KEYS]
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]\n'
  printf '"URL"="http://127.0.0.1:%s"\n"V_DIR"="/mbh"\n"Language"="ENGLISH"\n' "$port"
  printf '"InstallType"="express"\n"RolloutSlot"="%s"\n' "${slot[$1]}"
  if [[ -n ${2:-} ]]; then printf '"TrustedKeys"="%s"\n' "$2"; fi
}
for a in "${agents[@]}"; do
  dir=$work/agents/$a
  mkdir -p "$dir/update"
  cp "$bin/Mailbeacon" "$bin/SwiftPatcher_Mailbeacon.exe" "$dir/"
  printf 'plugin 1.0.5\r\n' >"$dir/plugin.dll"
  printf 'agent data\r\n' >"$dir/agent_data.txt"
  printf '[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.0.5\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=2.0.1\r\n[plugin.dll]\r\nVERSION=1.0.5\r\n[agent_data.txt]\r\nVERSION=2.0.1\r\n' \
    >"$dir/update/install_version.ini"
  registry "$a" >"$dir/registry.reg"
done
# An updater whose install fails (as on machines where the release breaks):
# it leaves the outcome the real one leaves after a failed install.
cat >"$work/failing-updater" <<'EOF'
#!/bin/sh
printf '[EXPRESS_DOWNLOAD]\r\nFROM=1.0.5\r\nRELEASE=1.0.6\r\nRESULT=failed\r\nREASON=io\r\nFILE=plugin.dll\r\nTIME=2026-12-08 12:00:00\r\n' \
  >update/install_outcome.ini
EOF
chmod +x "$work/failing-updater"

# Runs every agent once, together; then waits for each updater that an agent
# handed over to (its outcome file) before the next step.
run_one() {  # DIR
  local status=0
  cd "$1" || return 1
  env MAILBEACON_REGISTRY="$1/registry.reg" LC_ALL=C.UTF-8 MAILBEACON_MAX_RUNS=1 \
    timeout 60 ./Mailbeacon </dev/null >"$1/out.txt" 2>"$1/err.txt" || status=$?
  echo "$status" >"$1/status"
}
run_agents() {
  local a dir pids=()
  for a in "${agents[@]}"; do
    rm -f "$work/agents/$a/status"
    run_one "$work/agents/$a" &
    pids+=($!)
  done
  wait "${pids[@]}"
  for a in "${agents[@]}"; do
    dir=$work/agents/$a
    [[ $(cat "$dir/status" 2>/dev/null) == 0 ]] || continue
    # The list an agent hands over goes only once the outcome is written.
    for _ in $(seq 300); do
      [[ -e $dir/update/install_outcome.ini || ! -e $dir/update/mailbeacon_download.ini ]] && break
      sleep 0.1
    done
  done
}
installed() {  # AGENT -> its express release, as its install record has it
  sed -n '/^\[EXPRESS_DOWNLOAD\]/,/^\[/s/^INSTALL_VERSION=\([^\r]*\).*/\1/p' \
    "$work/agents/$1/update/install_version.ini" | head -n 1
}
at() {  # VERSION AGENTS...: each has the release recorded and its file in place
  local v=$1 a
  shift
  for a; do
    [[ $(installed "$a") == "$v" ]] || { echo "    $a: $(installed "$a"), not $v" >&2; return 1; }
    grep -qx "plugin $v"$'\r' "$work/agents/$a/plugin.dll" || { echo "    $a: plugin.dll not $v" >&2; return 1; }
  done
}
no_failed_run() {  # AGENTS...: the last run ended as a run ends, and said nothing of failure
  local a dir
  for a; do
    dir=$work/agents/$a
    [[ $(cat "$dir/status") == [05] ]] || { echo "    $a: exit $(cat "$dir/status")" >&2; return 1; }
    if grep -E '^Mailbeacon: (cannot fetch|refused)' "$dir/err.txt" >&2; then return 1; fi
  done
}
handed_over() {  # AGENTS...
  local a
  for a; do [[ $(cat "$work/agents/$a/status") == 0 ]] || return 1; done
}
express='component="express"'
reports() {  # RELEASE RESULT REASON
  echo "mailbeacon_reports_total{$express,release=\"$1\",result=\"$2\",reason=\"$3\"}"
}
share() { echo "mailbeacon_rollout_share{component=\"ORG/express\",release=\"$1\"}"; }
halted() { echo "mailbeacon_rollout_halted{component=\"ORG/express\",release=\"$1\"}"; }
downloads() { echo "mailbeacon_downloads_total{folder=\"ORG\",$express,file=\"plugin_$1.dll\"}"; }

# --- 1. Publish.
check "publish: 1.0.5 is served" publish "$releases/express-1.0.5"
check "the counters of 1.0.5 are there at 0 before anything happened" \
  metric_is "$(downloads 105)" 0
run_agents
check "every agent is up to date at 1.0.5, no run failed" \
  eval 'at 1.0.5 "${agents[@]}" && no_failed_run "${agents[@]}"'
check "watch: the fleet by release (active reports: 4 on 1.0.5)" metric_is "$(reports 1.0.5 active '')" 4
check "publish: 1.0.6, staged at 0 by its own ROLLOUT" publish "$releases/express-1.0.6"
run_agents
check "nobody took 1.0.6 at 0" eval 'at 1.0.5 "${agents[@]}" && no_failed_run "${agents[@]}"'
check "its share is 0 in the metrics" metric_is "$(share 1.0.6)" 0

# --- 2. Stage at 5 %, with a halting rule.
check "stage: rollout --share 5 --halt-above 40 --halt-min 2" \
  rollout --share 5 --halt-above 40 --halt-min 2
check "the pause answer carries the share" pause_has "ROLLOUT:ORG/express=5 1.0.6"
run_agents
check "a (number 2) took 1.0.6, nobody else, and no run failed" \
  eval 'at 1.0.6 a && at 1.0.5 b c d && no_failed_run "${agents[@]}"'
check "its share is 5 in the metrics" metric_is "$(share 1.0.6)" 5

# --- 3. Watch.
run_agents
check "watch: a's install is reported" metric_is "$(reports 1.0.6 installed '')" 1
check "watch: one download of 1.0.6's file" metric_is "$(downloads 106)" 1

# --- 4. Widen.
check "widen: rollout --share 50" rollout --share 50
pause_has "ROLLOUT:ORG/express=50 1.0.6" || true  # checked by what the agents do
run_agents
check "b (number 30) took it too, c and d did not" eval 'at 1.0.6 a b && at 1.0.5 c d'
run_agents
check "watch: two installs reported" metric_is "$(reports 1.0.6 installed '')" 2

# --- 5. Halt.
check "halt: rollout --share 0" rollout --share 0
pause_has "ROLLOUT:ORG/express=0 1.0.6" || true
check "its share is 0" metric_is "$(share 1.0.6)" 0
run_agents
check "c and d stay at 1.0.5 without a failed run" eval 'at 1.0.5 c d && no_failed_run c d'

# --- 6. Halt by itself: for everyone again, and it fails on c and d.
cp "$work/failing-updater" "$work/agents/c/SwiftPatcher_Mailbeacon.exe"
cp "$work/failing-updater" "$work/agents/d/SwiftPatcher_Mailbeacon.exe"
check "resume: rollout --share 100 (the rule stays)" rollout --share 100
pause_has "ROLLOUT:ORG/express=100 1.0.6" || true
run_agents
check "c and d take 1.0.6 and hand it over" handed_over c d
run_agents
check "their failures halt it by itself (halted 1)" metric_is "$(halted 1.0.6)" 1
check "its share is 0" metric_is "$(share 1.0.6)" 0
check "the server says why in its warnings log" \
  grep -q "ORG/express: release 1.0.6 halted by itself" "$work/server.log"
run_agents
check "c and d no longer take it, and no run failed" \
  eval 'at 1.0.5 c d && no_failed_run "${agents[@]}" && ! handed_over c && ! handed_over d'

# --- 7. Roll back: the previous release published again.
cp "$bin/SwiftPatcher_Mailbeacon.exe" "$work/agents/c/"
cp "$bin/SwiftPatcher_Mailbeacon.exe" "$work/agents/d/"
check "roll back: publish 1.0.5 again" publish "$releases/express-1.0.5"
run_agents
check "a and b are back at 1.0.5 (its file too), c and d never failed a run" \
  eval 'at 1.0.5 "${agents[@]}" && no_failed_run c d'
check "1.0.5 goes to everyone; 1.0.6's halt does not hold for it" \
  eval 'metric_is "$(share 1.0.5)" 100 && metric_is "$(halted 1.0.5)" 0'
run_agents
check "watch: the two returns reported" metric_is "$(reports 1.0.5 installed '')" 2

# --- 8. Rotate a key: agents trust the old and the new key; the release
# served is signed with the old; the next one with the new; then agents
# trust only the new, and the release is signed anew with it.
make_key() {  # NAME -> the public key, base64 of its DER, as TrustedKeys holds it
  openssl ecparam -name prime256v1 -genkey -noout -out "$work/$1.pem" 2>/dev/null
  openssl ec -in "$work/$1.pem" -pubout -outform DER 2>/dev/null | base64 -w0
}
old_key=$(make_key old)
new_key=$(make_key new)
for a in "${agents[@]}"; do registry "$a" "$old_key $new_key" >"$work/agents/$a/registry.reg"; done
check "sign the served release with the old key" sign "$root" "$work/old.pem"
run_agents
check "agents that trust both take nothing new and fail no run" \
  eval 'at 1.0.5 "${agents[@]}" && no_failed_run "${agents[@]}"'
mkdir -p "$work/signing/ORG"
cp -r "$releases/express-1.0.7" "$work/signing/ORG/express"
check "sign 1.0.7 with the new key, and publish it" \
  eval 'sign "$work/signing" "$work/new.pem" && publish "$work/signing/ORG/express"'
run_agents
check "every agent took 1.0.7, signed with the new key" \
  eval 'at 1.0.7 "${agents[@]}" && no_failed_run "${agents[@]}"'
for a in "${agents[@]}"; do registry "$a" "$new_key" >"$work/agents/$a/registry.reg"; done
check "sign what is served with the new key only" sign "$root" "$work/new.pem"
run_agents
check "agents that trust only the new key fail no run" \
  eval 'at 1.0.7 "${agents[@]}" && no_failed_run "${agents[@]}"'

# --- 9. Roll back a signed release. 1.0.8, signed, staged to half: a and b
# take it; c and d look at its manifest and leave it. The 1.0.7 signed
# before it, published again, is a step back a and b refuse, and an
# installed release c and d are up to date with; 1.0.7 signed anew is taken
# back by a and b.
cp -r "$root/ORG/express/." "$work/signed-1.0.7"  # as served: signed with the new key
mkdir -p "$work/bad/ORG"
cp -r "$releases/express-1.0.8" "$work/bad/ORG/express"
check "sign 1.0.8, publish it at 0, stage it at 50 %" \
  eval 'sign "$work/bad" "$work/new.pem" && publish "$work/bad/ORG/express" && rollout --share 50'
run_agents
check "a and b took 1.0.8; c and d did not, and failed no run" \
  eval 'at 1.0.8 a b && at 1.0.7 c d && no_failed_run "${agents[@]}"'
check "publish 1.0.7 as it was signed before 1.0.8" publish "$work/signed-1.0.7"
run_agents
check "a step back not signed anew: a and b refuse it and stay at 1.0.8" \
  eval 'at 1.0.8 a b && grep -q "refused the Outlook Express plug-in: older than the release already accepted" \
    "$work/agents/a/update/update_log.txt"'
check "c and d, at 1.0.7 already, are up to date and fail no run" \
  eval 'at 1.0.7 c d && no_failed_run c d'
mkdir -p "$work/back/ORG"
cp -r "$releases/express-1.0.7" "$work/back/ORG/express"
check "sign 1.0.7 anew and publish it" \
  eval 'sign "$work/back" "$work/new.pem" && publish "$work/back/ORG/express"'
run_agents
check "every agent is at 1.0.7 again, and no run failed" \
  eval 'at 1.0.7 "${agents[@]}" && no_failed_run "${agents[@]}"'
finish_checks
