#!/usr/bin/env bash
# Fails when a folder includes from a folder that comes after it in
# docs/layers.txt (the layers from the bottom up, one line each), and when the
# emulator uses more of the program than the frame helpers.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=docs/layers.txt

# Each folder of a layer's line (the words ending in "/" before any "--"),
# with the layer's rank.
declare -A rank
row=0
while IFS= read -r line; do
  line="${line%%--*}"
  [ -n "${line// /}" ] || continue
  row=$((row + 1))
  for folder in $line; do
    [[ "$folder" == */ ]] || { echo "check-layers: $layers: '$folder' is not a folder (ends in /)" >&2; exit 1; }
    rank[$folder]=$row
  done
done < <(grep -v '^[[:space:]]*#' "$layers")
if [ ${#rank[@]} -eq 0 ]; then
  echo "check-layers: no layers found in $layers" >&2
  exit 1
fi

failures=0
fail() {
  echo "check-layers: $1" >&2
  failures=$((failures + 1))
}

for folder in "${!rank[@]}"; do
  case "$folder" in tests/ | bench/) continue ;; esac
  [ -d "$folder" ] || { fail "$folder is in $layers but does not exist"; continue; }
  while IFS=: read -r file line target; do
    used="${target%%/*}"
    # Includes are written from src/ ("protocol/Frame.h"); other words are local.
    [ -n "${rank[src/$used/]:-}" ] || continue
    if [ "${rank[src/$used/]}" -gt "${rank[$folder]}" ]; then
      fail "$file:$line includes $target, but src/$used/ comes after $folder in $layers"
    fi
    if [ "$folder" = tools/devsim/ ] && [ "$used" != toolkit ] && [ "$target" != protocol/Frame.h ]; then
      fail "$file:$line includes $target; the emulator may use only toolkit/ and protocol/Frame.h"
    fi
  done < <(grep -rnoE '^#include "[^"]+"' "$folder" --include='*.cpp' --include='*.h' |
             sed -E 's/:#include "([^"]+)"$/:\1/')
done

# Every source folder must have its line, so that a new folder is placed deliberately.
for dir in src/*/ tools/*/; do
  [ -n "${rank[$dir]:-}" ] || fail "$dir has no line in $layers"
done

[ "$failures" -eq 0 ] || exit 1
echo "check-layers: every include points down the layers of $layers"
