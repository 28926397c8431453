#!/usr/bin/env bash
# Builds the HEIC benchmark folder in FOLDER (default /tmp/zentovi-heic): 100 HEIC photographs
# made with heif-enc from the benchmark corpus's photographs (Debian's wallpaper packages) at
# no more than a phone's 4032 x 3024, each with a 320-pixel thumbnail as phones write them. Each is shifted a little so no two
# files are the same. Also installs heif-thumbnailer, the peer zentovi-bench --heif-peer runs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-/tmp/zentovi-heic}
count=${COUNT:-100}
source bench/common.sh
install_packages lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 imagemagick libheif-examples heif-thumbnailer
build_targets zentovi-bench

mapfile -t photos < <(dpkg -L lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 | grep -iE '\.jpe?g$' | sort -u)
if [ ${#photos[@]} -eq 0 ]; then echo "no photographs found in the wallpaper packages" >&2; exit 1; fi

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_one() {
  local i=$1 src=$2
  local name; name=$(printf 'IMG_%04d' "$i")
  convert "$src" -resize '4032x3024>' -roll "+$((i * 7))+$((i * 3))" -quality 92 "$work/$name.jpg"
  # x265's fastest preset: a phone's hardware encoder is fast too, and the files decode alike.
  heif-enc -q 50 -t 320 -p preset=ultrafast -o "$out/$name.HEIC" "$work/$name.jpg" >/dev/null
  rm -f "$work/$name.jpg"
}
for i in $(seq 1 "$count"); do
  make_one "$i" "${photos[$(( i % ${#photos[@]} ))]}" &
  if (( i % $(nproc) == 0 )); then wait; fi
done
wait
echo "$(find "$out" -type f | wc -l) files, $(du -sm "$out" | cut -f1) MiB in $out"
