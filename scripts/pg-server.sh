#!/usr/bin/env bash
# A throwaway PostgreSQL 15 server with orafce, for the tests: a cluster in a folder of its own,
# listening on 127.0.0.1 on a free port, trust authentication, with an odbc.ini beside it.
#
#   pg-server.sh start DIR   creates and starts the cluster in DIR (which must not exist) and
#                            prints the ODBC connection string on standard output; DIR/env holds
#                            PGHOST, PGPORT, PGUSER, PGDATABASE and ODBCINI for sourcing
#   pg-server.sh stop DIR    stops the cluster and removes DIR (quietly does nothing when absent)
#
# As root the cluster belongs to the postgres user (the server refuses to run as root).
set -euo pipefail

bin=$(ls -d /usr/lib/postgresql/15/bin 2>/dev/null || true)
[ -n "$bin" ] || { echo "pg-server: PostgreSQL 15 is not installed (postgresql-15)" >&2; exit 2; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  # Asks the kernel for a free port; the few milliseconds until the server binds it are a race
  # we accept and retry on.
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' \
    2>/dev/null || echo $((20000 + RANDOM % 40000))
}

start() {
  local dir=$1
  [ ! -e "$dir" ] || { echo "pg-server: $dir exists already" >&2; exit 2; }
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  if [ "$(id -u)" -eq 0 ] && ! runuser -u postgres -- test -x "$(dirname "$dir")"; then
    echo "pg-server: the postgres user cannot reach $(dirname "$dir") (make it a+x)" >&2
    rm -rf "$dir"
    exit 2
  fi
  local user
  user=$(id -un)
  if [ "$(id -u)" -eq 0 ]; then chown postgres: "$dir"; user=postgres; fi
  as_owner "$bin/initdb" -D "$dir/data" -U "$user" -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 2; }
  local port tries=0
  while :; do
    port=$(free_port)
    if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c max_connections=40" \
      start >/dev/null 2>&1; then
      break
    fi
    tries=$((tries + 1))
    [ "$tries" -lt 5 ] || { cat "$dir/server.log" >&2; exit 2; }
  done
  as_owner "$bin/psql" -q -h 127.0.0.1 -p "$port" -U "$user" -d postgres \
    -c "CREATE DATABASE accounts" >/dev/null
  as_owner "$bin/psql" -q -h 127.0.0.1 -p "$port" -U "$user" -d accounts \
    -c "CREATE EXTENSION orafce" >/dev/null
  cat >"$dir/odbc.ini" <<INI
[accounts]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $port
Database = accounts
Username = $user
INI
  cat >"$dir/env" <<ENV
export PGHOST=127.0.0.1 PGPORT=$port PGUSER=$user PGDATABASE=accounts ODBCINI=$dir/odbc.ini
ENV
  [ "$(id -u)" -ne 0 ] || chown postgres: "$dir/odbc.ini" "$dir/env"
  echo "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=$port;Database=accounts;Username=$user"
}

stop() {
  local dir=$1
  [ -d "$dir" ] || return 0
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "${1:-}" in
  start) start "${2:?folder}" ;;
  stop) stop "${2:?folder}" ;;
  *) echo "usage: pg-server.sh start|stop DIR" >&2; exit 2 ;;
esac
