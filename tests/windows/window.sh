#!/usr/bin/env bash
# The Windows window and its installer under Wine, as an operator and an IT
# department meet them: on a virtual X server (Xvfb) with a window manager
# (openbox), input through XTest (xdotool), in a fresh Wine prefix, against
# emulated devices paced at line speed on a pseudo-terminal linked as COM12
# (a USB adapter, by the registry keys of port discovery):
#   - setup.exe /S installs the programs (the window with its version and
#     icon for Explorer), the readme, the Start-menu shortcut and the
#     Uninstall key;
#   - the window starts through the shortcut's target, with the firmware file
#     (in a folder with a Chinese name) given as on Linux
#     (TOLM_UPGRADE_OPEN_FILE); its controls, read from outside by
#     windowlist.exe (EnumChildWindows, WM_GETTEXT), show the file's Chinese
#     name and the port list Com1 to Com10 and then Com12;
#   - for a first-generation scanner and a Quorin terminal (which starts by
#     its announcement): Com12 chosen from the list (which is read again as
#     it drops down) and Upgrade pressed with the mouse; the
#     window answers the window manager's ping (_NET_WM_PING) within 1 s
#     throughout the transfer (a window whose thread ran the transfer would
#     answer after it); a click on the picture panel and Space and Return keys start
#     nothing; a close request asks, and answered No the transfer goes on;
#     "Upgrade PASS" on the result line, one transfer, the flash equal to the
#     file; for the scanner, the end of the session (wineboot -e, which sends
#     WM_QUERYENDSESSION as Windows does at sign-out and shutdown) during the
#     transfer leaves the window running and the transfer whole, and after
#     the transfer the same request ends it;
#   - with the window open and idle: a second start hands over to it and
#     opens no copy; setup.exe /S of a newer version ends with exit code
#     3 and changes nothing, and so does the uninstaller's QuietUninstallString;
#     a port that appears in the registry is offered when the list drops down,
#     and another at once when Windows tells of a device (WM_DEVICECHANGE);
#   - a Quorin file and a terminal of another kind: the Chinese warning in a
#     box of the window's own, which holds the form (announcements meanwhile
#     open no second box); with the port left open, closing asks, and yes
#     closes;
#   - at 144 dpi, with no file given: the file dialog offers both filters and
#     takes a typed name; the controls lie at the form's places, scaled; a
#     port that leads nowhere warns (E001) in a box the window owns;
#   - uninstall.exe /S removes the folder, the shortcut and the key, and
#     leaves the log folder under %LOCALAPPDATA%.
#
#   tests/windows/window.sh SETUP.EXE NEWER_SETUP.EXE WINDOWLIST.EXE DEVSIM [SHOT_DIR]
# SHOT_DIR receives mid-transfer.png and pass.png, the window during the
# scanner's transfer and after its "Upgrade PASS", both in window-windows.png,
# mismatch.png (the warning's box) and dpi144.png. TOLM_WINDOWS_CASES
# ("scanner quorin deploy mismatch dpi") narrows the sessions.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
setup="$(realpath "$1")" newer_setup="$(realpath "$2")" windowlist="$(realpath "$3")" devsim="$(realpath "$4")"
shots="${5:+$(realpath -m "$5")}"
export TOLM_WINDOW_HELPER="$here/../window/wmctl.py"
exec xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" \
  "$here/window-session.sh" "$setup" "$newer_setup" "$windowlist" "$devsim" "$shots"
