#!/usr/bin/env bash
# TCP connections an up-to-date agent opens: RUNS runs of three requests each
# (pause state and two manifests), counted by bench/count_proxy.py between the
# agent and the server. Servers: mailbeacon-server, and nginx (Debian package
# nginx-light) serving the same three answers as static files, when installed.
# With a Windows build folder, Mailbeacon.exe is measured under Wine too.
# Usage: bench/connections.sh BUILD_DIR [WIN_BIN_DIR]
#   MB_RUNS: runs of the POSIX agent (10); MB_WINE_SECONDS: how long Mailbeacon.exe runs (8)
# Needs: python3; nginx, wine (with xvfb-run when there is no display) optional.
set -Eeuo pipefail
check_name=bench-connections
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # tables on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: bench/connections.sh BUILD_DIR [WIN_BIN_DIR]}
win_bin=${2:-}
runs=${MB_RUNS:-10}
work=$(mktemp -d "${TMPDIR:-/tmp}/mb-connections.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [[ -n ${WINEPREFIX:-} ]]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for() { for _ in $(seq 100); do [[ -s $1 ]] && return; sleep 0.05; done; }

# Release 1.1 of the plug-in and the agent, and an install record that holds
# 1.1 of both: every run finds nothing to do.
release=$work/release
mkdir -p "$release/ORG/express" "$release/ORG/agent" "$work/inst/update"
printf 'N\r\n' >"$release/pause.txt"
for c in express agent; do
  printf '%s 1.1' "$c" >"$release/ORG/$c/$c.dat"
  printf '[RELEASE]\nLAST_VERSION=1.1\n' >"$release/ORG/$c/release.ini"
done
printf '[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\n[AGENT_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\n' \
  >"$work/inst/update/install_version.ini"
cp "$build/bin/Mailbeacon" "$work/inst/"

declare -A origin
"$build/bin/mailbeacon-server" --root "$release" --port 0 --vdir /mbh --port-file "$work/port" \
  --access-log "$work/mailbeacon-server.log" 2>/dev/null &
pids+=($!)
wait_for "$work/port"
origin[mailbeacon-server]=$(cat "$work/port")

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
if [[ -x $nginx_bin ]]; then
  www=$work/www/mbh/download
  mkdir -p "$www" "$work/nginx"
  base="http://127.0.0.1:${origin[mailbeacon-server]}/mbh/download"
  cp "$release/pause.txt" "$www/pause.aspx"
  # The query is not part of a static file's name: each manifest under its endpoint.
  for c in express agent; do
    python3 -c 'import sys, urllib.request; sys.stdout.buffer.write(urllib.request.urlopen(sys.argv[1]).read())' \
      "$base/${c}_exe.aspx?version=new&Folder=ORG" >"$www/${c}_exe.aspx"
  done
  chmod -R a+rX "$work/www"
  chmod a+x "$work"
  origin[nginx]=$(free_port)
  cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log $work/nginx.log;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  default_type text/plain;
  server { listen 127.0.0.1:${origin[nginx]}; root $work/www; }
}
CONF
  "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  pids+=($!)
  sleep 0.5
fi

# Starts a counting relay in front of a server port; sets relay and counts.
relay_to() {
  counts=$work/counts.$RANDOM
  rm -f "$work/relay.port"
  python3 "$here/count_proxy.py" "$1" "$work/relay.port" "$counts" &
  relay_pid=$!
  pids+=("$relay_pid")
  wait_for "$work/relay.port"
  relay=$(cat "$work/relay.port")
}
# Stops the relay once the client's connections are closed; prints their count.
connections() {
  sleep 0.5
  kill "$relay_pid" 2>/dev/null || true
  [[ -f $counts ]] && wc -l <"$counts" || echo 0
}
# Requests the server logged so far.
requests() { cat "$work/$1.log" 2>/dev/null | grep -c 'GET ' || true; }

registry() {
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]\n"URL"="http://127.0.0.1:%s"\n"V_DIR"="/mbh"\n"Language"="ENGLISH"\n"InstallType"="express"\n' \
    "$1" >"$work/registry.reg"
}

echo "| client | server | runs | requests | TCP connections |"
echo "|---|---|---|---|---|"
for srv in "${!origin[@]}"; do
  relay_to "${origin[$srv]}"
  registry "$relay"
  before=$(requests "$srv")
  status=0
  (cd "$work/inst" && MAILBEACON_REGISTRY="$work/registry.reg" MAILBEACON_MAX_RUNS=$runs \
    ./Mailbeacon </dev/null >"$work/agent.out" 2>&1) || status=$?
  if ((status != 5)); then cat "$work/agent.out" >&2; fi
  expect_checks 1
  check "the agent made its $runs runs against $srv (status $status)" test "$status" -eq 5
  echo "| Mailbeacon (POSIX) | $srv | $runs | $(($(requests "$srv") - before)) | $(connections) |"
done

if [[ -n $win_bin ]] && command -v wine >/dev/null; then
  export WINEPREFIX=$work/wine WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree=;mshtml="
  wine wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  inst=$WINEPREFIX/drive_c/mb
  mkdir -p "$inst"
  cp -r "$work/inst/update" "$inst/"
  cp "$win_bin/Mailbeacon.exe" "$inst/"
  key='HKCU\SOFTWARE\BrightHarbor\MailbeaconCom'
  # The progress window wants a true-colour screen (xvfb-run's default is 8 bits).
  no_display=()
  [[ -n ${DISPLAY:-} ]] || no_display=(xvfb-run -a -s "-screen 0 1024x768x24")
  wine reg add "$key" /v V_DIR /t REG_SZ /d /mbh /f >/dev/null
  wine reg add "$key" /v InstallType /t REG_SZ /d Express /f >/dev/null
  for srv in "${!origin[@]}"; do
    relay_to "${origin[$srv]}"
    before=$(requests "$srv")
    wine reg add "$key" /v URL /t REG_SZ /d "http://127.0.0.1:$relay" /f >/dev/null
    # No run limit on Windows: the agent is stopped after a few seconds, and
    # its runs are the pause requests that passed the relay. Wine's desktop
    # must not outlive the display of an earlier xvfb-run.
    wineserver -k 2>/dev/null || true
    wineserver -w
    "${no_display[@]}" timeout "${MB_WINE_SECONDS:-8}" wine 'C:\mb\Mailbeacon.exe' >"$work/wine.out" 2>&1 || true
    wineserver -k 2>/dev/null || true
    if (($(requests "$srv") <= before)); then cat "$work/wine.out" >&2; fi
    expect_checks 1
    check "Mailbeacon.exe asked $srv" test "$(requests "$srv")" -gt "$before"
    total=$(connections)
    n=$(($(requests "$srv") - before))
    echo "| Mailbeacon.exe (Wine) | $srv | $((n / 3)) | $n | $total |"
  done
fi
finish_checks
