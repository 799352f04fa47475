#!/usr/bin/env python3
"""Where a program's memory goes at its peak: runs the command, reads
/proc/PID/smaps every 20 ms and prints the sample with the most resident
memory, grouped by what is mapped (a library, [heap], [anon] for the rest).

    bench/rss_breakdown.py build/bin/LumivaneCLI -c avc1 -o /tmp/a.mov demo.qtz
    bench/rss_breakdown.py ffmpeg -y -i 'frames/Image-%03d.png' -c:v libx264 /tmp/b.mov

Mesa's llvmpipe shows as libLLVM and swrast_dri.so; the encoders' buffers,
x264's lookahead among them, are in [anon] and [heap] with our own.
"""
import collections
import os
import subprocess
import sys
import time


def resident_by_mapping(pid):
    groups = collections.Counter()
    name = "[anon]"
    try:
        with open(f"/proc/{pid}/smaps") as smaps:
            for line in smaps:
                fields = line.split()
                if fields[0] == "Rss:":
                    groups[name] += int(fields[1])
                elif "-" in fields[0] and not fields[0].endswith(":"):
                    path = fields[5] if len(fields) > 5 else "[anon]"
                    name = os.path.basename(path) if path.startswith("/") else path
    except OSError:
        return None  # the process ended between two reads
    return groups


def main(command):
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak, peak_total = collections.Counter(), 0
    while child.poll() is None:
        sample = resident_by_mapping(child.pid)
        if sample and sum(sample.values()) > peak_total:
            peak, peak_total = sample, sum(sample.values())
        time.sleep(0.02)
    print(f"peak sampled resident {peak_total / 1024:.1f} MiB (exit status {child.returncode})")
    for name, kib in peak.most_common(12):
        print(f"  {kib / 1024:7.1f} MiB  {name}")
    return child.returncode


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
