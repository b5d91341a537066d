#!/usr/bin/env bash
# Fails when a folder includes from a folder that comes after it in the
# README's layout table (the table lists the layers from the bottom up), and
# when the emulator uses more of the program than the frame helpers.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each folder of the table's first column, with its row number.
declare -A rank
row=0
while IFS= read -r line; do
  row=$((row + 1))
  first_cell=$(cut -d'|' -f2 <<<"$line")
  for folder in $(grep -o '`[^`]*/`' <<<"$first_cell" | tr -d '`'); do
    rank[$folder]=$row
  done
done < <(awk '/^## Layout/ {on = 1; next} on && /^## / {exit} on && /^\| `/' README.md)
if [ ${#rank[@]} -eq 0 ]; then
  echo "check-layers: no layout table found in README.md" >&2
  exit 1
fi

failures=0
fail() {
  echo "check-layers: $1" >&2
  failures=$((failures + 1))
}

for folder in "${!rank[@]}"; do
  case "$folder" in tests/ | bench/) continue ;; esac
  [ -d "$folder" ] || { fail "$folder is in the layout table but does not exist"; continue; }
  while IFS=: read -r file line target; do
    used="${target%%/*}"
    # Includes are written from src/ ("protocol/Frame.h"); other words are local.
    [ -n "${rank[src/$used/]:-}" ] || continue
    if [ "${rank[src/$used/]}" -gt "${rank[$folder]}" ]; then
      fail "$file:$line includes $target, but src/$used/ comes after $folder in the layout table"
    fi
    if [ "$folder" = tools/devsim/ ] && [ "$used" != toolkit ] && [ "$target" != protocol/Frame.h ]; then
      fail "$file:$line includes $target; the emulator may use only toolkit/ and protocol/Frame.h"
    fi
  done < <(grep -rnoE '^#include "[^"]+"' "$folder" --include='*.cpp' --include='*.h' |
             sed -E 's/:#include "([^"]+)"$/:\1/')
done

# Every source folder must have its row, so that a new folder is placed deliberately.
for dir in src/*/ tools/*/; do
  [ -n "${rank[$dir]:-}" ] || fail "$dir has no row in the README's layout table"
done

[ "$failures" -eq 0 ] || exit 1
echo "check-layers: every include points down the layout table"
