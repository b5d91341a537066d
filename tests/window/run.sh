#!/usr/bin/env bash
# The desktop window end to end, as an operator meets it: the real program on
# a virtual X server (Xvfb) with a window manager (openbox), input through
# XTest (xdotool), against emulated devices paced at line speed. For a
# first-generation scanner, a Quorin terminal and a two-image scanner/dock
# file, during the transfer:
#   - the window answers the window manager's ping (_NET_WM_PING); the pass
#     mark is 1 s and the figures are printed;
#   - a click on the picture panel and Space and Return keys start nothing,
#     now or later: the device sees exactly one upgrade;
#   - a close request asks first; answered no, the transfer goes on and the
#     flash equals the file.
#
#   tests/window/run.sh [BUILD_DIR]      (needs xvfb, xauth, openbox, xdotool, python3-xlib)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="$(realpath "${1:-build}")"
export TOLM_WINDOW_APP="$build/src/gui/tolm-upgrade"
export TOLM_WINDOW_DEVSIM="$build/tools/devsim/tolm-devsim"
export TOLM_WINDOW_HELPER="$PWD/tests/window/wmctl.py"
exec xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" "$PWD/tests/window/session.sh"
