#!/usr/bin/env bash
# Runs inside the virtual X server started by tests/windows/window.sh.
set -uo pipefail
setup=$1 newer_setup=$2 windowlist=$3 devsim=$4 shots=$5
helper="$TOLM_WINDOW_HELPER"
py=/usr/bin/python3  # the system's interpreter, where python3-xlib is installed
caption='Tolm Upgrade Tools...[3.4.8]'
work="$(mktemp -d)"
# Wine's own diagnostics (a wine server prints to the stderr of whichever
# command started it) go to a log of their own; the test's findings to fd 3.
exec 3>&2 2>>"$work/wine.log"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LC_ALL=C.UTF-8
# No menu entries or file associations of the test prefix on this machine's
# desktop; no .NET or browser engine to install.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  wineserver -k 2>/dev/null
  kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
case=setup
fail() {
  echo "windows window: $case: $*" >&3
  failures=$((failures + 1))
  for f in app.out devsim.out; do [ -s "$work/$case/$f" ] && sed "s/^/  $f: /" "$work/$case/$f" | tail -5 >&3; done
  return 0
}
wait_for() {  # SECONDS COMMAND...: polls every 0.1 s
  local until=$((SECONDS + $1)); shift
  while ! "$@"; do [ $SECONDS -ge $until ] && return 1; sleep 0.1; done
}
lines_in() { [ -f "$1" ] && [ "$(wc -l < "$1")" -ge "$2" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# True when the first N bytes of FLASH are the file's bytes [FROM, FROM+N) minus 10.
flash_matches() {  # FILE FLASH FROM N
  "$py" - "$@" <<'PY'
import sys
path, flash, start, n = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
data = open(path, "rb").read()[start:start + n]
image = open(flash, "rb").read()[:n]
sys.exit(0 if image == bytes((b - 10) & 0xFF for b in data) else 1)
PY
}

# ---------------------------------------------------------------- controls

# Lists the window's controls into $work/controls (windowlist.exe's lines).
list_controls() {  # [TITLE]
  wine "$windowlist" controls "${1:-$caption}" 5 2>/dev/null | tr -d '\r' >"$work/controls"
  [ -s "$work/controls" ]
}
# The line of the control with that id (ids follow the form's table: the
# window's own widgets are numbered from 3000 in the order they are made).
control() { awk -F'\t' -v id="$1" '$2 == id' "$work/controls"; }
field() { control "$1" | cut -f"$2"; }  # ID FIELD: 3 class, 4 visible, 5-8 rect, 9 text, 10 selected, 11 items, 12 item height
centre() {  # ID: "x y" of the control's centre on the screen
  control "$1" | awk -F'\t' '{ printf "%d %d\n", ($5 + $7) / 2, ($6 + $8) / 2 }'
}
# The ids of the widgets (Formcontrols.cpp).
PATH_ID=3001 ERROR_ID=3003 UPGRADE_ID=3006 COMLIST_ID=3007 PICTURES_ID=3008
result_line() { list_controls && field $ERROR_ID 9; }
picture_shown() {  # the picture panel lies over the button while an upgrade runs
  list_controls || return 1
  [ "$(field $PICTURES_ID 5)" -lt "$(field $UPGRADE_ID 7)" ]
}

# True when the controls lie where the form places them, scaled by DPI/96:
# each place is its parent's scaled place plus its own scaled offset. A
# drop-down list, and the result line, are as high as their font needs,
# which may be a little more.
layout_is() {  # DPI
  "$py" - "$work/controls" "$1" <<'PY'
import sys
rows = {int(r[1]): r for r in (l.rstrip("\n").split("\t") for l in open(sys.argv[1], encoding="utf-8"))}
dpi = int(sys.argv[2])
s = lambda v: (v * dpi + 48) // 96
left, top, right, bottom = map(int, rows[0][9:13])
wrong = []
if (right - left, bottom - top) != (s(413), s(116)):
    wrong.append(f"client area {right - left}x{bottom - top}, not {s(413)}x{s(116)}")
panel1 = (1, 2)
laid_out = {  # id: control, parent's offset, own place and size
    3000: ("Panel1", (0, 0), (1, 2, 409, 113)), 3001: ("Path", panel1, (8, 8, 297, 41)),
    3003: ("Error", panel1, (8, 72, 289, 13)), 3004: ("PBar", panel1, (6, 88, 291, 17)),
    3006: ("Upgrade", panel1, (314, 6, 81, 73)), 3007: ("ComList", panel1, (314, 86, 81, 21)),
    3008: ("P_Image", (0, 0), (427, 6, 105, 105))}
for id, (name, (px, py), (x, y, w, h)) in laid_out.items():
    r = list(map(int, rows[id][4:8]))
    want = [left + s(px) + s(x), top + s(py) + s(y)]
    want += [want[0] + s(w), want[1] + s(h)]
    slack = [1, 1, 1, s(4) if name in ("ComList", "Error") else 1]
    if any(not -1 <= a - b <= d for a, b, d in zip(r, want, slack)):
        wrong.append(f"{name} at {r}, not {want}")
if wrong:
    print("; ".join(wrong))
sys.exit(1 if wrong else 0)
PY
}

# Chooses the port by its item: the list drops (below the box or above it,
# as the screen has room), and the item is clicked.
choose_port() {  # ITEM
  list_controls || return 1
  local items index height
  items=$(field $COMLIST_ID 11)
  index=$(tr '|' '\n' <<<"$items" | grep -nx "$1" | cut -d: -f1)
  [ -n "$index" ] || { fail "the port list has no $1: $items"; return 1; }
  height=$(field $COMLIST_ID 12)
  read -r left top right bottom < <(control $COMLIST_ID | cut -f5-8 | tr '\t' ' ')
  xdotool mousemove $((right - 8)) $(((top + bottom) / 2)) click 1
  wait_for 5 eval 'list_controls && [ -n "$(control -1)" ]' || { fail "the port list did not drop"; return 1; }
  read -r left top right bottom < <(control -1 | cut -f5-8 | tr '\t' ' ')
  xdotool mousemove $((left + 20)) $((top + 1 + (index - 1) * height + height / 2)) click 1
  sleep 0.5
  list_controls && [ "$(field $COMLIST_ID 9)" = "$1" ]
}

# Answers the question box of the window ("Tolm Upgrade") with its button.
answer() {  # BUTTON_TEXT
  wait_for 10 list_controls 'Tolm Upgrade' || return 1
  local button
  button=$(awk -F'\t' -v text="$1" '$3 == "Button" && $9 == text' "$work/controls" | head -1)
  [ -n "$button" ] || return 1
  xdotool mousemove $(awk -F'\t' '{ printf "%d %d\n", ($5 + $7) / 2, ($6 + $8) / 2 }' <<<"$button") click 1
}

# The window with its frame, as the screen shows it.
screenshot() {  # WINDOW_ID FILE
  [ -n "$shots" ] || return 0
  mkdir -p "$shots"
  local info value
  info="$(xwininfo -id "$1")"
  value() { awk -v key="$1" -F: '$1 ~ key {gsub(/ /, "", $2); print $2}' <<<"$info"; }
  local ax ay rx ry w h
  ax=$(value "Absolute upper-left X"); ay=$(value "Absolute upper-left Y")
  rx=$(value "Relative upper-left X"); ry=$(value "Relative upper-left Y")
  w=$(value "Width"); h=$(value "Height")
  import -window root -crop "$((w + 2 * rx))x$((h + ry + rx))+$((ax - rx))+$((ay - ry))" +repage "$2"
}

# ------------------------------------------------------------------ install

start=$SECONDS
sleep 1
wineboot -i >/dev/null 2>&1
# The registry's HARDWARE branch lives as long as the prefix's server: keep
# it running from here on.
wineserver -p 2>/dev/null
# The Chinese texts need a font with their glyphs: the one the window asks
# for, and the one Wine links its message boxes' font to for Traditional
# Chinese (as Windows links its own), are replaced by Noto Sans CJK TC.
for family in 'Microsoft JhengHei' 'PMingLiU'; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$family" /t REG_SZ /d 'Noto Sans CJK TC' /f >/dev/null
done
echo "windows window: a fresh prefix in $((SECONDS - start)) s"

installed="$WINEPREFIX/drive_c/Program Files/Tolm Upgrade"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tolm Upgrade.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolm Upgrade'
start=$SECONDS
wine "$setup" /S || fail "setup.exe /S failed"
wineserver -w
for f in tolm-upgrade.exe tolm-upgrade-cli.exe readme.txt uninstall.exe; do
  [ -f "$installed/$f" ] || fail "setup.exe did not install $f"
done
[ -f "$menu" ] || fail "setup.exe made no Start-menu shortcut"
wine reg query "$key" 2>/dev/null | tr -d '\r' >"$work/key"
for entry in 'DisplayName.*Tolm Upgrade$' 'DisplayVersion.*3\.4\.8$' 'Publisher.*Tolm$' \
             'DisplayIcon.*C:\\Program Files\\Tolm Upgrade\\tolm-upgrade\.exe,0$' \
             'UninstallString.*"C:\\Program Files\\Tolm Upgrade\\uninstall\.exe"$'; do
  grep -Eq "$entry" "$work/key" || fail "the Uninstall key lacks $entry: $(cat "$work/key")"
done
wine "$windowlist" version 'C:\Program Files\Tolm Upgrade\tolm-upgrade.exe' | tr -d '\r' >"$work/version"
for entry in $'ProductName\tTolm Upgrade' $'ProductVersion\t3.4.8' $'FileDescription\tTolm Upgrade: ' $'icons\t[1-9]'; do
  grep -q "^$entry" "$work/version" || fail "Explorer would not show $entry: $(cat "$work/version")"
done
target=$(wine "$windowlist" shortcut 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tolm Upgrade.lnk' |
         tr -d '\r' | sed -n 's/^target\t//p')
[ "$target" = 'C:\Program Files\Tolm Upgrade\tolm-upgrade.exe' ] || fail "the shortcut leads to '$target'"
echo "windows window: installed in $((SECONDS - start)) s"

# COM12: a USB adapter, as port discovery finds it in the registry.
map='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
class='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E978-E325-11CE-BFC1-08002BE10318}'
enum='HKLM\SYSTEM\CurrentControlSet\Enum'
wine reg delete "$map" /va /f >/dev/null 2>&1
wine reg add "$map" /v 'VCP0' /t REG_SZ /d COM12 /f >/dev/null
wine reg add "$class\\0100" /v MatchingDeviceId /t REG_SZ /d 'usb\vid_0403&pid_6001' /f >/dev/null
wine reg add "$enum\\USB\\VID_0403&PID_6001\\A1B2C3" /v FriendlyName /t REG_SZ /d 'USB Serial Port (COM12)' /f >/dev/null

# ----------------------------------------------------------------- sessions

gen() { "$devsim" gen "$@" >/dev/null || { echo "windows window: tolm-devsim gen $* failed" >&3; exit 1; }; }
mkdir -p "$work/韌體"
gen scanner-fw --out "$work/韌體/掃描器.bin" --set blank=1-150
gen quorin-firmware --out "$work/韌體/終端機.bin"

# run_case NAME DEVICE FIRMWARE IMAGE_BYTES [--set KEY=VALUE...]: one session of the window.
run_case() {
  case="$1"; local device="$2" firmware="$3" bytes="$4"; shift 4
  local dir="$work/$case"; mkdir -p "$dir"
  "$devsim" run "$device" --link "$WINEPREFIX/dosdevices/com12" --image-out "$dir/flash" \
    --transfer-log "$dir/transfers" --baud-emulation "$@" >"$dir/devsim.out" 2>&1 &
  local dev=$!; pids+=("$dev")
  wait_for 10 grep -q '^PTY ' "$dir/devsim.out" || { fail "the emulator did not start"; return; }

  local started=$SECONDS
  TOLM_UPGRADE_OPEN_FILE="$(winpath "$firmware")" wine "$target" >"$dir/app.out" 2>&1 &
  local pid=$!; pids+=("$pid")
  local wid
  wid=$(timeout 30 xdotool search --sync --name '^Tolm Upgrade Tools') || { fail "no window"; return; }
  wid=$(head -1 <<<"$wid")
  # The first activation checks the file and selects Com1.
  local name; name=$(basename "$firmware")
  wait_for 20 eval '[ "$(list_controls && field $PATH_ID 9)" = "$name" ]' ||
    fail "the file line shows '$(field $PATH_ID 9)', not $name"
  echo "windows window: $case: window up in $((SECONDS - started)) s"
  [ "$case" = scanner ] && { layout_is 96 || fail "the layout differs from the form's"; }
  local items; items=$(field $COMLIST_ID 11)
  [ "$items" = "Com1|Com2|Com3|Com4|Com5|Com6|Com7|Com8|Com9|Com10|Com12" ] || fail "the port list offers $items"
  choose_port Com12 || fail "Com12 could not be chosen: $(field $COMLIST_ID 9) of $(field $COMLIST_ID 11)"

  read -r x y < <(centre $UPGRADE_ID)
  started=$SECONDS
  xdotool mousemove "$x" "$y" click 1                         # Upgrade
  wait_for 20 picture_shown || fail "the picture panel did not come over the button"
  sleep 1                                                      # the transfer is under way

  # The window manager's ping, timed until the transfer is done; a window
  # whose thread ran the transfer would answer only after it.
  "$py" "$helper" ping "$wid" 1.0 "$dir/ping-stop" >"$dir/ping" 2>&1 &
  local pinger=$!
  xdotool mousemove "$x" "$y" click 1                          # on the picture panel that covers the button
  xdotool key --window "$wid" --clearmodifiers space Return    # the button still has the focus
  xdotool key space Return
  [ "$case" = scanner ] && screenshot "$wid" "$shots/mid-transfer.png"
  sleep 0.5
  "$py" "$helper" close "$wid"
  answer '&No' || fail "a close request during the transfer did not ask"
  sleep 0.5
  gone "$pid" && { fail "the window closed although the answer was no"; return; }
  if [ "$case" = scanner ]; then
    # Sign-out or shutdown: the window refuses, and the transfer goes on.
    wineboot -e >/dev/null 2>&1
    sleep 1
    gone "$pid" && { fail "the end of the session ended the window during the transfer"; return; }
  fi

  wait_for 120 lines_in "$dir/transfers" 1 || fail "the transfer did not complete"
  touch "$dir/ping-stop"
  wait "$pinger" || fail "the window did not answer every ping within 1 s: $(cat "$dir/ping")"
  echo "windows window: $case: $(cat "$dir/ping")"
  wait_for 10 eval '[ "$(result_line)" = "Upgrade PASS" ]' || fail "the result line reads '$(field $ERROR_ID 9)'"
  echo "windows window: $case: transfer done in $((SECONDS - started)) s"
  [ "$case" = scanner ] && sleep 0.5 && screenshot "$wid" "$shots/pass.png"
  # A press replayed after the transfer would start another one now; the
  # close request (or the end of the session) would then be refused.
  sleep 2
  if [ "$case" = scanner ]; then
    wineboot -e >/dev/null 2>&1
    wait_for 15 gone "$pid" || fail "the end of the session did not end the window after the transfer"
  else
    "$py" "$helper" close "$wid"
    wait_for 15 gone "$pid" || fail "the window did not close after the transfer (another transfer running?)"
  fi
  kill "$dev"; wait "$dev" 2>/dev/null
  local count; count=$(wc -l < "$dir/transfers" 2>/dev/null || echo 0)
  [ "$count" -eq 1 ] || fail "the device received $count images, expected 1"
  flash_matches "$firmware" "$dir/flash" 0 "$bytes" || fail "the flash differs from the file"
}

cases="${TOLM_WINDOWS_CASES:-scanner quorin deploy mismatch dpi}"
[[ " $cases " == *" scanner "* ]] && run_case scanner scanner "$work/韌體/掃描器.bin" 262144 --set model=LB1Y
[[ " $cases " == *" quorin "* ]] && run_case quorin quorin "$work/韌體/終端機.bin" 560128 --set announce-ms=200
# With the window open and idle: a second start, the packages of a newer
# version, and ports that appear.
case=deploy
if [[ " $cases " == *" deploy "* ]]; then
  TOLM_UPGRADE_OPEN_FILE="$(winpath "$work/韌體/掃描器.bin")" wine "$target" >/dev/null 2>&1 &
  pid=$!; pids+=("$pid")
  wid=$(timeout 30 xdotool search --sync --name '^Tolm Upgrade Tools' | head -1)
  wait_for 20 eval '[ "$(list_controls && field $PATH_ID 9)" = 掃描器.bin ]' || fail "the file was not taken"
  window=$(control 0 | cut -f1)

  # A second start hands over to the open window and ends. (That window
  # then takes the foreground; Wine 8 passes no activation of a managed
  # window on to the window manager, so that part is not seen here.)
  timeout 30 wine "$target" >/dev/null 2>&1; status=$?
  [ "$status" -eq 0 ] || fail "a second start ended with $status"
  [ "$(wine "$windowlist" count "$caption" | tr -d '\r')" = 1 ] || fail "a second start opened a copy"

  # Nothing installed or removed while it runs.
  cp "$newer_setup" "$WINEPREFIX/drive_c/newer-setup.exe"
  printf '@C:\\newer-setup.exe /S\r\n@exit /b %%errorlevel%%\r\n' >"$WINEPREFIX/drive_c/deploy.bat"
  wine cmd /c 'C:\deploy.bat' >/dev/null 2>&1; status=$?
  [ "$status" -eq 3 ] || fail "setup.exe /S of a newer version with the window open ended with $status, not 3"
  wine reg query "$key" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q ' 3\.4\.8$' ||
    fail "the refused setup changed the entry's version"
  grep -q 'newer version of the tests' "$installed/readme.txt" && fail "the refused setup replaced the readme"
  quiet=$(wine reg query "$key" /v QuietUninstallString | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
  printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$quiet" >"$WINEPREFIX/drive_c/deploy.bat"
  wine cmd /c 'C:\deploy.bat' >/dev/null 2>&1; status=$?
  [ "$status" -eq 3 ] || fail "'$quiet' with the window open ended with $status, not 3"
  for f in tolm-upgrade.exe tolm-upgrade-cli.exe readme.txt uninstall.exe; do
    [ -f "$installed/$f" ] || fail "the refused uninstaller removed $f"
  done
  [ -f "$menu" ] || fail "the refused uninstaller removed the shortcut"
  wine reg query "$key" >/dev/null 2>&1 || fail "the refused uninstaller removed the entry"

  # Ports that appear while the window is open.
  wine reg add "$map" /v 'VCP1' /t REG_SZ /d COM13 /f >/dev/null
  list_controls
  read -r left top right bottom < <(control $COMLIST_ID | cut -f5-8 | tr '\t' ' ')
  xdotool mousemove $((right - 8)) $(((top + bottom) / 2)) click 1
  wait_for 5 eval 'list_controls && [ "$(field $COMLIST_ID 11)" = "Com1|Com2|Com3|Com4|Com5|Com6|Com7|Com8|Com9|Com10|Com12|Com13" ]' ||
    fail "the list dropped down offers $(field $COMLIST_ID 11)"
  xdotool key Escape
  wine reg add "$map" /v 'VCP2' /t REG_SZ /d COM14 /f >/dev/null
  wine "$windowlist" devicechange "$caption" >/dev/null 2>&1
  wait_for 5 eval 'list_controls && [[ "$(field $COMLIST_ID 11)" == *"|Com13|Com14" ]]' ||
    fail "after WM_DEVICECHANGE the list offers $(field $COMLIST_ID 11)"
  wine reg delete "$map" /v VCP1 /f >/dev/null 2>&1
  wine reg delete "$map" /v VCP2 /f >/dev/null 2>&1
  "$py" "$helper" close "$wid"
  wait_for 15 gone "$pid" || fail "the window did not close"
fi

# A Quorin file, and a terminal of another kind that announces itself every
# 300 ms: the warning's box holds the form, so the announcements that come
# while it is open wait for it instead of opening more boxes.
case=mismatch
if [[ " $cases " == *" mismatch "* ]]; then
  mkdir -p "$work/mismatch"
  "$devsim" run quorin --link "$WINEPREFIX/dosdevices/com12" --set type=4 --set announce-ms=300 \
    >"$work/mismatch/devsim.out" 2>&1 &
  dev=$!; pids+=("$dev")
  wait_for 10 grep -q '^PTY ' "$work/mismatch/devsim.out" || fail "the emulator did not start"
  TOLM_UPGRADE_OPEN_FILE="$(winpath "$work/韌體/終端機.bin")" wine "$target" >/dev/null 2>&1 &
  pid=$!; pids+=("$pid")
  wid=$(timeout 30 xdotool search --sync --name '^Tolm Upgrade Tools' | head -1)
  wait_for 20 eval '[ "$(list_controls && field $PATH_ID 9)" = 終端機.bin ]' || fail "the file was not taken"
  choose_port Com12 || fail "Com12 could not be chosen"
  read -r x y < <(centre $UPGRADE_ID)
  xdotool mousemove "$x" "$y" click 1
  boxes() { wine "$windowlist" count 'Tolm Upgrade' | tr -d '\r'; }
  if wait_for 10 list_controls 'Tolm Upgrade'; then
    grep -q $'\tStatic\t1\t.*\t警告 Firmware 和機型不合$' "$work/controls" ||
      fail "the box does not warn of the mismatch: $(cut -f3,9 "$work/controls" | tr '\n' ' ')"
    [ -n "$shots" ] && import -window root "$shots/mismatch.png"
    sleep 1.5
    [ "$(boxes)" = 1 ] || fail "announcements while the box was open opened $(boxes) boxes"
  else
    fail "no warning for a terminal of another kind"
  fi
  kill "$dev"; wait "$dev" 2>/dev/null
  # The announcements that waited are each warned of in turn.
  for _ in $(seq 20); do
    [ "$(boxes)" = 0 ] && { sleep 1; [ "$(boxes)" = 0 ] && break; }
    answer OK
    sleep 0.3
  done
  # The port stays open for a terminal's announcement: closing asks, and yes closes.
  "$py" "$helper" close "$wid"
  answer '&Yes' || fail "closing with the port open did not ask"
  wait_for 15 gone "$pid" || fail "the window did not close on yes"
fi

# A screen of 144 dpi: the window and its controls are half as large again.
# No file is given: the first activation opens the file dialog, where the
# operator types the file's name.
case=dpi
if [[ " $cases " == *" dpi "* ]]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
  mkdir -p "$work/fw" && cp "$work/韌體/掃描器.bin" "$work/fw/lb1y.bin"
  wine "$target" >/dev/null 2>&1 &
  pid=$!; pids+=("$pid")
  wid=$(timeout 30 xdotool search --sync --name '^Tolm Upgrade Tools' | head -1)
  if wait_for 20 list_controls Open; then
    grep -q $'\tComboBox\t.*\tTolm Firmware File (\*.Bin)|Tolm Font File(\*.Fon)\t' "$work/controls" ||
      fail "the file dialog does not offer both filters: $(grep ComboBox "$work/controls" | cut -f11)"
    xdotool type --delay 20 "$(winpath "$work/fw/lb1y.bin")"
    xdotool key Return
  else
    fail "the first activation opened no file dialog"
  fi
  wait_for 20 eval '[ "$(list_controls && field $PATH_ID 9)" = lb1y.bin ]' || fail "the file chosen in the dialog is not shown"
  layout_is 144 || fail "at 144 dpi the layout is not the form's, scaled"
  [ -n "$wid" ] && screenshot "$wid" "$shots/dpi144.png"
  # A port that leads nowhere: the warning is a box of the window's own.
  window=$(control 0 | cut -f1)
  rm -f "$WINEPREFIX/dosdevices/com12"
  choose_port Com12 || fail "Com12 could not be chosen"
  read -r x y < <(centre $UPGRADE_ID)
  xdotool mousemove "$x" "$y" click 1
  if wait_for 10 list_controls 'Tolm Upgrade'; then
    [ "$(control 0 | cut -f14)" = "$window" ] || fail "the warning's box is not owned by the window"
    grep -q $'\tStatic\t1\t.*\tE001: Warn ComPort to be unable to open' "$work/controls" ||
      fail "the box does not warn with E001: $(cut -f3,9 "$work/controls" | tr '\n' ' ')"
    answer OK || fail "the warning's box has no OK button"
  else
    fail "no warning for a port that leads nowhere"
  fi
  # Idle again once the press's handler has returned from the box: a close
  # then does not ask.
  sleep 1
  "$py" "$helper" close "$wid"
  wait_for 15 gone "$pid" || fail "the window did not close"
  wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
fi

# Both pictures in one, the transfer above its result.
[ -n "$shots" ] && [ -f "$shots/mid-transfer.png" ] && [ -f "$shots/pass.png" ] &&
  convert "$shots/mid-transfer.png" "$shots/pass.png" -append "$shots/window-windows.png"

# --------------------------------------------------------------- uninstall

case=uninstall
# The log's folder (%LOCALAPPDATA%\Tolm Upgrade) is the operator's: it stays.
logs=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local 2>/dev/null | head -1)
mkdir -p "$logs/Tolm Upgrade" && echo "7E 7E" >"$logs/Tolm Upgrade/DUMMY.TXT"
start=$SECONDS
# The uninstaller runs a copy of itself from the temporary folder, so that it
# can remove itself: wait for the prefix's programs to end.
wine "$installed/uninstall.exe" /S || fail "uninstall.exe /S failed"
wait_for 60 eval '! [ -e "$installed" ]' || fail "the program folder is still there: $(ls "$installed")"
[ -e "$menu" ] && fail "the Start-menu shortcut is still there"
wine reg query "$key" >/dev/null 2>&1 && fail "the Uninstall key is still there"
[ -f "$logs/Tolm Upgrade/DUMMY.TXT" ] || fail "the uninstaller removed the log"
echo "windows window: uninstalled in $((SECONDS - start)) s"

[ "$failures" -eq 0 ] || exit 1
echo "windows window: every session passed"
