#!/usr/bin/env python3
"""Runs a command and prints the most private memory it held, in KiB.

Private memory is RssAnon from /proc/PID/status: heap, stacks and other
anonymous pages - what the program itself allocates. Peak RSS also counts
the program and shared libraries mapped from disk (libcurl, OpenSSL...),
which do not grow with the work. Sampled every 5 ms while the command runs;
its output goes to /dev/null. Usage: peak_private.py CMD [ARGS...]
"""
import re
import subprocess
import sys
import time


def rss_anon(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            m = re.search(r"^RssAnon:\s+(\d+) kB", f.read(), re.M)
            return int(m.group(1)) if m else 0
    except OSError:
        return 0


proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
peak = 0
while proc.poll() is None:
    peak = max(peak, rss_anon(proc.pid))
    time.sleep(0.005)
if proc.returncode != 0:
    sys.exit(f"{sys.argv[1]} failed with status {proc.returncode}")
print(peak)
