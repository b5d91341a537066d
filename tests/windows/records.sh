#!/usr/bin/env bash
# records push of the Windows build under Wine: Wine's odbc32 hands every
# ODBC call to this machine's unixODBC and its drivers, so the program
# reaches the private PostgreSQL cluster of the tests (postgres.sh) and an
# SQLite file, named by its Unix path (a Windows path would reach the Linux
# driver unchanged). What arrived is read back with psql and sqlite3. With
# DEVSIM, a station of the Windows build forwards to the cluster as it goes.
#   records.sh CLI.EXE STATE [DEVSIM]
set -uo pipefail
cli=$1 state=$2 devsim=${3:-}
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG=-all
fact() { sed -n "s/^$1=//p" "$state"; }
if [ "$(fact TOLM_TEST_DB_SKIP)" = 1 ]; then
  echo "records.sh: TOLM_SKIP_DB=1, nothing tried"
  exit 0
fi

work=$(mktemp -d)
device=""
cleanup() {
  [ -n "$device" ] && kill "$device" 2>/dev/null && wait "$device" 2>/dev/null
  rm -f "$WINEPREFIX/dosdevices/com61"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
sql() { psql -XAtq -v ON_ERROR_STOP=1 -h "$(fact TOLM_TEST_PG_SOCKET)" -p "$(fact TOLM_TEST_PG_PORT)" -U tolm -d "$1" -c "$2"; }
# push DB: runs records push of the file; sets $rc, $out (stdout without CRs) and $err.
push() {
  wine "$cli" records push --results "$(winpath "$work/bench.csv")" --db "$1" --db-password-env RECORDS_PASSWORD \
    >"$work/out" 2>"$work/err"
  rc=$?
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
}

sql postgres "DROP DATABASE IF EXISTS windows_records" && sql postgres "CREATE DATABASE windows_records" ||
  { echo "records.sh: the test cluster does not answer"; exit 1; }
pg="$(fact TOLM_TEST_PG_CONNECTION);Database=windows_records"
header="time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds,firmware_sha256,program_version"
cat >"$work/bench.csv" <<LINES
$header
2026-12-08T21:30:00+0100,COM3,3QR,Q1,12,00000001,終端機一號,Upgrade PASS,4.5,abc,3.4.9
2026-12-08T21:31:00+0100,COM4,3QR,Q1,12,00000002,"'); DROP TABLE x; --",Upgrade Error,2.0,abc,3.4.9
LINES

export RECORDS_PASSWORD=$(fact TOLM_TEST_PG_PASSWORD)
push "$pg"
[ "$rc" = 0 ] && [ "$out" = "2 sent, 0 already in the database, 0 skipped, 0 waiting" ] ||
  fail "push to PostgreSQL: exit status $rc, \"$out\", stderr: $err"
names=$(sql windows_records "SELECT string_agg(terminal_name, '|' ORDER BY terminal_id) FROM tolm_attempts")
[ "$names" = "終端機一號|'); DROP TABLE x; --" ] || fail "PostgreSQL holds the names \"$names\""
# The cursor that the Windows program wrote is where the next push starts.
push "$pg"
[ "$out" = "0 sent, 0 already in the database, 0 skipped, 0 waiting" ] || fail "a second push: \"$out\" $err"

export RECORDS_PASSWORD=not-the-Password-42
rm -f "$work/bench.csv.cursor"
push "$pg"
[ "$rc" = 1 ] || fail "a wrong password: exit status $rc"
[ "$(grep -c . <<<"$err")" = 1 ] && grep -q "password authentication failed" <<<"$err" ||
  fail "a wrong password is not told in one line: $err"
if grep -qF "$RECORDS_PASSWORD" <<<"$out$err"; then fail "the password shows: $err"; fi

push "Driver=SQLite3;Database=$work/records.db"
[ "$rc" = 0 ] || fail "push to SQLite: exit status $rc, \"$out\", stderr: $err"
names=$(sqlite3 "$work/records.db" "SELECT group_concat(terminal_name, '|') FROM (SELECT terminal_name FROM tolm_attempts ORDER BY terminal_id)")
[ "$names" = "終端機一號|'); DROP TABLE x; --" ] || fail "SQLite holds the names \"$names\""

# A station with one emulated scanner on COM61: its line goes to the file and,
# from its forwarding thread, to PostgreSQL.
if [ -n "$devsim" ]; then
  export RECORDS_PASSWORD=$(fact TOLM_TEST_PG_PASSWORD)
  sql postgres "DROP DATABASE IF EXISTS windows_station" && sql postgres "CREATE DATABASE windows_station"
  "$devsim" gen scanner-fw --out "$work/lb1y.bin" --set blank=1-150 >/dev/null
  wine "$cli" station --port 61 --results "$(winpath "$work/station.csv")" --station bench-w --operator op-w \
    --db "$(fact TOLM_TEST_PG_CONNECTION);Database=windows_station" --db-password-env RECORDS_PASSWORD \
    "$(winpath "$work/lb1y.bin")" >"$work/station.out" 2>"$work/station.err" &
  station=$!
  "$devsim" run scanner --link "$WINEPREFIX/dosdevices/com61" >"$work/devsim.out" 2>&1 &
  device=$!
  rows() { sql windows_station "SELECT COUNT(*) FROM tolm_attempts" 2>/dev/null; }
  for _ in $(seq 600); do [ "$(rows)" = 1 ] && break; sleep 0.1; done
  stored=$(sql windows_station "SELECT attempt_id || ' ' || station || ' ' || operator || ' ' || result FROM tolm_attempts" 2>&1)
  id=$(tail -n 1 "$work/station.csv" 2>/dev/null | tr -d '\r' | cut -d, -f12)
  [ -n "$id" ] && [ "$stored" = "$id bench-w op-w Upgrade PASS" ] ||
    fail "the station's line did not reach PostgreSQL: \"$stored\"; file: $(cat "$work/station.csv" 2>&1); stderr: $(tail -n 5 "$work/station.err")"
  kill -INT "$station"
  wait "$station"
  rc=$?
  [ "$rc" = 130 ] || fail "the station ended with $rc after Ctrl-C, not 130"
fi

if [ "$failures" -ne 0 ]; then
  echo "records.sh: $failures failure(s)"
  exit 1
fi
echo "records.sh: the Windows build's records reached PostgreSQL and SQLite through Wine's odbc32"
