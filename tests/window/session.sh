#!/usr/bin/env bash
# Runs inside the virtual X server started by tests/window/run.sh.
set -uo pipefail
app="$TOLM_WINDOW_APP"; devsim="$TOLM_WINDOW_DEVSIM"; helper="$TOLM_WINDOW_HELPER"
py=/usr/bin/python3  # the system's interpreter, where python3-xlib is installed
work="$(mktemp -d)"
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
sleep 1
failures=0
fail() {
  echo "window: $case: $*" >&2
  failures=$((failures + 1))
  for f in app.out devsim.out; do [ -s "$work/$case/$f" ] && sed "s/^/  $f: /" "$work/$case/$f" | tail -5 >&2; done
  return 0
}

# True when the first N bytes of FLASH are the file's bytes [FROM, FROM+N) minus 10.
flash_matches() {  # FILE FLASH FROM N [FLASH_AT]
  "$py" - "$@" <<'PY'
import sys
path, flash, start, n = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
at = int(sys.argv[5]) if len(sys.argv) > 5 else 0
data = open(path, "rb").read()[start:start + n]
image = open(flash, "rb").read()[at:at + n]
sys.exit(0 if image == bytes((b - 10) & 0xFF for b in data) else 1)
PY
}

wait_for() {  # SECONDS COMMAND...: polls every 0.1 s
  local until=$((SECONDS + $1)); shift
  while ! "$@"; do [ $SECONDS -ge $until ] && return 1; sleep 0.1; done
}
lines_in() { [ -f "$1" ] && [ "$(wc -l < "$1")" -ge "$2" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }

# run_case NAME DEVICE FIRMWARE IMAGES [--set KEY=VALUE...]: one session of the window.
run_case() {
  case="$1"; local device="$2" firmware="$3" images="$4"; shift 4
  local dir="$work/$case"; mkdir -p "$dir/ports"
  export TOLM_PORT_DIR="$dir/ports" XDG_STATE_HOME="$dir"
  "$devsim" run "$device" --link "$dir/ports/COM1" --image-out "$dir/flash" --transfer-log "$dir/transfers" \
    --baud-emulation "$@" >"$dir/devsim.out" 2>&1 &
  local dev=$!; pids+=("$dev")
  wait_for 10 test -e "$dir/ports/COM1" || { fail "the emulator did not start"; return; }

  TOLM_UPGRADE_OPEN_FILE="$firmware" "$app" >"$dir/app.out" 2>&1 &
  local pid=$!; pids+=("$pid")
  local wid
  wid=$(timeout 20 xdotool search --sync --name '^Tolm Upgrade Tools') || { fail "no window"; return; }
  wid=$(head -1 <<<"$wid")
  sleep 1.5  # the first activation checks the file and selects Com1
  xdotool windowactivate --sync "$wid" 2>/dev/null || true
  local started=$SECONDS
  xdotool mousemove --window "$wid" 354 40 click 1          # Upgrade
  sleep 0.7                                                  # the transfer is under way

  "$py" "$helper" ping "$wid" 2.5 1.0 >"$dir/ping" 2>&1 &
  local pinger=$!
  xdotool mousemove --window "$wid" 354 40 click 1          # on the picture panel that covers the button
  xdotool key --window "$wid" --clearmodifiers space Return  # the button still has the focus
  xdotool key space Return
  sleep 0.5
  "$py" "$helper" close "$wid"
  local box
  if box=$(timeout 5 xdotool search --sync --onlyvisible --name '^Tolm Upgrade$'); then
    box=$(head -1 <<<"$box")
    xdotool windowactivate --sync "$box" 2>/dev/null || true
    xdotool key --window "$box" Escape                       # No
    sleep 0.3
    xdotool search --onlyvisible --name '^Tolm Upgrade$' >/dev/null 2>&1 && xdotool key Escape
  else
    fail "a close request during the transfer did not ask"
  fi
  wait "$pinger" || fail "the window did not answer a ping within 1 s: $(cat "$dir/ping")"
  echo "window: $case: $(cat "$dir/ping")"
  gone "$pid" && { fail "the window closed although the answer was no"; return; }

  wait_for 90 lines_in "$dir/transfers" "$images" || fail "the transfer did not complete"
  echo "window: $case: transfer done in $((SECONDS - started)) s"
  # A press replayed after the transfer would start another one now; the
  # close request would then ask instead of closing.
  sleep 2
  "$py" "$helper" close "$wid"
  wait_for 10 gone "$pid" || fail "the window did not close after the transfer (another transfer running?)"
  kill "$dev"; wait "$dev" 2>/dev/null
  local count; count=$(wc -l < "$dir/transfers" 2>/dev/null || echo 0)
  [ "$count" -eq "$images" ] || fail "the device received $count images, expected $images"
  case "$case" in
    scanner) flash_matches "$firmware" "$dir/flash" 0 262144 || fail "the flash differs from the file" ;;
    quorin) flash_matches "$firmware" "$dir/flash" 0 560128 || fail "the flash differs from the file" ;;
    dock)
      flash_matches "$firmware" "$dir/flash" 0 262144 || fail "the scanner's flash differs from the file"
      flash_matches "$firmware" "$dir/flash" 263168 262144 262144 || fail "the dock's flash differs from the file" ;;
  esac
}

gen() { "$devsim" gen "$@" >/dev/null || { echo "window: tolm-devsim gen $* failed" >&2; exit 1; }; }
# Mostly blank scanner images: blank blocks are skipped, so those transfers are
# short; a Quorin transfer always sends every packet (about 50 s at line speed).
gen scanner-fw --out "$work/lb1y.bin" --set blank=1-230
gen quorin-firmware --out "$work/qr.bin"
gen tid-fw --out "$work/pair.bin" --set images=2 --set blank=1-200 --set dock-blank=1-200

cases="${TOLM_WINDOW_CASES:-scanner quorin dock}"
[[ " $cases " == *" scanner "* ]] && run_case scanner scanner "$work/lb1y.bin" 1 --set model=LB1Y
[[ " $cases " == *" quorin "* ]] && run_case quorin quorin "$work/qr.bin" 1 --set announce-ms=200
[[ " $cases " == *" dock "* ]] && run_case dock tid-pair "$work/pair.bin" 2
[ "$failures" -eq 0 ] || exit 1
echo "window: every session passed"
