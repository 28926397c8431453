#!/usr/bin/env bash
# Installs what Zentovi needs, builds it, installs the storage root when it is missing and
# starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
gen=()
[ -f build/CMakeCache.txt ] || gen=(-G Ninja)
cmake -S . -B build "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTOVI_TESTS=OFF
cmake --build build -j"$(nproc)"
root="$HOME/My Documents/ZTV_DATA"
for area in "ストックヤード" "保管庫"; do
  [ -d "$root/$area" ] || mkdir -p "$root/$area"
done
exec ./build/src/zentovi
