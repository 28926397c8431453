# Shared steps of the benchmark scripts; sourced, from the project's root.

# install_packages PKG...: installs the Debian packages that are missing.
install_packages() {
  local sudo="" missing=() p
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq || true
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# build_targets TARGET...: configures $BUILD_DIR (default build) when needed and builds them.
build_targets() {
  build=${BUILD_DIR:-build}
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" --target "$@" -j"$(nproc)"
}
