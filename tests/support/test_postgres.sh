#!/usr/bin/env bash
# A PostgreSQL cluster of the tests' own: start makes one in DIR (initdb, as
# nobody when run as root, since the server refuses root) and serves it on
# a unix socket in DIR, and given a PORT also on 127.0.0.1:PORT with TLS,
# under a certificate made for it at start (the socket then takes that
# number too); stop stops it and removes DIR. Every test site gets a schema
# of its own in database "postgres", as user "qb".
#   tests/support/test_postgres.sh start|stop DIR [PORT]
set -euo pipefail
action=$1 dir=$2 port=${3:-}
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
  listen="-c listen_addresses="
  if [ -n "$port" ]; then
    as_owner openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$dir/server.key"  # mode 0600
    as_owner openssl req -x509 -key "$dir/server.key" -days 30 -subj /CN=127.0.0.1 -out "$dir/server.crt"
    listen="-p $port -c listen_addresses=127.0.0.1 -c ssl=on"
    listen+=" -c ssl_cert_file=$dir/server.crt -c ssl_key_file=$dir/server.key"
  fi
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-k $dir $listen -c unix_socket_permissions=0777 -c fsync=off -c max_connections=200" start >/dev/null ||
    { cat "$dir/server.log" >&2; exit 1; }
  ;;
stop)
  [ -d "$dir/data" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  rm -rf "$dir"
  ;;
esac
