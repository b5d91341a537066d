#!/usr/bin/env bash
# Runs a Windows program under Wine with a COM port that leads to an emulated
# device: tolm-devsim on a pseudo-terminal linked as $WINEPREFIX/dosdevices/comN.
#   with-device.sh DEVSIM COMN DEVICE [DEVSIM-OPTION...] -- PROGRAM.exe [ARG...]
# TOLM_TEST_PORT names the port ("\\.\COM21") for the program. When
# TOLM_MODEMLINE names the modem-line library (Modemline.cpp), it is preloaded
# into Wine's processes, the line keeps WaitCommEvent pending as a real
# driver's does, and TOLM_TEST_LINE=pending tells the program so.
set -euo pipefail
devsim=$1 port=$2 device=$3
shift 3
devsim_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do devsim_args+=("$1"); shift; done
shift
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
link="$WINEPREFIX/dosdevices/$(echo "$port" | tr 'A-Z' 'a-z')"
out=$(mktemp)
"$devsim" run "$device" --link "$link" "${devsim_args[@]}" >"$out" 2>&1 &
devsim_pid=$!
trap 'kill $devsim_pid 2>/dev/null; wait $devsim_pid 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 100); do grep -q '^PTY ' "$out" && break; sleep 0.05; done
grep -q '^PTY ' "$out" || { cat "$out" >&2; echo "tolm-devsim did not start" >&2; exit 1; }
if [ -n "${TOLM_MODEMLINE:-}" ]; then
  export LD_PRELOAD="$TOLM_MODEMLINE${LD_PRELOAD:+:$LD_PRELOAD}" TOLM_TEST_LINE=pending
else
  export TOLM_TEST_LINE=plain
fi
# The prefix's own programs start with the first program after a server
# restart and keep its output open for good: started first with no output
# of the test's to hold, they leave ctest nothing to wait for.
WINEDEBUG=-all wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
TOLM_TEST_PORT="\\\\.\\$port" WINEDEBUG=-all wine "$@"
