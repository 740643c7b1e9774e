#!/usr/bin/env bash
# Runs one command against a PostgreSQL server of its own:
#
#   server/tests/with-postgres.sh COMMAND [ARGS...]
#
# initdb into a fresh temporary folder, the server (run as the `postgres` system user, since it refuses
# root) listening only on a unix socket in that folder, a database `orvane`. COMMAND gets
# ORVANE_TEST_POSTGRES (the connection string), ORVANE_POSTGRES_DATA (the data folder) and
# ORVANE_POSTGRES_CTL (a command taking pg_ctl's arguments for this server, e.g. `restart -m fast`).
# Afterwards the server is stopped and the folder removed, whatever COMMAND did. Needs root.
set -u
bin=/usr/lib/postgresql/15/bin
user=postgres
if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi
fail() {
    echo "with-postgres: $*" >&2
    [ -f "$work/server.log" ] && tail -20 "$work/server.log" >&2
    exit 125
}
[ -x "$bin/initdb" ] || { echo "with-postgres: $bin/initdb is missing (apt-get install postgresql)" >&2; exit 125; }
id "$user" >/dev/null 2>&1 || { echo "with-postgres: no '$user' user" >&2; exit 125; }

work=$(mktemp -d /tmp/orvane-postgres.XXXXXX)
chown "$user:" "$work"
chmod 700 "$work"
data=$work/data
cleanup() {
    if [ -f "$data/postmaster.pid" ]; then
        runuser -u "$user" -- "$bin/pg_ctl" -D "$data" -m immediate -w -t 30 stop >/dev/null 2>&1
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

as_postgres() { runuser -u "$user" -- "$@"; }
as_postgres "$bin/initdb" -D "$data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 >"$work/initdb.log" 2>&1 ||
    { cat "$work/initdb.log" >&2; fail "initdb failed"; }
# Nothing on TCP: the socket lives in the private folder, so only root and postgres reach it.
cat >>"$data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$work'
port = 5432
fsync = on
max_connections = 60
shared_buffers = 32MB
log_min_messages = warning
CONF
as_postgres "$bin/pg_ctl" -D "$data" -l "$work/server.log" -w -t 60 start >/dev/null || fail "the server did not start"
as_postgres "$bin/createdb" -h "$work" -p 5432 orvane || fail "createdb failed"

export ORVANE_TEST_POSTGRES="postgresql:///orvane?host=$work&port=5432&user=postgres"
export ORVANE_POSTGRES_DATA="$data"
export ORVANE_POSTGRES_CTL="runuser -u $user -- $bin/pg_ctl -D $data -l $work/server.log -w -t 60"
"$@"
exit $?
