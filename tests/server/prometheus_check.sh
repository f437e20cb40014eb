#!/usr/bin/env bash
# mailbeacon-server's metrics as a vendor's monitoring reads them: the server
# serves a release on loopback with --metrics-listen, answers a few agents'
# requests (curl with the agents' URLs), then
#   - GET /metrics answers on the metrics address only (404 on the agents');
#   - promtool (Debian's prometheus package) finds the text well formed;
#   - a real Prometheus, on loopback with its data in a temporary folder,
#     scrapes it once a second until it holds the requests, the download and
#     the published release, for at most 60 s, and is stopped.
# Usage: tests/server/prometheus_check.sh BIN_DIR   (mailbeacon-server)
# Needs curl and prometheus (scripts/install-deps).
set -Eeuo pipefail
bin=${1:?usage: prometheus_check.sh BIN_DIR}
bin=$(cd "$bin" && pwd)
check_name=prometheus-check
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"
for tool in promtool prometheus curl; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps)"
done
((!failed)) || finish_checks
expect_checks 9

work=$(mktemp -d /tmp/mb-prometheus.XXXXXX)
prometheus_pid=
cleanup() {
  if [[ -n $prometheus_pid ]]; then
    kill "$prometheus_pid" 2>/dev/null || true
    wait "$prometheus_pid" 2>/dev/null || true
  fi
  if keep_evidence; then echo "prometheus-check: files left in $work"; else rm -rf "$work"; fi
}

make_release "$work/release" N 1000
# Started here rather than by start_release_server: a server that does not
# start is a verdict of this check, not a script error.
"$bin/mailbeacon-server" --root "$work/release" --port-file "$work/port" --log "$work/server.log" \
  --metrics-listen 127.0.0.1:0 2>"$work/server.err" &
server_pid=$!  # stopped by script_lib at the end
metrics_url=
for _ in $(seq 300); do  # 30 s: a loaded machine starts it slowly
  metrics_url=$(sed -n 's|^mailbeacon-server: metrics on \(http://127\.0\.0\.1:[0-9]*/metrics\)$|\1|p' \
    "$work/server.err")
  if [[ -n $metrics_url ]] || ! kill -0 "$server_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
check "the server starts and says where its metrics are (${metrics_url:-nowhere})" \
  test -n "$metrics_url" -a -s "$work/port"
[[ -n $metrics_url ]] || finish_checks
port=$(cat "$work/port")
metrics_port=${metrics_url##*:}
metrics_port=${metrics_port%/metrics}

# Three runs of an up-to-date agent, and one download of the plug-in's file.
base=http://127.0.0.1:$port/mailbeaconhome/download
for _ in 1 2 3; do
  curl -sf -o /dev/null "$base/pause.aspx"
  curl -sf -o /dev/null "$base/express_exe.aspx?version=new&Folder=ORG"
  curl -sf -o /dev/null "$base/agent_exe.aspx?version=new&Folder=ORG"
done
# "MailbeaconExpress.dll" as the agent encodes it (each code plus 573).
program=$(printf '%s' MailbeaconExpress.dll | od -An -tu1 -v | tr -s ' ' '\n' | sed '/^$/d' |
  awk '{printf "%d*", $1 + 573}')
curl -sf -o "$work/file" "$base/express_exe.aspx?program=$program&Folder=ORG"
agents_status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/metrics")
check "the agents' address does not answer /metrics (status $agents_status)" \
  test "$agents_status" = 404
curl -sf -o "$work/metrics.txt" "$metrics_url"
check "promtool finds the text well formed" promtool check metrics <"$work/metrics.txt"

# A real Prometheus, on a port of its own below the ephemeral range.
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: mailbeacon
    static_configs:
      - targets: ['127.0.0.1:$metrics_port']
EOF
prometheus_port=
for _ in 1 2 3 4 5; do
  try=$((20000 + RANDOM % 10000))
  prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$try" >"$work/prometheus.log" 2>&1 &
  prometheus_pid=$!
  for _ in $(seq 150); do
    if curl -sf -o /dev/null "http://127.0.0.1:$try/-/ready"; then prometheus_port=$try; break; fi
    kill -0 "$prometheus_pid" 2>/dev/null || break
    sleep 0.2
  done
  [[ -n $prometheus_port ]] && break
  kill "$prometheus_pid" 2>/dev/null || true
  wait "$prometheus_pid" 2>/dev/null || true
  prometheus_pid=
done
check "Prometheus is ready on 127.0.0.1:${prometheus_port:-?}" test -n "$prometheus_port"
[[ -n $prometheus_port ]] || finish_checks

value() {  # EXPR -> the value of its one series, or nothing
  promtool query instant "http://127.0.0.1:$prometheus_port" "$1" 2>/dev/null |
    sed -n 's/.* => \([0-9.e+]*\) @.*/\1/p' | head -n 1
}
expected_pause='mailbeacon_requests_total{endpoint="pause",status="200"}'
for _ in $(seq 120); do  # 60 s at most
  [[ "$(value "$expected_pause")" == 3 ]] && break
  sleep 0.5
done
check "Prometheus scraped the server (up is $(value 'up{job="mailbeacon"}'))" \
  test "$(value 'up{job="mailbeacon"}')" = 1
check "it holds the three pause requests" test "$(value "$expected_pause")" = 3
check "and the manifests by folder" \
  test "$(value 'sum(mailbeacon_requests_total{endpoint=~"express_exe|agent_exe",folder="ORG",status="200"})')" = 7
check "and the download by component and file name" \
  test "$(value 'mailbeacon_downloads_total{component="express",file="MailbeaconExpress.dll"}')" = 1
check "and the published releases (express 1.0.5, agent 2.0.1)" \
  test "$(value 'count(mailbeacon_release_info{folder="ORG",last_version=~"1.0.5|2.0.1"} == 1)')" = 2
finish_checks
