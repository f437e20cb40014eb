#!/usr/bin/env bash
# Serving the agents' polling: wrk cycles the three requests of an
# up-to-date run (pause.aspx and the two manifests) against
# mailbeacon-server and against a stock nginx serving the very same bytes
# (the server's static export), side by side, with keep-alive and with
# "Connection: close". Each server runs on one core (taskset, one thread /
# one worker), wrk on the other, so the figures are per core.
# Also: pause.aspx alone at 8 connections, the micro-cache configuration
# (nginx in front of mailbeacon-server), bytes per up-to-date run, and the
# memory of idle connections.
# Usage: bench/serve.sh BUILD_DIR   (a main-tree build)
# Installs what it uses: wrk, nginx-light, curl, python3 (Debian packages).
set -Eeuo pipefail
check_name=bench-serve
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # tables on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: bench/serve.sh BUILD_DIR}
server=$build/bin/mailbeacon-server
rounds=${MB_BENCH_ROUNDS:-3}
duration=${MB_BENCH_DURATION:-5s}

need=()
for p in wrk nginx-light curl python3 util-linux; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep "install ok installed" >/dev/null || need+=("$p")
done
if ((${#need[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${need[@]}" >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

base=${MB_BENCH_TMP:-$( [[ -d /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work=$(mktemp -d "$base/mb-serve-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 200); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }
cpus=$(nproc)
server_cpu=$((cpus > 1 ? 1 : 0))

# The measured release: 20 files of 200 KB in ORG/express, one agent file.
release=$work/release
mkdir -p "$release/ORG/express" "$release/ORG/agent"
for i in $(seq -w 1 20); do head -c 204800 /dev/urandom >"$release/ORG/express/file$i.dll"; done
printf '[RELEASE]\nLAST_VERSION=1.0\n' >"$release/ORG/express/release.ini"
printf '[RELEASE]\nLAST_VERSION=2.0\n' >"$release/ORG/agent/release.ini"
head -c 100000 /dev/urandom >"$release/ORG/agent/Mailbeacon.exe"
printf 'N\r\n' >"$release/pause.txt"
chmod -R a+rX "$work"

# mailbeacon-server, one thread, its request log on tmpfs as in real use.
"$server" --root "$release" --port 0 --port-file "$work/port" --access-log "$work/server.log" --threads 1 \
  2>"$work/server.err" &
pids+=($!)
for _ in $(seq 200); do [[ -s $work/port ]] && break; sleep 0.05; done
taskset -pc "$server_cpu" "${pids[-1]}" >/dev/null
mport=$(cat "$work/port")

# The static export on nginx: one worker process.
nport=$(free_port)
"$server" export --root "$release" --out "$work/export" --listen "127.0.0.1:$nport" >/dev/null
sed -i 's/^worker_processes auto;/worker_processes 1;/' "$work/export/nginx.conf"
chmod -R a+rX "$work/export"
taskset -c "$server_cpu" "$nginx_bin" -p "$work/export" -c nginx.conf -e logs/error.log -g "daemon off;" &
pids+=($!)
wait_port "$nport"

# The same bytes as plain static files at plain paths (/pause.txt, ...): the
# least work nginx can do for them, the baseline of the ratios.
pport=$(free_port)
mkdir -p "$work/plain/logs"
cat >"$work/plain/nginx.conf" <<CONF
worker_processes 1;
pid nginx.pid;
error_log logs/error.log;
events { worker_connections 8192; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  open_file_cache max=1000 inactive=30s;
  client_body_temp_path client_body_temp;
  proxy_temp_path proxy_temp;
  fastcgi_temp_path fastcgi_temp;
  uwsgi_temp_path uwsgi_temp;
  scgi_temp_path scgi_temp;
  server { listen 127.0.0.1:$pport; root $work/export/current; }
}
CONF
chmod -R a+rX "$work/plain"
taskset -c "$server_cpu" "$nginx_bin" -p "$work/plain" -c nginx.conf -e logs/error.log -g "daemon off;" &
pids+=($!)
wait_port "$pport"

# The micro-cache: nginx (one worker) in front of mailbeacon-server, same core.
cport=$(free_port)
mkdir -p "$work/cache/logs"
sed -e "s/server 127.0.0.1:8080;/server 127.0.0.1:$mport;/" -e "s/listen 127.0.0.1:8081;/listen 127.0.0.1:$cport;/" \
  -e 's/^worker_processes auto;/worker_processes 1;/' "$here/../server/deploy/nginx-microcache.conf" \
  >"$work/cache/nginx.conf"
chmod -R a+rX "$work/cache"
taskset -c "$server_cpu" "$nginx_bin" -p "$work/cache" -c nginx.conf -e logs/error.log -g "daemon off;" &
pids+=($!)
wait_port "$cport"

v=/mailbeaconhome/download
cat >"$work/triple.lua" <<LUA
local paths = {"$v/pause.aspx", "$v/express_exe.aspx?version=new&Folder=ORG",
               "$v/agent_exe.aspx?version=new&Folder=ORG"}
if os.getenv("MB_PLAIN") == "1" then
  paths = {"/pause.txt", "/ORG/express/manifest.txt", "/ORG/agent/manifest.txt"}
end
local close = os.getenv("MB_CLOSE") == "1"
local i = 0
request = function()
  i = i % #paths + 1
  if close then return wrk.format("GET", paths[i], {["Connection"] = "close"}) end
  return wrk.format("GET", paths[i])
end
done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("RESULT %.1f %d %d %d %d\n", summary.requests / (summary.duration / 1e6),
    latency:percentile(50), latency:percentile(99), e.connect + e.read + e.write + e.timeout, e.status))
end
LUA

declare -A port_of=([mailbeacon-server]=$mport [nginx-static]=$nport [nginx-microcache]=$cport
                    [nginx-plain]=$pport)
# Every answer must be the same bytes before anything is timed.
for url in "$v/pause.aspx" "$v/express_exe.aspx?version=new&Folder=ORG" "$v/agent_exe.aspx?version=new&Folder=ORG"; do
  want=$(curl -sf "http://127.0.0.1:$mport$url" | md5sum)
  for srv in nginx-static nginx-microcache; do
    expect_checks 1
    check "$srv answers $url as mailbeacon-server does" \
      test "$(curl -sf "http://127.0.0.1:${port_of[$srv]}$url" | md5sum)" = "$want"
  done
done

echo "== wrk -t2 -c64 -d$duration over the up-to-date triple, $rounds rounds, servers alternating"
for ((r = 1; r <= rounds; r++)); do
  for mode in keepalive close; do
    for srv in mailbeacon-server nginx-plain nginx-static nginx-microcache; do
      line=$(MB_CLOSE=$([[ $mode == close ]] && echo 1 || echo 0) MB_PLAIN=$([[ $srv == nginx-plain ]] && echo 1 || echo 0) \
        taskset -c 0 \
        wrk -t2 -c64 -d"$duration" -s "$work/triple.lua" "http://127.0.0.1:${port_of[$srv]}" | grep '^RESULT')
      echo "$srv $mode $line" | tee -a "$work/results.txt"
    done
  done
done
echo "== pause.aspx alone, wrk -t1 -c8 -d$duration"
for srv in mailbeacon-server nginx-static; do
  line=$(cd "$work" && taskset -c 0 wrk -t1 -c8 -d"$duration" --latency "http://127.0.0.1:${port_of[$srv]}$v/pause.aspx" |
    awk '/Latency  /{mean=$2} /50%/{p50=$2} /99%/{p99=$2} /Requests\/sec/{rps=$2} END{print rps, mean, p50, p99}')
  echo "pause $srv $line" | tee -a "$work/pause.txt"
done

echo "== one 200 KB release file, wrk -t2 -c64 -d$duration (keep-alive)"
enc=$(python3 -c 'print("".join(f"{ord(c)+573}*" for c in "file01.dll"))')
for srv in mailbeacon-server nginx-static; do
  line=$(taskset -c 0 wrk -t2 -c64 -d"$duration" --latency \
    "http://127.0.0.1:${port_of[$srv]}$v/express_exe.aspx?program=$enc&Folder=ORG" |
    awk '/Requests\/sec/{rps=$2} /Transfer\/sec/{tps=$2} END{print rps, tps}')
  echo "file $srv $line" | tee -a "$work/file.txt"
done

echo "== bytes of one up-to-date run (the agent's headers, one connection per request)"
total_req=0; total_resp=0
for url in "$v/pause.aspx" "$v/express_exe.aspx?version=new&Folder=ORG" "$v/agent_exe.aspx?version=new&Folder=ORG"; do
  read -r req hdr body < <(curl -s -o /dev/null -H 'Cache-Control: no-cache' -H 'Pragma: no-cache' \
    -A 'Mailbeacon' -w '%{size_request} %{size_header} %{size_download}\n' "http://127.0.0.1:$mport$url")
  total_req=$((total_req + req)); total_resp=$((total_resp + hdr + body))
done
echo "run: $total_req bytes sent by the agent, $total_resp bytes received" | tee "$work/bytes.txt"

echo "== memory of idle connections (mailbeacon-server)"
rss() { awk '/VmRSS/{print $2}' "/proc/$1/status"; }
before=$(rss "${pids[0]}")
python3 - "$mport" <<'PY' &
import resource, socket, sys, time
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
conns = []
for _ in range(5000):
    s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
    s.sendall(b"GET /mailbeaconhome/download/pause.aspx HTTP/1.1\r\nHost: x\r\n\r\n")
    conns.append(s)
for s in conns: s.recv(4096)
time.sleep(3)
PY
holder=$!
sleep 2
after=$(rss "${pids[0]}")
open=$(ss -tn state established "( sport = :$mport )" | tail -n +2 | wc -l)
wait "$holder" || true
echo "idle: $open connections kept alive after one request each: RSS $before KiB -> $after KiB" | tee "$work/idle.txt"

python3 - "$work" <<'PY'
import statistics, sys
work = sys.argv[1]
rows = {}
for line in open(f"{work}/results.txt"):
    srv, mode, _, rps, p50, p99, errors, non2xx = line.split()
    rows.setdefault((srv, mode), []).append((float(rps), int(p50), int(p99), int(errors), int(non2xx)))
print()
print("Per core (server pinned to one CPU, wrk on the other); medians over the rounds;")
print("ratio = requests/s / nginx-plain's in the same mode (nginx serving the same bytes")
print("as plain files at plain paths; nginx-static is the export's configuration).")
print()
print("| server | connections | requests/s | ratio | p50 | p99 | socket errors | non-2xx |")
print("|---|---|---|---|---|---|---|---|")
for mode in ("keepalive", "close"):
    ref = statistics.median(r[0] for r in rows[("nginx-plain", mode)])
    for srv in ("mailbeacon-server", "nginx-plain", "nginx-static", "nginx-microcache"):
        rs = rows[(srv, mode)]
        rps = statistics.median(r[0] for r in rs)
        p50 = statistics.median(r[1] for r in rs) / 1000
        p99 = statistics.median(r[2] for r in rs) / 1000
        print(f"| {srv} | {'keep-alive' if mode == 'keepalive' else 'Connection: close'} | {rps:.0f} "
              f"| {rps / ref:.2f} | {p50:.2f} ms | {p99:.2f} ms | {sum(r[3] for r in rs)} | {sum(r[4] for r in rs)} |")
print()
for line in open(f"{work}/pause.txt"):
    print("pause.aspx alone (-c8):", line.strip(), "(requests/s, mean, p50, p99)")
for line in open(f"{work}/file.txt"):
    print("one 200 KB file (-c64):", line.strip(), "(requests/s, transfer/s)")
print(open(f"{work}/bytes.txt").read().strip())
print(open(f"{work}/idle.txt").read().strip())
PY
finish_checks
