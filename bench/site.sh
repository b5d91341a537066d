#!/usr/bin/env bash
# Many stations, one site database: STATIONS simulated stations (default 50)
# each append ATTEMPTS attempts (default 2000, made without devices) to a
# results file of their own, one every INTERVAL ms (default 10; 0: all at
# once, a backlog), and forward them on their forwarder's thread into one
# PostgreSQL, a private cluster with its default durability (fsync on) that
# this script starts on 127.0.0.1 and stops at the end. Prints the attempts
# per second from the first append to the last arrival, each line's delay
# from its append to its arrival in the database (the slowest and the median
# of the stations' medians), and checks that the table holds exactly
# STATIONS x ATTEMPTS rows, each attempt once.
#
#   bench/site.sh [BUILD_DIR] [--stations N] [--attempts N] [--interval MS]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build stations=50 attempts=2000 interval=10
while [ $# -gt 0 ]; do
  case "$1" in
    --stations) stations=$2; shift 2 ;;
    --attempts) attempts=$2; shift 2 ;;
    --interval) interval=$2; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) build=$1; shift ;;
  esac
done
bench=$build/bench/tolm-bench-site
[ -x "$bench" ] || { echo "site.sh: $bench not built (ninja -C $build tolm-bench-site)" >&2; exit 2; }
scripts/install-packages.sh postgresql odbc-postgresql unixodbc python3

work=$(mktemp -d)
chmod 755 "$work"
state="$work/postgres.state"
cleanup() { tests/records/postgres.sh stop "$state" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
tests/records/postgres.sh start "$state" max_connections=$((stations + 20))
fact() { sed -n "s/^$1=//p" "$state"; }
sql() { psql -XAtq -h "$(fact TOLM_TEST_PG_SOCKET)" -p "$(fact TOLM_TEST_PG_PORT)" -U tolm -d "$1" -c "$2"; }
sql postgres "CREATE DATABASE site"
export SITE_PASSWORD=$(fact TOLM_TEST_PG_PASSWORD)
db="$(fact TOLM_TEST_PG_CONNECTION);Database=site"

start=$(date +%s.%N)
pids=()
for n in $(seq "$stations"); do
  "$bench" --results "$work/station-$n.csv" --db "$db" --password-env SITE_PASSWORD --attempts "$attempts" \
    --interval "$interval" >"$work/station-$n.out" 2>"$work/station-$n.err" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
end=$(date +%s.%N)

rows=$(sql site "SELECT COUNT(*) || ' ' || COUNT(DISTINCT attempt_id) FROM tolm_attempts")
expected=$((stations * attempts))
cat "$work"/station-*.err | sort | uniq -c | head -n 5
seconds=$(awk -v start="$start" -v end="$end" 'BEGIN { printf "%.1f", end - start }')
slowest=$(awk '{print $6}' "$work"/station-*.out | sort -n | tail -n 1)
median=$(awk '{print $8}' "$work"/station-*.out | sort -n | awk '{m[NR] = $1} END {print m[int((NR + 1) / 2)]}')
echo "stations $stations x attempts $attempts, one every $interval ms: $seconds s," \
  "$(awk -v n="$expected" -v s="$seconds" 'BEGIN { printf "%.0f", n / s }') attempts/s"
echo "delay from append to database: slowest $slowest ms, median of the stations' medians $median ms"
echo "table: $rows rows and distinct attempt IDs, expected $expected; stations that failed: $failed"
[ "$failed" -eq 0 ] && [ "$rows" = "$expected $expected" ]
