#!/usr/bin/env bash
# Installs the Debian 12 packages Zentovi needs. "run" gives what the program needs to
# build and run; "test" adds what the tests need.
set -euo pipefail
what=${1:-run}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps.sh: run as root or install sudo" >&2; exit 1; }
  SUDO=sudo
fi

run_pkgs=(
  cmake ninja-build make g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins qt6-translations-l10n
  libgif-dev libimagequant-dev libexif-dev libjpeg62-turbo-dev libpng-dev libgl-dev
  libheif-dev libjxl-dev libraw-dev libdeflate-dev zlib1g-dev libxlsxwriter-dev
  fonts-ipafont-gothic xdg-utils
  # removable media: GIO's volume monitor, and phones and cameras through GVfs's FUSE view
  libglib2.0-dev gvfs-backends gvfs-fuse
)
test_pkgs=(
  git clang-format
  xvfb xauth locales
  dpkg-dev file desktop-file-utils appstream x11-utils lintian
  clang libclang-rt-14-dev
  # real photographs for the GIF colour test, the same the benchmark corpus starts from
  lomiri-wallpapers-20.04
  libheif-examples libavif-bin libjxl-tools
  # the page count of the photo ledger's PDF
  poppler-utils unzip
  # disc images for the CD tab's test: built with genisoimage, mounted through FUSE
  genisoimage fuseiso
  # the slow network share of the filing tests (tests/fs/delayfs.py), a FUSE file system,
  # and the vault on sshfs to an SSH server the test starts on localhost
  python3-fusepy fuse3 sshfs openssh-server
  # a private message bus for the test of the mount request
  dbus-daemon
  # card images mounted through FUSE, and a real GVfs mount on a private session bus
  gvfs-backends gvfs-fuse gvfs-daemons mtools dosfstools exfatprogs exfat-fuse fusefat
)

pkgs=("${run_pkgs[@]}")
if [ "$what" = test ]; then pkgs+=("${test_pkgs[@]}"); fi

# LibreOffice Calc for the spreadsheet export, and its SDK to build the helper zentovi-calc.
# The program needs the desktop Calc: the flavour without a desktop part
# (libreoffice-calc-nogui) opens no window, so the program offers no export with it. The two
# conflict, and installing libreoffice-calc replaces the other. The tests drive Calc headless
# and pass with either; where neither is installed they take the smaller one.
pkgs+=(libreoffice-dev libreoffice-dev-common)
if [ "$what" = test ]; then
  if ! dpkg-query -W -f='${Status}\n' libreoffice-calc libreoffice-calc-nogui 2>/dev/null | grep -q "install ok installed"; then
    pkgs+=(libreoffice-calc-nogui)
  fi
else
  pkgs+=(libreoffice-calc)
fi

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  # A fresh machine has no package lists yet.
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$what" = test ]; then
  # Tests run under ja_JP.UTF-8 and C.UTF-8.
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
fi
