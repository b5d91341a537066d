#!/usr/bin/env bash
# The desktop window end to end, as an operator meets it: the real program on
# a virtual X server (Xvfb) with a window manager (openbox), input through
# XTest (xdotool), against emulated devices paced at line speed. For a
# first-generation scanner, a Quorin terminal and a two-image scanner/dock
# file:
#   - the window answers the window manager's ping (_NET_WM_PING) within
#     100 ms throughout the transfer, the dock's image included; the worst
#     answer of each is printed;
#   - a click on the picture panel and Space and Return keys start nothing,
#     now or later, also in the second's pause before the dock's image: the
#     device receives only the images that were asked for;
#   - a close request asks first; answered no, the transfer goes on and the
#     flash equals the file;
#   - a press whose handler throws (no port chosen) shows the error, and the
#     next press upgrades;
#   - close requests while the file dialog or a message box is open change
#     nothing; yes to the question during a transfer ends the program;
#   - the session manager's request to end the session during a transfer is
#     cancelled with a box that says why, and the transfer ends whole; after
#     it the same request ends the program;
#   - a second start brings the open window to the front and opens no copy;
#     an adapter that arrives while the window is open is offered in the port
#     list without a press first.
#
#   tests/window/run.sh [BUILD_DIR]      (needs xvfb, xauth, openbox, xdotool, python3-xlib)
#   TOLM_WINDOW_CASES="scanner dock"     runs only those sessions (scanner quorin dock closing ports logout)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="$(realpath "${1:-build}")"
export TOLM_WINDOW_APP="$build/src/gui/tolm-upgrade"
export TOLM_WINDOW_DEVSIM="$build/tools/devsim/tolm-devsim"
export TOLM_WINDOW_HELPER="$PWD/tests/window/wmctl.py"
export TOLM_WINDOW_SESSION_MANAGER="$build/tests/window/tolm_test_session_manager"
exec xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" "$PWD/tests/window/session.sh"
