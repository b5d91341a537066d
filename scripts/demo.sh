#!/usr/bin/env bash
# The main job on an emulated device: starts tolm-devsim as a first-generation
# scanner on a pseudo-terminal, generates a firmware file for it, and upgrades
# it with tolm-upgrade-cli (progress on stderr, result line on stdout).
# With a display and TOLM_DEMO_WINDOW=1, the desktop window opens instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${TOLM_BUILD_DIR:-build}"
devsim="$bin/tools/devsim/tolm-devsim"
cli="$bin/src/cli/tolm-upgrade-cli"

work=$(mktemp -d)
device_pid=""
cleanup() {
  [ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null && wait "$device_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export TOLM_PORT_DIR="$work/ports"
mkdir -p "$TOLM_PORT_DIR"

"$devsim" gen scanner-fw --out "$work/scanner.bin" --set model=LB1Y --set kernel=1
"$devsim" run scanner --link "$TOLM_PORT_DIR/COM3" --image-out "$work/flash.bin" --set model=LB1Y --set kernel=1 \
  > "$work/device.out" &
device_pid=$!
for _ in $(seq 50); do grep -q '^PTY ' "$work/device.out" 2>/dev/null && break; sleep 0.1; done
echo "emulated scanner on $(sed -n 's/^PTY //p' "$work/device.out"), linked as COM3" >&2

if [ "${TOLM_DEMO_WINDOW:-0}" = "1" ] && [ -n "${DISPLAY:-}" ] && [ -x "$bin/src/gui/tolm-upgrade" ]; then
  echo "choose $work/scanner.bin in the dialog and Com3 in the list, then press Upgrade" >&2
  "$bin/src/gui/tolm-upgrade"
  exit 0
fi

set +e
"$cli" upgrade --port COM3 --log "$work/DUMMY.TXT" "$work/scanner.bin"
status=$?
set -e
kill "$device_pid"; wait "$device_pid" 2>/dev/null || true; device_pid=""
if [ "$status" -eq 0 ] && cmp -s <(head -c 262144 "$work/scanner.bin" | perl -pe 's/(.)/chr((ord($1)-10)%256)/ges') "$work/flash.bin"; then
  echo "the emulated scanner's flash now holds the firmware image" >&2
fi
exit "$status"
