#!/usr/bin/env bash
# Many ports, one command: N emulated scanners paced at line speed (115200,
# tolm-devsim --baud-emulation) on N pseudo-terminals, upgraded by one
# "tolm-upgrade-cli upgrade --port 11-(10+N) --json". Compares the slowest
# port's upgrade time with a lone run's, and reports the command's processor
# time per device as a share of one core. Every upgrade must pass with the
# flash equal to the file. Goals: ratio <= 1.05, under 1 % of a core per device.
#
#   bench/multiport.sh [BUILD_DIR] [--devices N] [--full]
#
# BUILD_DIR defaults to ./build. Sparse firmware (blank blocks, skipped by the
# host) keeps a run short; --full sends every block.
set -euo pipefail

build=build
devices=16
sparse=1
while [ $# -gt 0 ]; do
    case "$1" in
        --devices) devices=$2; shift 2 ;;
        --full) sparse=0; shift ;;
        -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
        *) build=$1; shift ;;
    esac
done
devsim=$build/tools/devsim/tolm-devsim
cli=$build/src/cli/tolm-upgrade-cli
for p in "$devsim" "$cli"; do
    [ -x "$p" ] || { echo "multiport.sh: $p not built (ninja -C $build tolm-devsim tolm-upgrade-cli)" >&2; exit 2; }
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

gen=(gen scanner-fw --out "$work/fw.bin")
[ "$sparse" = 1 ] && gen+=(--set blank=1-150)
"$devsim" "${gen[@]}" >/dev/null
python3 - "$work/fw.bin" "$work/expected" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()[:262144]
open(sys.argv[2], 'wb').write(bytes((b - 10) & 0xFF for b in data))
PY

start_device() {  # port
    "$devsim" run scanner --baud-emulation --link "$work/COM$1" --image-out "$work/image-$1" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -e "$work/COM$1" ] && return 0; sleep 0.05; done
    echo "multiport.sh: device on COM$1 did not start" >&2; exit 1
}
stop_devices() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    pids=()
}
# Runs the CLI on the ports; writes its JSON to $work/$2.json and "wall cpu" to $work/$2.time.
run_cli() {  # port-list name
    local s e
    s=$(date +%s.%N)
    # bash's `times` after the command: the children's user and system seconds.
    ( "$cli" upgrade --port "$1" --json "$work/fw.bin" >"$work/$2.json" 2>"$work/$2.err" || true
      times >"$work/$2.times" )
    e=$(date +%s.%N)
    cpu=$(tail -n 1 "$work/$2.times" | awk '{ for (i = 1; i <= 2; i++) { split($i, t, "m"); sub("s", "", t[2]); s += t[1] * 60 + t[2] } print s }')
    echo "$(echo "$e - $s" | bc) $cpu" >"$work/$2.time"
}
summary() {  # name ports...  -> prints max seconds; fails unless all passed with whole images
    local name=$1; shift
    python3 - "$work/$name.json" "$work" "$@" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))
work, ports = sys.argv[2], sys.argv[3:]
expected = open(work + "/expected", "rb").read()
bad = 0
for r, p in zip(results, ports):
    image = open(f"{work}/image-{p}", "rb").read() == expected
    if not (r["passed"] and image):
        bad += 1
        print(f"  {r['port']}: {r['result']}, image {'ok' if image else 'differs'}", file=sys.stderr)
print(max(r["seconds"] for r in results))
sys.exit(1 if bad or len(results) != len(ports) else 0)
PY
}

echo "$devices scanners at 115200, $( [ "$sparse" = 1 ] && echo sparse || echo full ) firmware, $(nproc) cores"
start_device 1
run_cli 1 lone
stop_devices
lone=$(summary lone 1)
read -r lonewall _ <"$work/lone.time"

ports=$(seq 11 $((10 + devices)))
for p in $ports; do start_device "$p"; done
run_cli "11-$((10 + devices))" many
stop_devices
# shellcheck disable=SC2086
slowest=$(summary many $ports)
read -r wall cpu <"$work/many.time"

printf "lone run: %.2f s upgrade (%.2f s command)\n" "$lone" "$lonewall"
printf "%s at once: slowest port %.2f s (%.2f s command); ratio %.3f (goal <= 1.05)\n" "$devices" "$slowest" "$wall" \
    "$(echo "$slowest / $lone" | bc -l)"
printf "processor time: %.2f s in all, %.3f s per device = %.2f %% of a core per device (goal < 1 %%)\n" "$cpu" \
    "$(echo "$cpu / $devices" | bc -l)" "$(echo "100 * $cpu / $devices / $wall" | bc -l)"
