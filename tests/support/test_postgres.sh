#!/usr/bin/env bash
# A PostgreSQL cluster of the tests' own: start makes one in DIR (initdb, as
# nobody when run as root, since the server refuses root) and serves it on
# a unix socket in DIR only; stop stops it and removes DIR. Every test site
# gets a schema of its own in database "postgres", as user "qb".
#   tests/support/test_postgres.sh start|stop DIR
set -euo pipefail
action=$1 dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ]; then
  echo "test_postgres: PostgreSQL's server is not installed (apt-get install postgresql)" >&2
  [ -n "${CI:-}" ] && exit 1
  exit 0  # the tests that need it skip themselves
fi
as_owner() { if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }

case $action in
start)
  if [ -d "$dir/data" ]; then as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; fi
  rm -rf "$dir"
  mkdir -p "$dir"
  [ "$(id -u)" = 0 ] && chown nobody "$dir"
  chmod 755 "$dir"
  as_owner "$bin/initdb" -D "$dir/data" -A trust -U qb -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log"
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-k $dir -c listen_addresses= -c unix_socket_permissions=0777 -c fsync=off -c max_connections=200" start >/dev/null
  ;;
stop)
  [ -d "$dir/data" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  rm -rf "$dir"
  ;;
esac
