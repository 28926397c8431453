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

# mount_delayfs BACKING MOUNT ARGS...: BACKING shown at MOUNT through tests/fs/delayfs.py with
# ARGS (its delays, its read log); its pid in fs_pid. Fails when it did not mount within 30 s.
mount_delayfs() {
  local backing=$1 mount=$2
  shift 2
  /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/../tests/fs/delayfs.py" "$backing" "$mount" "$@" &
  fs_pid=$!
  for _ in $(seq 300); do mountpoint -q "$mount" && break; sleep 0.1; done
  mountpoint -q "$mount" || { echo "the slow file system did not mount" >&2; return 1; }
}

# delayfs_work NAME: a new folder $work (/tmp/NAME.XXXXXX) for a card behind delayfs at
# $work/card, the file system stopped and the folder removed when the script exits.
delayfs_work() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  fs_pid=
  trap 'stop_delayfs "$work/card"; rm -rf "$work"' EXIT
}

# stop_delayfs MOUNT: stops the file system mount_delayfs started and takes MOUNT down.
stop_delayfs() {
  if [ -n "${fs_pid:-}" ]; then
    kill "$fs_pid" 2>/dev/null || true
    wait "$fs_pid" 2>/dev/null || true
    fs_pid=
  fi
  if mountpoint -q "$1"; then fusermount -u -z "$1"; fi
}
