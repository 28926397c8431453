#!/usr/bin/env bash
# Installs what the tests need, builds Zentovi with its tests and runs them all: a build
# with warnings as errors under two locales, then a second build with the address and
# undefined-behaviour sanitizers (ZENTOVI_SANITIZE_RUN=0 leaves that one out).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
jobs=$(nproc)
start=$SECONDS
step() { echo "== $* [$((SECONDS - start)) s]"; }

# build DIR [CMAKE OPTIONS...]: configures (Ninja for a new folder) and builds.
build() {
  local dir=$1
  shift
  local gen=()
  [ -f "$dir/CMakeCache.txt" ] || gen=(-G Ninja)
  cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTOVI_WERROR=ON -DZENTOVI_TESTS=ON "$@"
  cmake --build "$dir" -j"$jobs"
}
# run_tests DIR LANG: the whole suite in that locale.
run_tests() {
  (cd "$1" && LANG=$2 LC_ALL=$2 LANGUAGE= ctest --output-on-failure -j"$jobs")
}

step "source formatting"
# Every tracked C++ file as the project's .clang-format lays it out; the names of those that
# differ are printed with the first differences.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
step "includes point down the layers"; bash scripts/check-includes.sh

step "build"
build build -DCMAKE_INSTALL_PREFIX=/usr
for lang in ja_JP.UTF-8 C.UTF-8; do
  step "tests under LANG=$lang"
  run_tests build "$lang"
done

# Further checks, one line each.
step "Debian package"; bash scripts/package-test.sh build

if [ "${ZENTOVI_SANITIZE_RUN:-1}" != 0 ]; then
  step "sanitizer build"
  # -O1 with line tables only: faster to build, and the reports still name file and line. The
  # benchmarks are not run there.
  build build-asan -DZENTOVI_SANITIZE=ON -DZENTOVI_BENCH=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
  # Any report ends the test that made it, so ctest fails. An allocation the memory limit
  # refuses gives null, as the C library's does: the decoders check for it and fall back.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:allocator_may_return_null=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  step "sanitizer tests under LANG=ja_JP.UTF-8"
  run_tests build-asan ja_JP.UTF-8
fi
step "short fuzz run of the picture readers" && bash fuzz/run.sh --runs 20000 --time 120
step "all tests passed"
