#!/usr/bin/env bash
# The station's soak at length: "tolm-upgrade-cli station" on PORTS ports for
# SECONDS while emulated scanners, each with a terminal ID of its own, arrive
# and leave at random, each with a fault of its own (lost replies that the
# retries cover and that they do not, the adapter pulled mid-transfer, a wrong
# model, a silent device, a device that stays attached after its upgrade, one
# silent for 5 s after it), the next attached 0.5 to 3 s after the last was
# pulled, and the station killed (kill -9) about every 40 s and started again
# on the same results file (TOLM_SOAK_KILL_EVERY=0: never). Every line of the
# results file is held against what its device received; the figures
# (devices per port, lines by result, kills, the station's memory,
# descriptors and processor time) are printed at the end. The test command
# runs the same for about 3 minutes on 8 ports.
#
#   bench/soak.sh [BUILD_DIR] [--seconds S] [--ports N] [--seed N]
#
# Defaults: build, an hour, 16 ports, a random seed (printed, to repeat a run).
set -euo pipefail

build=build
seconds=3600
ports=16
seed=""
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --ports) ports=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
        *) build=$1; shift ;;
    esac
done
for p in tests/soak/soak_tests src/cli/tolm-upgrade-cli tools/devsim/tolm-devsim; do
    [ -x "$build/$p" ] || { echo "soak.sh: $build/$p not built (scripts/setup.sh -DTOLM_BUILD_TESTS=ON)" >&2; exit 2; }
done
# Copies of the programs run, so that the build may change meanwhile.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/tests/soak/soak_tests" "$build/src/cli/tolm-upgrade-cli" "$build/tools/devsim/tolm-devsim" "$work/"
echo "soak.sh: $ports ports for $seconds s (load average $(cut -d' ' -f1-3 /proc/loadavg))"
TOLM_SOAK_SECONDS=$seconds TOLM_SOAK_PORTS=$ports TOLM_SOAK_SEED=$seed \
  TOLM_SOAK_CLI=$work/tolm-upgrade-cli TOLM_SOAK_DEVSIM=$work/tolm-devsim "$work/soak_tests"
echo "soak.sh: load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
