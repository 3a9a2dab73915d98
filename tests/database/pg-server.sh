#!/usr/bin/env bash
# The database tests' own PostgreSQL server: a new cluster for each run of the tier, never the
# machine's own.
#   pg-server.sh start DIR   initdb into a scratch cluster, start it listening on a Unix socket
#                            and on a free loopback port; writes DIR/conninfo (the superuser's
#                            libpq string, over the socket) and DIR/port
#   pg-server.sh stop DIR    stops the server and removes the cluster; safe to run again
# The cluster lies in DIR/cluster when its owner can reach it there and the socket's path is short
# enough, else in a folder of its own under /tmp (DIR/cluster-dir names it). PostgreSQL refuses
# to run as root: as root the server runs as the user postgres (Debian's server package makes it),
# or as a system user obrint-pg made here.
set -euo pipefail

action=${1:-}
dir=${2:-}
[ -n "$dir" ] && { [ "$action" = start ] || [ "$action" = stop ]; } ||
  { echo "usage: $0 start|stop DIR" >&2; exit 2; }
bin=$(pg_config --bindir)
[ -x "$bin/initdb" ] || { echo "no initdb in $bin: install postgresql-15" >&2; exit 1; }
dir=$(mkdir -p "$dir" && cd "$dir" && pwd)

as_owner() {
  if [ -n "${owner:-}" ]; then runuser -u "$owner" -- "$@"; else "$@"; fi
}

owner=
if [ "$(id -u)" -eq 0 ]; then
  owner=postgres
  if ! id -u "$owner" >/dev/null 2>&1; then
    owner=obrint-pg
    id -u "$owner" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$owner"
  fi
fi

stop() {
  local cluster
  cluster=$(cat "$dir/cluster-dir" 2>/dev/null) || return 0
  if [ -f "$cluster/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" stop -D "$cluster/data" -m immediate -w -t 30 >/dev/null 2>&1 || true
  fi
  rm -rf "$cluster" "$dir/cluster-dir" "$dir/conninfo" "$dir/port"
}

if [ "$action" = stop ]; then
  stop
  exit 0
fi

stop  # what an earlier run that was killed left
cluster=$dir/cluster
mkdir -p "$cluster"
[ -z "$owner" ] || chown "$owner" "$cluster"
# The socket's path has room for about 100 bytes.
if ! as_owner test -w "$cluster" || [ ${#cluster} -gt 80 ]; then
  rm -rf "$cluster"
  cluster=$(mktemp -d /tmp/obrint-pg.XXXXXX)
  [ -z "$owner" ] || chown "$owner" "$cluster"
fi
echo "$cluster" >"$dir/cluster-dir"
chmod 700 "$cluster"

as_owner "$bin/initdb" -D "$cluster/data" -U postgres --no-sync -E UTF8 --locale=C \
  --auth-local=trust --auth-host=scram-sha-256 >"$cluster/initdb.log" 2>&1 ||
  { cat "$cluster/initdb.log" >&2; exit 1; }
# The superuser over the socket, which only the owner (and root) may open; every other role with
# its password, over the socket or the loopback port.
cat >"$cluster/data/pg_hba.conf" <<'EOF'
local all postgres trust
local all all scram-sha-256
host all all 127.0.0.1/32 scram-sha-256
EOF
# A scratch cluster: nothing of it need survive a crash.
cat >>"$cluster/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$cluster'
unix_socket_permissions = 0700
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 60
EOF

for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 30000))
  if as_owner "$bin/pg_ctl" start -D "$cluster/data" -o "-p $port" -l "$cluster/server.log" \
    -w -t 60 >/dev/null 2>&1; then
    echo "host=$cluster port=$port user=postgres dbname=postgres" >"$dir/conninfo"
    echo "$port" >"$dir/port"
    exit 0
  fi
  grep -q "could not bind" "$cluster/server.log" 2>/dev/null || break  # not a port in use
  echo "pg-server: port $port in use (attempt $attempt)" >&2
done
cat "$cluster/server.log" >&2 2>/dev/null || true
stop
exit 1
