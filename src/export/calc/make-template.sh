#!/usr/bin/env bash
# Regenerates Pastetemp.xls from Module1.bas with a private, headless office:
#   src/export/calc/make-template.sh build/src/zentovi-calc
# The result is an ODF spreadsheet under the .xls name: only ODF keeps Basic modules, and
# LibreOffice detects the format from the content.
set -euo pipefail
helper=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The helper finds the office's libraries through the loader's path, as the program gives it.
LD_LIBRARY_PATH=/usr/lib/libreoffice/program${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
  "$helper" --headless --terminate --profile "$work/profile" --deadline 60 \
  --make-template "$here/Module1.bas" "$work/Pastetemp.xls"
cp "$work/Pastetemp.xls" "$here/Pastetemp.xls"
echo "wrote $here/Pastetemp.xls ($(stat -c %s "$here/Pastetemp.xls") bytes)"
