#!/usr/bin/env bash
# Times download and check of one 512 MiB release file, the agent's way
# against a peer that fetches and then reads the file again:
#   unsigned  mb-fetch --md5 M              the MD5 made while the bytes arrive
#   signed    mb-fetch --md5 M --sha256 S   MD5 and SHA-256 while they arrive
#   peer      curl -o, then openssl md5 of the file
# over loopback from mailbeacon-server and from nginx (sendfile, so the
# server takes little of the two cores), in rounds of hyperfine runs, and
# prints each mode's median and best against the peer's (the goals: signed
# at most 1.0 of the peer's time, unsigned at most 0.7).
# Usage: bench/verify.sh BUILD_DIR   (a main-tree build with -DMB_BENCH=ON)
# Needs: hyperfine, curl, openssl, python3, nginx.
set -Eeuo pipefail
check_name=bench-verify
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # tables on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"
# shellcheck source=static_nginx.sh
source "$(dirname "$0")/static_nginx.sh"

build=${1:?usage: bench/verify.sh BUILD_DIR}
fetch=$build/bin/mb-fetch
server=$build/bin/mailbeacon-server
rounds=${MB_BENCH_ROUNDS:-3}
runs=${MB_BENCH_RUNS:-3}
mib=${MB_BENCH_MIB:-512}
# tmpfs when there is one: the disk's write-back would time the disk.
base=${MB_BENCH_TMP:-$([[ -d /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}
work=$(mktemp -d "$base/mb-verify-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

release=$work/release
mkdir -p "$release/ORG/express" "$work/out"
echo "== making the release file ($mib MiB of random bytes)" >&2
head -c $((mib * 1024 * 1024)) /dev/urandom >"$release/ORG/express/big.bin"
printf '[RELEASE]\nLAST_VERSION=1.0\n' >"$release/ORG/express/release.ini"
md5=$(md5sum <"$release/ORG/express/big.bin" | cut -c1-32)
sha256=$(sha256sum <"$release/ORG/express/big.bin" | cut -c1-64)

"$server" --root "$release" --port 0 --port-file "$work/port" --log "$work/server.log" &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.05; done
port=$(cat "$work/port")
program=$(python3 -c 'import sys; print("".join(f"{ord(c)+573}*" for c in sys.argv[1]))' big.bin)
declare -A url=([mailbeacon-server]="http://127.0.0.1:$port/mailbeaconhome/download/express_exe.aspx?program=$program&Folder=ORG")

start_static_nginx nginx "$work" "$release/ORG/express"
url[nginx]="http://127.0.0.1:$static_nginx_port/big.bin"
wrong_sha256=$(tr '0-9a-f' '1-9a-f0' <<<"$sha256")

for srv in mailbeacon-server nginx; do
  u=${url[$srv]}
  unsigned=("$fetch" --md5 "$md5" "$u" "$work/out/a.bin")
  signed=("$fetch" --md5 "$md5" --sha256 "$sha256" "$u" "$work/out/b.bin")
  peer="curl -sf -o $work/out/c.bin '$u' && openssl md5 $work/out/c.bin"
  expect_checks 4
  check "$srv: unsigned mode fetches and checks the file" "${unsigned[@]}"
  check "$srv: signed mode fetches and checks the file" "${signed[@]}"
  check "$srv: a wrong SHA-256 fails the signed mode" \
    bash -c '! "$@" 2>/dev/null' _ "$fetch" --md5 "$md5" --sha256 "$wrong_sha256" "$u" "$work/out/d.bin"
  check "$srv: the peer gets the same MD5" bash -c "$peer | grep -F $md5 >/dev/null"
  rm -f "$work/out/"*.bin
  echo "== $srv: $rounds rounds of $runs runs each (hyperfine)" >&2
  for ((i = 1; i <= rounds; i++)); do
    # Every run writes a new file (--prepare removes the last one).
    hyperfine -N --style none --warmup 1 --runs "$runs" \
      --prepare "rm -f $work/out/a.bin $work/out/b.bin $work/out/c.bin" \
      --export-json "$work/$srv-round$i.json" \
      -n unsigned "${unsigned[*]}" -n signed "${signed[*]}" -n peer "bash -c \"$peer >/dev/null\"" \
      >/dev/null
    rm -f "$work/out/"*.bin
  done
done

python3 - "$work" "$rounds" "$mib" <<'PY'
import json, statistics, sys
work, rounds, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
goal = {"unsigned": 0.7, "signed": 1.0}
print()
print(f"{mib} MiB over loopback; time = wall clock; share = the mode's time / the peer's "
      "(curl -o, then openssl md5 of the file).")
print()
print("| server | mode | runs | median s | best s | share median | share best | goal |")
print("|---|---|---|---|---|---|---|---|")
for srv in ("mailbeacon-server", "nginx"):
    times = {}
    for i in range(1, rounds + 1):
        for r in json.load(open(f"{work}/{srv}-round{i}.json"))["results"]:
            times.setdefault(r["command"], []).extend(r["times"])
    med = {k: statistics.median(v) for k, v in times.items()}
    best = {k: min(v) for k, v in times.items()}
    for mode in ("unsigned", "signed", "peer"):
        print(f"| {srv} | {mode} | {len(times[mode])} | {med[mode]:.3f} | {best[mode]:.3f} "
              f"| {med[mode] / med['peer']:.2f} | {best[mode] / best['peer']:.2f} "
              f"| {('at most %.1f' % goal[mode]) if mode in goal else ''} |")
PY
finish_checks
