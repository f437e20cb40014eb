#!/usr/bin/env bash
# Times mb-md5 against `openssl md5` and `md5sum` on a 1 GiB file held in the
# page cache, and reports throughput, the ratios and mb-md5's peak RSS.
# Usage: bench/md5.sh [BUILD_DIR]   (default: a temporary build, -O2)
# Needs: cmake, ninja, g++, libbenchmark-dev, hyperfine, openssl, python3,
# and GNU time (/usr/bin/time, Debian package "time").
set -Eeuo pipefail
check_name=bench-md5
MB_CHECKS_FAIL_FAST=1  # a failed precondition makes the figures meaningless
MB_CHECKS_QUIET=1      # tables on stdout, verdicts on stderr
# shellcheck source=../tests/script_lib.sh
source "$(dirname "$0")/../tests/script_lib.sh"
expect_checks 1

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/mb-md5-bench.XXXXXX")
cleanup() { rm -rf "$work"; }
build=${1:-$work/build}
rounds=${MB_BENCH_ROUNDS:-5}
runs=${MB_BENCH_RUNS:-3}

echo "== building mb-md5 (RelWithDebInfo: -O2) in $build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target mb-md5 -j2 >/dev/null
mbmd5=$build/bin/mb-md5

file=$work/data.bin
size=$((1024 * 1024 * 1024))
echo "== making a 1 GiB file"
head -c "$size" /dev/urandom >"$file"
cat "$file" >/dev/null  # into the page cache

echo "== checking that all three agree"
ours=$("$mbmd5" "$file" | cut -c1-32)
theirs=$(md5sum "$file" | cut -c1-32)
ossl=$(openssl md5 -r "$file" | cut -c1-32)
echo "mb-md5 $ours, md5sum $theirs, openssl $ossl"
check "the three digests agree" test "$ours" = "$theirs" -a "$ours" = "$ossl"

# Rounds of a few runs each, so that load from other processes falls on all
# three programs alike rather than on whichever ran during a busy spell.
echo "== timing: $rounds rounds of $runs runs each (hyperfine)"
for ((i = 1; i <= rounds; i++)); do
  hyperfine -N --style none --warmup 1 --runs "$runs" --export-json "$work/round$i.json" \
    -n mb-md5 "$mbmd5 $file" -n "openssl md5" "openssl md5 $file" -n md5sum "md5sum $file"
done

rss_kb=$(/usr/bin/time -v "$mbmd5" "$file" 2>&1 >/dev/null |
  sed -n 's/.*Maximum resident set size (kbytes): //p')

python3 - "$work" "$rounds" "$size" "$rss_kb" <<'PY'
import json, statistics, sys
work, rounds, size, rss_kb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
wall, cpu = {}, {}
for i in range(1, rounds + 1):
    for r in json.load(open(f"{work}/round{i}.json"))["results"]:
        wall.setdefault(r["command"], []).extend(r["times"])
        cpu.setdefault(r["command"], []).append(r["user"] + r["system"])
names = ("mb-md5", "openssl md5", "md5sum")
stats = {n: (statistics.median(wall[n]), min(wall[n]), statistics.mean(cpu[n])) for n in names}
mbps = lambda s: f"{size / s / 1e6:.0f}"
print()
print(f"{len(wall['mb-md5'])} runs per program. Throughput in MB/s (10^6 bytes/s) from the")
print("wall-clock median, the wall-clock best, and the mean CPU time (user + sys).")
print("Ratios: mb-md5's throughput divided by the program's (> 1: mb-md5 is faster).")
print()
print("| program | median s | MB/s median | MB/s best | MB/s by CPU time "
      "| ratio median | ratio best | ratio CPU |")
print("|---|---|---|---|---|---|---|---|")
ours = stats["mb-md5"]
for n in names:
    s = stats[n]
    print(f"| {n} | {s[0]:.3f} | {mbps(s[0])} | {mbps(s[1])} | {mbps(s[2])} "
          f"| {s[0] / ours[0]:.3f} | {s[1] / ours[1]:.3f} | {s[2] / ours[2]:.3f} |")
print()
print(f"mb-md5 peak RSS: {rss_kb} KiB")
PY
finish_checks
