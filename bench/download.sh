#!/usr/bin/env bash
# Times mb-fetch (the agent's download path: basWinAPI::DownloadFile over
# CurlNetwork) against `curl -o` on one URL of a loopback server, a 1 GiB
# file, and reports throughput, the ratio and both programs' peak RSS (also
# for a 64 MiB file, to show memory does not follow the size).
# Servers: mailbeacon-server (the vendor-server stand-in), and nginx (Debian
# package nginx-light) as a neutral one when it is installed.
# Usage: bench/download.sh BUILD_DIR   (a main-tree build with -DMB_BENCH=ON)
# Needs: hyperfine, curl, python3, GNU time; nginx optional.
set -Eeuo pipefail
check_name=bench-download
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # tables on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"
# shellcheck source=static_nginx.sh
source "$(dirname "$0")/static_nginx.sh"

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: bench/download.sh BUILD_DIR}
fetch=$build/bin/mb-fetch
server=$build/bin/mailbeacon-server
rounds=${MB_BENCH_ROUNDS:-3}
runs=${MB_BENCH_RUNS:-3}
# tmpfs when there is one: the disk's write-back would time the disk.
base=${MB_BENCH_TMP:-$( [[ -d /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work=$(mktemp -d "$base/mb-fetch-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

# The numeric name encoding of download URLs (ANSI code + 573 per character).
encode() { python3 -c 'import sys; print("".join(f"{ord(c)+573}*" for c in sys.argv[1]))' "$1"; }

release=$work/release
mkdir -p "$release/ORG/express" "$work/out"
echo "== making the release files (1 GiB and 64 MiB of random bytes)"
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$release/ORG/express/big.bin"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$release/ORG/express/mid.bin"
printf '[big.bin]\nORDER=1\n[mid.bin]\nORDER=2\n' >"$release/ORG/express/files.ini"
printf '[RELEASE]\nLAST_VERSION=1.0\n' >"$release/ORG/express/release.ini"
cat "$release/ORG/express/"*.bin >/dev/null  # into the page cache

"$server" --root "$release" --port 0 --port-file "$work/port" --access-log "$work/server.log" &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.05; done
port=$(cat "$work/port")
declare -A base_url=([mailbeacon-server]="http://127.0.0.1:$port/mailbeaconhome/download/express_exe.aspx?program=")

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
if [[ -x $nginx_bin ]]; then
  start_static_nginx "$nginx_bin" "$work" "$release/ORG/express"
  base_url[nginx]="http://127.0.0.1:$static_nginx_port/"
fi

url_of() {  # server, file
  if [[ $1 == nginx ]]; then echo "${base_url[nginx]}$2"; else echo "${base_url[$1]}$(encode "$2")&Folder=ORG"; fi
}

want=$(md5sum <"$release/ORG/express/big.bin" | cut -c1-32)
for srv in "${!base_url[@]}"; do
  url=$(url_of "$srv" big.bin)
  echo "== $srv: checking both programs fetch the same bytes"
  "$fetch" "$url" "$work/out/a.bin"
  curl -sSf -o "$work/out/b.bin" "$url"
  expect_checks 2
  for f in a b; do
    got=$(md5sum <"$work/out/$f.bin" | cut -c1-32)
    check "$srv: $f.bin is the release file" test "$got" = "$want"
  done
  rm -f "$work/out/"*.bin
  echo "== $srv: $rounds rounds of $runs runs each (hyperfine)"
  for ((i = 1; i <= rounds; i++)); do
    # --prepare, not --cleanup (which runs only after all runs of a command):
    # every run writes a new file. Replacing a 1 GiB file is a different
    # case - see bench/README.md.
    hyperfine -N --style none --warmup 1 --runs "$runs" --prepare "rm -f $work/out/a.bin $work/out/b.bin" \
      --export-json "$work/$srv-round$i.json" \
      -n mb-fetch "$fetch $url $work/out/a.bin" -n "curl -o" "curl -sf -o $work/out/b.bin $url" \
      >/dev/null
    rm -f "$work/out/"*.bin
  done
  for size in mid big; do
    u=$(url_of "$srv" $size.bin)
    for prog in mb-fetch curl; do
      if [[ $prog == mb-fetch ]]; then cmd=("$fetch" "$u" "$work/out/r.bin"); else cmd=(curl -sf -o "$work/out/r.bin" "$u"); fi
      kb=$(/usr/bin/time -v "${cmd[@]}" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p')
      rm -f "$work/out/r.bin"
      anon=$("$here/peak_private.py" "${cmd[@]}")
      echo "$srv $prog $size $kb $anon" >>"$work/rss.txt"
      rm -f "$work/out/r.bin"
    done
  done
done

python3 - "$work" "$rounds" <<'PY'
import glob, json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
size = 1024 ** 3
rss, anon = {}, {}
for line in open(f"{work}/rss.txt"):
    srv, prog, which, kb, private = line.split()
    rss[(srv, prog, which)] = int(kb)
    anon[(srv, prog, which)] = int(private)
servers = sorted({p.split("/")[-1].rsplit("-round", 1)[0] for p in glob.glob(f"{work}/*-round*.json")})
print()
print("1 GiB file over loopback; MB/s = 10^6 bytes/s from the wall-clock median and best;")
print("ratio = mb-fetch's throughput / curl's. Peak RSS (GNU time) and peak private memory")
print("(RssAnon sampled every 5 ms: heap and stacks, no mapped files) for 64 MiB and 1 GiB files.")
print()
print("| server | program | runs | median s | MB/s median | MB/s best | ratio median | ratio best "
      "| peak RSS 64 MiB | peak RSS 1 GiB | private 64 MiB | private 1 GiB |")
print("|---|---|---|---|---|---|---|---|---|---|---|---|")
for srv in servers:
    times = {}
    for i in range(1, rounds + 1):
        for r in json.load(open(f"{work}/{srv}-round{i}.json"))["results"]:
            times.setdefault(r["command"], []).extend(r["times"])
    med = {k: statistics.median(v) for k, v in times.items()}
    best = {k: min(v) for k, v in times.items()}
    for prog, key in (("mb-fetch", "mb-fetch"), ("curl -o", "curl")):
        print(f"| {srv} | {prog} | {len(times[prog])} | {med[prog]:.3f} | {size / med[prog] / 1e6:.0f} "
              f"| {size / best[prog] / 1e6:.0f} | {med['curl -o'] / med[prog]:.3f} | {best['curl -o'] / best[prog]:.3f} "
              f"| {rss[(srv, key, 'mid')]} KiB | {rss[(srv, key, 'big')]} KiB "
              f"| {anon[(srv, key, 'mid')]} KiB | {anon[(srv, key, 'big')]} KiB |")
PY
finish_checks
