#!/usr/bin/env bash
# Runs a command beside a throwaway PostgreSQL cluster: initdb in a temporary folder, the server
# listening only on a socket in that folder, one database; RINGOLAN_TEST_POSTGRES holds its
# address while the command runs. The cluster is stopped and removed afterwards; the command's
# exit status is the script's. As root the cluster runs as the user nobody.
#   scripts/with-postgres.sh CMD [ARG...]
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 CMD [ARG...]" >&2
  exit 2
fi

bindir=/usr/lib/postgresql/15/bin
[ -x "$bindir/initdb" ] || bindir=$(pg_config --bindir)
[ -x "$bindir/initdb" ] || { echo "with-postgres: initdb not found (install postgresql)" >&2; exit 1; }

dir=$(mktemp -d /tmp/ringolan-pg.XXXXXX)
chmod 755 "$dir"
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody: "$dir"
  as_owner=(runuser -u nobody --)
fi
started=
here=$PWD
cleanup() {
  cd /
  if [ -n "$started" ]; then
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -m immediate stop > /dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

# In the cluster's folder: the user nobody may not enter the current one.
cd "$dir"
"${as_owner[@]}" "$bindir/initdb" -D "$dir/data" -U ringolan -A trust -E UTF8 --locale=C --no-sync \
  > "$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
# A socket only (no TCP port to collide on); no durability needed for tests.
started=yes
"${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s \
  -o "-c listen_addresses='' -k $dir -p 5432 -c fsync=off -c synchronous_commit=off -c full_page_writes=off \
      -c shared_buffers=32MB -c max_connections=300" start || { cat "$dir/server.log" >&2; exit 1; }
"$bindir/createdb" -h "$dir" -p 5432 -U ringolan ringolan_test
cd "$here"

export RINGOLAN_TEST_POSTGRES="postgresql://ringolan@/ringolan_test?host=$dir&port=5432"
set +e
"$@"
status=$?
set -e
exit "$status"
