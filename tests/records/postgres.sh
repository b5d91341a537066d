#!/usr/bin/env bash
# A private PostgreSQL cluster for the record tests: initdb into a temporary
# folder, a server on 127.0.0.1 at a free port with a password login, run by
# an account other than root (the server refuses root).
#   postgres.sh start STATE [SETTING=VALUE...]  makes and starts it; STATE gets
#                                              its facts as KEY=VALUE lines
#   postgres.sh stop STATE                     stops it and removes its folder
#   postgres.sh pause STATE | resume STATE     stops or starts the server alone,
#                                              keeping its data and port
# STATE holds TOLM_TEST_PG_CONNECTION (an ODBC connection string without
# database and password), TOLM_TEST_PG_PASSWORD, TOLM_TEST_PG_PORT and
# TOLM_TEST_PG_SOCKET. With TOLM_SKIP_DB=1 no server is made and STATE says
# TOLM_TEST_DB_SKIP=1, which the tests obey.
set -euo pipefail
command=$1 state=$2
shift 2

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
run_as_owner() {
  cd /
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=postgres --regid=postgres --clear-groups env -u HOME "$@"
  else
    "$@"
  fi
}
fact() { sed -n "s/^$1=//p" "$state"; }
server() {  # start | stop
  local dir
  dir=$(fact TOLM_TEST_PG_FOLDER)
  if [ "$1" = start ]; then
    run_as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null
  else
    run_as_owner "$bindir/pg_ctl" -D "$dir/data" -w -t 60 -m fast stop >/dev/null
  fi
}

case "$command" in
start)
  # A cluster left by a run that was killed goes first.
  if [ -f "$state" ] && [ -n "$(fact TOLM_TEST_PG_FOLDER)" ]; then "$0" stop "$state" || true; fi
  if [ "${TOLM_SKIP_DB:-0}" = "1" ]; then
    echo "TOLM_TEST_DB_SKIP=1" >"$state"
    exit 0
  fi
  [ -n "$bindir" ] || { echo "postgres.sh: no PostgreSQL server (Debian package postgresql)" >&2; exit 1; }
  dir=$(mktemp -d)
  chmod 755 "$dir"
  password=$(head -c 18 /dev/urandom | base64 | tr '+/' '-_')
  printf '%s\n' "$password" >"$dir/password"
  mkdir "$dir/socket"
  [ "$(id -u)" -ne 0 ] || chown postgres:postgres "$dir" "$dir/password" "$dir/socket"
  run_as_owner "$bindir/initdb" -D "$dir/data" -U tolm --pwfile="$dir/password" --auth-host=scram-sha-256 \
    --auth-local=trust -E UTF8 --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; rm -rf "$dir"; exit 1; }
  rm -f "$dir/password"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  {
    echo "listen_addresses = '127.0.0.1'"
    echo "port = $port"
    echo "unix_socket_directories = '$dir/socket'"
    echo "max_connections = 200"
    for setting in "$@"; do echo "${setting%%=*} = ${setting#*=}"; done
  } >>"$dir/data/postgresql.conf"
  cat >"$state" <<STATE
TOLM_TEST_PG_FOLDER=$dir
TOLM_TEST_PG_PORT=$port
TOLM_TEST_PG_SOCKET=$dir/socket
TOLM_TEST_PG_PASSWORD=$password
TOLM_TEST_PG_CONNECTION=Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Uid=tolm
TOLM_TEST_PG_CONTROL=$(readlink -f "$0")
STATE
  server start || { cat "$dir/server.log" >&2; exit 1; }
  ;;
stop)
  dir=$(fact TOLM_TEST_PG_FOLDER)
  if [ -n "$dir" ] && [ -d "$dir" ]; then
    server stop 2>/dev/null || true
    rm -rf "$dir"
  fi
  rm -f "$state"
  ;;
pause) server stop ;;
resume) server start ;;
*) echo "postgres.sh: start, stop, pause or resume" >&2; exit 2 ;;
esac
