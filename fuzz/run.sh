#!/usr/bin/env bash
# Builds the picture fuzz target with clang and libFuzzer and runs it.
#   fuzz/run.sh                 run until stopped (Ctrl-C)
#   fuzz/run.sh --time 600      run for 600 seconds
#   fuzz/run.sh --runs 20000    a fixed number of inputs
#   fuzz/run.sh --runs 20000 --time 120   whichever ends first (what the test script does)
# Findings are written to build-fuzz/findings/; keep each fixed one in fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
limit=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) limit+=(-max_total_time="${2:?seconds}"); shift 2 ;;
    --runs) limit+=(-runs="${2:?count}"); shift 2 ;;
    *) echo "usage: fuzz/run.sh [--time SECONDS] [--runs COUNT]" >&2; exit 2 ;;
  esac
done
build=${FUZZ_BUILD_DIR:-build-fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
"$build/make_seeds" "$build/seeds" >/dev/null
# HEIC (with a thumbnail), AVIF and JPEG XL seeds from Debian's encoders (the test packages).
for tool in heif-enc avifenc cjxl; do
  command -v "$tool" >/dev/null || { echo "fuzz/run.sh: $tool missing (scripts/install-deps.sh test)" >&2; exit 1; }
done
heif-enc -q 50 -t 8 -o "$build/seeds/seed.heic" "$build/seeds/seed.png" >/dev/null
avifenc -s 10 "$build/seeds/seed.png" "$build/seeds/seed.avif" >/dev/null
cjxl "$build/seeds/seed.png" "$build/seeds/seed.jxl" >/dev/null 2>&1
mkdir -p "$build/corpus" "$build/findings"
# The fuzz target's own settings, whatever the caller's sanitizer run exported.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
unset LSAN_OPTIONS
export QT_LOGGING_RULES="*.debug=false;*.warning=false"
# Known crashers first: each must now pass.
if compgen -G "fuzz/regressions/*" >/dev/null; then
  "$build/fuzz_picture" -rss_limit_mb=2048 fuzz/regressions/*
fi
exec "$build/fuzz_picture" -rss_limit_mb=2048 -max_len=65536 -timeout=10 \
  -artifact_prefix="$build/findings/" "${limit[@]}" "$build/corpus" "$build/seeds"
