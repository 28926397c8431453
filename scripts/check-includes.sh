#!/usr/bin/env bash
# Fails when a file under src/ includes one from a layer above its own. Each folder names
# the folders it may include from; quoted includes without a folder stay in their own.
set -euo pipefail
cd "$(dirname "$0")/../src"
declare -A allowed=(
  [platform]="platform"
  [values]="values platform"
  [imaging]="imaging platform"
  [widgets]="widgets values imaging platform"
  [display]="display widgets values imaging platform"
  [filing]="filing display widgets values imaging platform"
  [capture]="capture display widgets values imaging platform"
  [export]="export display widgets values imaging platform"
  [mainwindow]="mainwindow filing capture export display widgets values imaging platform"
  [app]="app mainwindow filing capture export display widgets values imaging platform"
)
status=0
for dir in */; do
  dir=${dir%/}
  if [ -z "${allowed[$dir]+set}" ]; then
    echo "src/$dir: a folder the layer list does not name" >&2
    status=1
    continue
  fi
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"/]*)\/.*/\1/' <<<"$text")
    if [[ " ${allowed[$dir]} " != *" $target "* ]]; then
      echo "src/$file:$line: includes from $target, above $dir" >&2
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*/' "$dir" || true)
done
exit $status
