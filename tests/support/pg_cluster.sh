#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests: Debian's server binaries, a cluster in a
# folder of its own, reached only through a Unix socket in that folder.
#
#   pg_cluster.sh start DIR PORT   initdb into DIR, start, create the test databases
#   pg_cluster.sh stop DIR         stop the server and remove DIR (also when half-started)
#
# The server refuses to run as root; as root it runs as the unprivileged user postgres
# (created by Debian's package), otherwise as the calling user.
#
# The cluster is made as hard to talk to as a lab's may be: a UTF-8 locale (letter case
# of names beyond ASCII follows the locale), and test databases that send doubles with
# extra_float_digits = 0 (fifteen digits) unless the session asks for more.
set -euo pipefail
action=$1 dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$bin/initdb" ] || { echo "PostgreSQL server binaries not found (install postgresql-15)" >&2; exit 1; }
as=()
if [ "$(id -u)" -eq 0 ]; then as=(runuser -u postgres --); fi
# The server's user may not be able to enter the folder the tests run in (a checkout
# under /root): every step runs from /tmp.
cd /tmp
case $action in
start)
  port=$3
  rm -rf "$dir"
  mkdir -p "$dir"
  [ ${#as[@]} -eq 0 ] || chown postgres "$dir"
  "${as[@]}" "$bin/initdb" -D "$dir/data" --auth=trust --username=aquilevel -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; exit 1; }
  # In the cluster's own settings, so that a restart (the fault test) finds them again.
  printf "listen_addresses = ''\nunix_socket_directories = '%s'\nport = %s\nfsync = off\nmax_connections = 100\n" \
    "$dir" "$port" >>"$dir/data/postgresql.conf"
  "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start >/dev/null \
    || { cat "$dir/server.log" >&2; exit 1; }
  # One database for each kind of test, so that they can run at the same time.
  for db in aquilevel_test aquilevel_load aquilevel_copy aquilevel_e2e; do
    "${as[@]}" "$bin/createdb" -h "$dir" -p "$port" -U aquilevel "$db"
    "${as[@]}" "$bin/psql" -X -q -h "$dir" -p "$port" -U aquilevel -d "$db" \
      -c "ALTER DATABASE $db SET extra_float_digits = 0" >/dev/null
  done
  ;;
stop)
  if [ -d "$dir/data" ]; then
    "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
*)
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
  ;;
esac
