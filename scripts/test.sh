#!/usr/bin/env bash
# Installs what the tests need, builds Zentovi with its tests and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTOVI_WERROR=ON
cmake --build build -j"$jobs"
for lang in ja_JP.UTF-8 C.UTF-8; do
  echo "== tests under LANG=$lang"
  (cd build && LANG=$lang LC_ALL=$lang ctest --output-on-failure -j"$jobs")
done
