#!/usr/bin/env bash
# Builds the Debian package from an existing build folder, checks it with lintian, installs
# it, validates the installed desktop entry and metainfo, starts the installed program under
# Xvfb through its launcher with a fresh home, checks that the main window appears and stays,
# then removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
title="ゼントヴィVer1.0"
app_id=org.zentovi.zentovi

# The helper and template paths are compiled in: the package must be built for /usr.
if ! grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$build/CMakeCache.txt"; then
  cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
fi
rm -f "$build"/zentovi_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/zentovi_*.deb)
echo "== package $(basename "$deb")"

# Debian's checker: no error and no warning, unless the package overrides it with a written
# reason (a comment right above the override, or above the group of overrides it starts).
shipped=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/lintian/overrides/zentovi 2>/dev/null || true)
if [ -n "$shipped" ]; then
  printf '%s\n' "$shipped" | awk '
    /^[[:space:]]*$/ { why = 0; next }
    /^[[:space:]]*#/ { why = 1; next }
    !why { print "lintian override without a reason: " $0 > "/dev/stderr"; bad = 1 }
    END { exit bad }'
fi
lintian --fail-on error,warning --tag-display-limit 0 "$deb"

work=$(mktemp -d)
cleanup() {
  $SUDO dpkg -r zentovi >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Recommends (LibreOffice) stay out: the program must run without them.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "$(realpath "$deb")" >/dev/null
dpkg-query -W -f='${Status}\n' zentovi | grep -q "install ok installed"

desktop-file-validate "/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net --pedantic "/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null
test -f /usr/share/icons/hicolor/scalable/apps/zentovi.svg
test -x /usr/libexec/zentovi/zentovi-calc || [ ! -e "$build/src/zentovi-calc" ]
test -f /usr/share/zentovi/Pastetemp.xls
# The program itself, without the field code (%f) the desktop fills with a card's place.
exec_cmd=$(sed -n 's/^Exec=//p' "/usr/share/applications/$app_id.desktop" | awk '{print $1}')
command -v "$exec_cmd" >/dev/null

# The window must show up and the program must still run 3 s later.
mkdir -p "$work/home"
cat > "$work/smoke.sh" <<'SMOKE'
#!/bin/sh
title=$1
HOME=$2 QT_QPA_PLATFORM=xcb "$3" >"$4/app.log" 2>&1 &
pid=$!
i=0
until xwininfo -root -tree | grep -qF "\"$title\""; do
  i=$((i + 1))
  if [ "$i" -gt 600 ] || ! kill -0 "$pid" 2>/dev/null; then
    echo "no window \"$title\"" >&2; cat "$4/app.log" >&2; kill "$pid" 2>/dev/null; exit 1
  fi
  sleep 0.1
done
# The menu entry names the window class the desktop matches the window by.
if ! xwininfo -root -tree | grep -F "\"$title\"" | grep -qF "(\"$5\" "; then
  echo "the window's class is not \"$5\"" >&2; kill "$pid"; exit 1
fi
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then echo "the program ended early" >&2; cat "$4/app.log" >&2; exit 1; fi
kill "$pid"
wait "$pid" 2>/dev/null || true
SMOKE
wm_class=$(sed -n 's/^StartupWMClass=//p' "/usr/share/applications/$app_id.desktop")
xvfb-run -a -s "-screen 0 1280x1024x24" sh "$work/smoke.sh" "$title" "$work/home" "$exec_cmd" "$work" "$wm_class"
for area in "ストックヤード" "保管庫"; do
  test -d "$work/home/My Documents/ZTV_DATA/$area"
done

$SUDO dpkg -r zentovi >/dev/null
if dpkg-query -W -f='${Status}\n' zentovi 2>/dev/null | grep -q "install ok installed" \
  || [ -e /usr/bin/zentovi ]; then
  echo "the package did not go away" >&2; exit 1
fi
echo "== package test passed"
