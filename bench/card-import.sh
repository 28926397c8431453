#!/bin/bash
# "新しい画像を保管庫へコピー…" over a card behind tests/fs/delayfs.py: COUNT (500) camera JPEGs
# and PAIRS (20) RAW + JPEG pairs, at full speed and with every call of the file system waiting
# 20 ms and reads sharing a 10 MB/s link. For each: the first run (button to idle), the bytes
# read from the card per byte filed (from the file system's read log), the second run over the
# same card (everything in the vault), and the longest pause of the window's thread.
#
#     bench/card-import.sh [BUILD-DIR] [COUNT] [PAIRS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
count=${2:-500}
pairs=${3:-20}
cmake --build "$build" --target bench_cardimport zentovi-corpus >/dev/null
source "$here/bench/common.sh"
delayfs_work zentovi-cardimport
"$build/bench/zentovi-corpus" --import-card "$work/backing" "$count" "$pairs"
echo "card: $count JPEGs and $pairs RAW + JPEG pairs, $(du -sm "$work/backing" | cut -f1) MB"
mkdir "$work/card"
readbytes() { awk '{ s += $1 } END { printf "%d", s }' "$work/reads.log"; }
for speed in full delayed; do
    if [ "$speed" = full ]; then args=(--delay-ms 0); else args=(--delay-ms 20 --mb-per-s 10); fi
    : >"$work/reads.log"
    mount_delayfs "$work/backing" "$work/card" "${args[@]}" --read-log "$work/reads.log"
    rm -rf "$work/home"
    for run in first second; do
        before=$(readbytes)
        echo "== $speed speed, $run run; $(uptime)"
        # A crash on the way out still leaves the figures printed.
        status=0
        out=$(QT_QPA_PLATFORM=offscreen "$build/bench/bench_cardimport" "$work/card" "$work/home") || status=$?
        echo "$out"
        [ "$status" = 0 ] || echo "bench_cardimport ended with status $status"
        sleep 0.5 # the last closes reach the log
        read=$(( $(readbytes) - before ))
        filed=$(echo "$out" | sed -n 's/.*bytes_filed=\([0-9]*\).*/\1/p')
        if [ "${filed:-0}" -gt 0 ]; then
            awk -v r="$read" -v f="$filed" 'BEGIN { printf "read from the card: %d bytes, %.3f per byte filed\n", r, r / f }'
        else
            echo "read from the card: $read bytes"
        fi
    done
    stop_delayfs "$work/card"
done
uptime
