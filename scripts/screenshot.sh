#!/usr/bin/env bash
# Takes a picture of the desktop window into docs/window.png: builds
# tolm-upgrade if needed, starts it on a virtual X server (Xvfb) with a window
# manager for the frame and caption, lets it choose a firmware file without a
# dialog, and captures the window with its frame.
#
#   scripts/screenshot.sh [FIRMWARE_FILE] [OUTPUT_PNG]
#
# FIRMWARE_FILE defaults to a small first-generation scanner file made here.
# The file reaches the window through TOLM_UPGRADE_OPEN_FILE, which makes the
# file choice return that path instead of opening the dialog.
# TOLM_BUILD_DIR names the build folder (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."

# xvfb: the X server; imagemagick: import (capture); x11-utils: xwininfo
# (window geometry); openbox: a light window manager that draws the frame.
packages=(xvfb imagemagick x11-utils openbox)
scripts/install-packages.sh "${packages[@]}"

build_dir="${TOLM_BUILD_DIR:-build}"
program="$build_dir/src/gui/tolm-upgrade"
if [ ! -x "$program" ]; then
  [ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build_dir" --target tolm-upgrade -j 2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

firmware="${1:-}"
if [ -z "$firmware" ]; then
  # 1 KB of image, then the identification block: every byte is stored plus
  # 10, so "2LB1Y" is stored as "<VL;c" (family code "2LB", model "LB1Y").
  firmware="$work/SCAN_2LB1Y_V105.BIN"
  head -c 1024 /dev/zero > "$firmware"
  { printf '<VL;c'; head -c 1019 /dev/zero; } >> "$firmware"
fi
output="${2:-docs/window.png}"
mkdir -p "$(dirname "$output")"

cat > "$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
# Runs inside the virtual X server: window manager, program, capture.
set -euo pipefail
program="$1"; firmware="$2"; output="$3"; caption="Tolm Upgrade Tools...[3.4.8]"
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
sleep 1
TOLM_UPGRADE_OPEN_FILE="$firmware" "$program" &
app=$!
shown=0
for _ in $(seq 1 100); do
  if xwininfo -name "$caption" >/dev/null 2>&1; then shown=1; break; fi
  sleep 0.1
done
if [ "$shown" -ne 1 ]; then
  echo "screenshot: the window did not appear" >&2
  kill "$app" "$wm" 2>/dev/null || true
  exit 1
fi
sleep 1.5  # first activation: file choice and checks, then painting
# The frame's place and size on the screen, so the caption shows too: the
# window manager put the window at (rx, ry) inside its frame, with borders of
# rx on the other sides.
info="$(xwininfo -name "$caption")"
value() { awk -v key="$1" -F: '$1 ~ key {gsub(/ /, "", $2); print $2}' <<<"$info"; }
ax=$(value "Absolute upper-left X"); ay=$(value "Absolute upper-left Y")
rx=$(value "Relative upper-left X"); ry=$(value "Relative upper-left Y")
w=$(value "Width"); h=$(value "Height")
x=$((ax - rx)); y=$((ay - ry)); w=$((w + 2 * rx)); h=$((h + ry + rx))
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$output"
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
kill "$wm" 2>/dev/null || true
wait "$wm" 2>/dev/null || true
SESSION
chmod +x "$work/session.sh"

xvfb-run -a -s "-screen 0 640x400x24 -dpi 96" "$work/session.sh" "$(realpath "$program")" "$(realpath "$firmware")" "$output"
echo "screenshot: $output"
