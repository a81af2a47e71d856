#!/usr/bin/env bash
# Runs a command against a throw-away PostgreSQL cluster:
#   scripts/with-pg.sh COMMAND [ARGS...]
# The cluster lives in a temporary folder, listens only on a Unix socket in
# that folder, runs as an unprivileged user when started as root, and is
# stopped and removed when the command ends, also when it fails.
# The command sees TORVANE_TEST_PG: the libpq connection string of an empty
# database "torvane" that the tests fill with one schema per test base.
set -euo pipefail
PGBIN=${PGBIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)}
[ -x "$PGBIN/initdb" ] || { echo "with-pg: PostgreSQL server binaries not found" >&2; exit 1; }

dir=$(mktemp -d /tmp/torvane-pg.XXXXXX)
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  user=postgres
  id "$user" >/dev/null 2>&1 || user=nobody
  chown "$user" "$dir"
  run_as=(runuser -u "$user" --)
fi
chmod 700 "$dir"

stop() {
  "${run_as[@]}" "$PGBIN/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap stop EXIT

"${run_as[@]}" "$PGBIN/initdb" -D "$dir/data" -U torvane --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
  || { cat "$dir/initdb.log" >&2; exit 1; }
# Throw-away data: no fsync; only the socket, no TCP port.
"${run_as[@]}" "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
  -o "-c listen_addresses='' -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" \
  start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
"$PGBIN/createdb" -h "$dir" -U torvane torvane

export TORVANE_TEST_PG="host=$dir user=torvane dbname=torvane"
export TORVANE_TEST_PG_DIR="$dir"
set +e
"$@"
rc=$?
set -e
exit $rc
