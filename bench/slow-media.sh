#!/bin/bash
# A camera's card of COUNT pictures (default 2,000) behind tests/fs/delayfs.py: every call of the
# file system waits 20 ms and reads share a 10 MB/s link. Browses DCIM/100CANON cold with
# zentovi-bench (stopped after STOP ms, default 20,000, as the whole card takes minutes) and
# prints the time to the first page, the longest pause of the window's thread and, from the
# file system's own log, the bytes read per file opened.
#
#     bench/slow-media.sh [BUILD-DIR] [COUNT] [STOP-MS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
count=${2:-2000}
stop=${3:-20000}
cmake --build "$build" --target zentovi-bench zentovi-corpus >/dev/null
source "$here/bench/common.sh"
delayfs_work zentovi-slowcard
"$build/bench/zentovi-corpus" --camera-card "$work/backing" "$count"
echo "card: $count pictures of $(stat -c %s "$work/backing/.pictures/0.jpg") bytes and so"
mkdir "$work/card"
mount_delayfs "$work/backing" "$work/card" --delay-ms 20 --mb-per-s 10 --read-log "$work/reads.log"
uptime
"$build/bench/zentovi-bench" --cold --no-kinds --no-preread --stop-after "$stop" "$work/card/DCIM/100CANON"
uptime
stop_delayfs "$work/card"
awk '{ n++; s += $1; if ($1 > most) most = $1 }
     END { if (n) printf "files read: %d, bytes read per file: mean %.0f (%.1f KiB), most %d (%.1f KiB)\n",
                         n, s / n, s / n / 1024, most, most / 1024 }' "$work/reads.log"
