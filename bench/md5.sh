#!/usr/bin/env bash
# Times mb-md5 against `openssl md5` and `md5sum` on a 1 GiB file held in the
# page cache, and reports throughput, the ratios and mb-md5's peak RSS.
# Usage: bench/md5.sh [BUILD_DIR]   (default: a temporary build, -O2)
# Needs: cmake, ninja, g++, libbenchmark-dev, hyperfine, openssl, python3,
# and GNU time (/usr/bin/time, Debian package "time").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/mb-md5-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
build=${1:-$work/build}
runs=${MB_BENCH_RUNS:-10}

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
[[ $ours == "$theirs" && $ours == "$ossl" ]] || { echo "DIGESTS DIFFER" >&2; exit 1; }

echo "== timing ($runs runs each)"
hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/times.json" \
  -n mb-md5 "$mbmd5 $file" -n "openssl md5" "openssl md5 $file" -n md5sum "md5sum $file"

rss_kb=$(/usr/bin/time -v "$mbmd5" "$file" 2>&1 >/dev/null |
  sed -n 's/.*Maximum resident set size (kbytes): //p')

python3 - "$work/times.json" "$size" "$rss_kb" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
size, rss_kb = int(sys.argv[2]), int(sys.argv[3])
t = {r["command"]: r for r in results}
ours = t["mb-md5"]
def mbps(seconds):
    return f"{size / seconds / 1e6:.0f}"
def cpu(r):
    return r["user"] + r["system"]
print()
print("Throughput in MB/s (10^6 bytes/s): wall-clock mean, wall-clock best, CPU time (user+sys) mean.")
print("Ratio: mb-md5's throughput divided by the program's (> 1: mb-md5 is faster).")
print()
print("| program | wall mean s | MB/s mean | MB/s best | MB/s by CPU time | ratio mean | ratio best | ratio CPU |")
print("|---|---|---|---|---|---|---|---|")
for name in ("mb-md5", "openssl md5", "md5sum"):
    r = t[name]
    print(f"| {name} | {r['mean']:.3f} | {mbps(r['mean'])} | {mbps(r['min'])} | {mbps(cpu(r))} "
          f"| {r['mean'] / ours['mean']:.3f} | {r['min'] / ours['min']:.3f} "
          f"| {cpu(r) / cpu(ours):.3f} |")
print()
print(f"mb-md5 peak RSS: {rss_kb} KiB")
PY
