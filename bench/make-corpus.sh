#!/usr/bin/env bash
# Builds the benchmark corpus in FOLDER (default /tmp/zentovi-corpus): 19 real photographs
# from Debian's wallpaper packages, 200 camera-size JPEGs (60% with an EXIF thumbnail, 40%
# turned by EXIF orientation), 10 big 3:2 JPEGs with letterboxed 4:3 thumbnails, 21 RGBA PNGs,
# 11 GIFs and 8 broken files: 269 files.
# With --wallpapers, a folder shaped like a wallpaper or screenshot folder instead (default
# /tmp/zentovi-wallpapers): 57 large PNGs (RGB and RGBA, 2560 x 1440 to 5120 x 2880) and 57
# large JPEGs without EXIF thumbnails (19 progressive), all made from the same photographs.
# With --real-wallpapers [FOLDER] (default /tmp/zentovi-real-wallpapers), real wallpapers as the
# packages ship them: every PNG over 2 MB of Debian's plasma-workspace-wallpapers and
# mate-backgrounds, and as many JPEGs, the largest of those two and the lomiri wallpapers.
# With --links N CORPUS [FOLDER], a folder of N hard links (IMG_000000.jpg, ...) to the camera
# JPEGs of CORPUS that carry an EXIF thumbnail (default /tmp/zentovi-links-N), for the very
# large folders.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --links ]; then
  n=$2 corpus=$3 out=${4:-/tmp/zentovi-links-$2}
  mapfile -t cams < <(ls "$corpus"/camera-*.jpg | awk -F'camera-' '{ k = $2 + 0; if ((k - 1) % 5 < 3) print }')
  if [ ${#cams[@]} -eq 0 ]; then echo "no camera JPEGs in $corpus" >&2; exit 1; fi
  mkdir -p "$out"
  for ((i = 0; i < n; i++)); do
    f=$(printf '%s/IMG_%06d.jpg' "$out" "$i")
    [ -e "$f" ] || ln "${cams[$((i % ${#cams[@]}))]}" "$f"
  done
  echo "$n links to ${#cams[@]} camera JPEGs in $out"
  exit 0
fi
if [ "${1:-}" = --real-wallpapers ]; then
  out=${2:-/tmp/zentovi-real-wallpapers}
  source bench/common.sh
  install_packages plasma-workspace-wallpapers mate-backgrounds lomiri-wallpapers-16.04 \
    lomiri-wallpapers-20.04 libvips-tools
  build_targets zentovi-bench
  files=$(dpkg -L plasma-workspace-wallpapers mate-backgrounds lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 | sort -u)
  # One name per file: the wallpaper's folder and its size both name it.
  name_of() { echo "$1" | sed -e 's|^/usr/share/||' -e 's|/contents/images|-|' -e 's|/|-|g'; }
  rm -rf "$out"
  mkdir -p "$out"
  n=0
  while read -r f; do
    [ -f "$f" ] && [ "$(stat -c %s "$f")" -gt 2000000 ] || continue
    cp "$f" "$out/$(name_of "$f")"
    n=$((n + 1))
  done < <(grep -iE '\.png$' <<< "$files")
  grep -iE '\.jpe?g$' <<< "$files" | xargs -d '\n' stat -c '%s %n' | sort -rn | head -n "$n" |
    while read -r _ f; do cp "$f" "$out/$(name_of "$f")"; done
  echo "$n PNGs and $(ls "$out" | grep -ciE '\.jpe?g$') JPEGs, $(du -sm "$out" | cut -f1) MiB in $out"
  exit 0
fi
wallpapers=0
if [ "${1:-}" = --wallpapers ]; then wallpapers=1; shift; fi
if [ $wallpapers = 1 ]; then out=${1:-/tmp/zentovi-wallpapers}; else out=${1:-/tmp/zentovi-corpus}; fi
source bench/common.sh
install_packages lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 imagemagick libvips-tools
build_targets zentovi-corpus zentovi-bench

mapfile -t photos < <(dpkg -L lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 | grep -iE '\.jpe?g$' | sort -u)
if [ ${#photos[@]} -eq 0 ]; then echo "no photographs found in the wallpaper packages" >&2; exit 1; fi

rm -rf "$out"
mkdir -p "$out"
if [ $wallpapers = 1 ]; then
  "$build/bench/zentovi-corpus" --wallpapers "$out" "${photos[@]}"
  echo "$(find "$out" -type f | wc -l) files, $(du -sm "$out" | cut -f1) MiB in $out"
  exit 0
fi
for p in "${photos[@]}"; do cp "$p" "$out/photo-$(basename "$p")"; done
"$build/bench/zentovi-corpus" "$out" "${photos[@]}"
for i in $(seq 1 11); do
  src=${photos[$(( (i * 5) % ${#photos[@]} ))]}
  convert "$src" -resize 1024x768 -colors 256 "$out/$(printf 'anim-%02d.gif' "$i")"
done
echo "$(find "$out" -type f | wc -l) files, $(du -sm "$out" | cut -f1) MiB in $out"
