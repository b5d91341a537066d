#!/usr/bin/env bash
# Load: N emulated devices upgraded at once, each on its own pty by its own
# tolm-upgrade-cli, against one lone run of the same upgrade. Every upgrade
# must pass and every device's flash must equal the file; prints each run's
# time and its ratio to the lone run (the target is at most 1.1).
#
#   bench/load.sh [BUILD_DIR] [--devices N] [--family scanner|quorin] [--full] [--no-line-speed]
#
# BUILD_DIR defaults to ./build. The emulated devices pace their lines at the
# device's speed (tolm-devsim --baud-emulation), as real serial lines would;
# --no-line-speed lets the ptys go as fast as the machine can, which measures
# the processor instead. Sparse firmware (blank blocks, skipped by the host)
# keeps a run short; --full sends every block.
set -euo pipefail

build=build
devices=8
family=scanner
sparse=1
pacing=(--baud-emulation)
while [ $# -gt 0 ]; do
    case "$1" in
        --devices) devices=$2; shift 2 ;;
        --family) family=$2; shift 2 ;;
        --full) sparse=0; shift ;;
        --no-line-speed) pacing=(); shift ;;
        -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
        *) build=$1; shift ;;
    esac
done
devsim=$build/tools/devsim/tolm-devsim
cli=$build/src/cli/tolm-upgrade-cli
for p in "$devsim" "$cli"; do
    [ -x "$p" ] || { echo "load.sh: $p not built (ninja -C $build tolm-devsim tolm-upgrade-cli)" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export TOLM_PORT_DIR=$work XDG_STATE_HOME=$work

case "$family" in
    scanner)
        gen=(gen scanner-fw --out "$work/fw.bin")
        [ "$sparse" = 1 ] && gen+=(--set blank=1-150)
        device=(scanner)
        cliextra=()
        bodybytes=262144
        ;;
    quorin)
        gen=(gen quorin-firmware --out "$work/fw.bin" --set kernel=3 --set body-size=$([ "$sparse" = 1 ] && echo 65536 || echo 560128))
        device=(quorin --set kernel=3 --set announce-ms=200)
        cliextra=(--wait 60)
        bodybytes=$([ "$sparse" = 1 ] && echo 65536 || echo 560128)
        ;;
    *) echo "load.sh: family must be scanner or quorin" >&2; exit 2 ;;
esac
"$devsim" "${gen[@]}" >/dev/null
# What a device's flash holds after a good upgrade: the file's first bytes, each minus 10.
python3 - "$work/fw.bin" "$work/expected" "$bodybytes" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()[:int(sys.argv[3])]
open(sys.argv[2], 'wb').write(bytes((b - 10) & 0xFF for b in data))
PY

start_device() {  # port
    "$devsim" run "${device[@]}" "${pacing[@]}" --link "$work/COM$1" --image-out "$work/image-$1" >"$work/dev-$1.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -e "$work/COM$1" ] && return 0; sleep 0.05; done
    echo "load.sh: device on COM$1 did not start" >&2; exit 1
}
stop_devices() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    pids=()
}
run_upgrade() {  # port -> writes time and result
    local s e
    s=$(date +%s.%N)
    "$cli" upgrade --port "$1" "${cliextra[@]}" "$work/fw.bin" >"$work/out-$1" 2>"$work/err-$1" && rc=0 || rc=$?
    e=$(date +%s.%N)
    echo "$rc $(echo "$e - $s" | bc)" >"$work/time-$1"
}
check() {  # port -> 0 when passed with a whole image
    read -r rc secs <"$work/time-$1"
    local result image=bad
    result=$(tail -n 1 "$work/out-$1")
    cmp -s "$work/image-$1" "$work/expected" && image=ok
    printf "  COM%-3s %7.2f s  exit %s  %-14s image %s\n" "$1" "$secs" "$rc" "$result" "$image"
    [ "$rc" = 0 ] && [ "$result" = "Upgrade PASS" ] && [ "$image" = ok ]
}

echo "family $family, $( [ "$sparse" = 1 ] && echo sparse || echo full ) firmware, $( [ ${#pacing[@]} -gt 0 ] && echo "lines at the device's speed" || echo "ptys unpaced" )"
echo "lone run:"
start_device 1
run_upgrade 1
stop_devices
failed=0
check 1 || failed=1
read -r _ lone <"$work/time-1"

echo "$devices runs at once:"
ports=$(seq 11 $((10 + devices)))
for p in $ports; do start_device "$p"; done
runners=()
for p in $ports; do run_upgrade "$p" & runners+=($!); done
for r in "${runners[@]}"; do wait "$r"; done
stop_devices
worst=0
for p in $ports; do
    check "$p" || failed=1
    read -r _ secs <"$work/time-$p"
    worst=$(echo "if ($secs > $worst) $secs else $worst" | bc)
done
ratio=$(echo "scale=2; $worst / $lone" | bc)
printf "slowest of %s: %.2f s; lone: %.2f s; ratio %s (target <= 1.1)\n" "$devices" "$worst" "$lone" "$ratio"
if [ "$failed" != 0 ]; then echo "load.sh: an upgrade failed" >&2; exit 1; fi
