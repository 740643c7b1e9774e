#!/usr/bin/env bash
# Measures the game servers' API (docs/game-server.md) at a community's scale and prints one block of
# figures per backend, SQLite then PostgreSQL 15:
#
#   tools/bench-players.sh [--only sqlite|postgres] [--pairs N] [--lookups N] [--clients N] [--fills N]
#
# Each backend gets a fresh database, opened once by orvane-link-service (its migrations run, and a
# game-server key is made), then N pairs (100,000) seeded straight into the service's tables in one
# transaction (server/bench/seed_pairs.py). The real service then serves plain HTTP on a loopback port
# with threads = 2, and orvane-gameserver-bench (server/bench/) asks it:
#   - lookups: a fixed number (100,000) of GET /gameserver/players/{steamid64} from 4 kept-alive clients,
#     a quarter of them for ids nobody linked: requests/s, p50, p99, max;
#   - the feed's full fill, 3 times: since=0, limit=5000, until more=false: pages, bytes, wall time and
#     the service's CPU time (from /proc/PID/stat before and after).
# PostgreSQL runs in server/tests/with-postgres.sh, a server of the run's own; its CPU (backends
# included) is shown beside the service's. Every answer is checked against the seed. Nothing leaves
# loopback; everything is stopped and deleted at the end (about 2 minutes once built).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/server"
base=/orvane-launcher/v1/9e3f51d0
host=link.bench.test
given=("$@")
only=
built=
pairs=100000
lookups=100000
clients=4
fills=3
usage="usage: $0 [--only sqlite|postgres] [--pairs N] [--lookups N] [--clients N] [--fills N]"
while [ $# -gt 0 ]; do
    case $1 in
    --only | --pairs | --lookups | --clients | --fills)
        [ $# -ge 2 ] || { echo "$1 needs a value" >&2; exit 64; }
        case $1 in
        --only) only=$2 ;;
        --pairs) pairs=$2 ;;
        --lookups) lookups=$2 ;;
        --clients) clients=$2 ;;
        --fills) fills=$2 ;;
        esac
        shift
        ;;
    --built) built=1 ;; # the programs are already built (the run of one backend for the run of both)
    *) echo "$usage" >&2; exit 64 ;;
    esac
    shift
done
case $only in '' | sqlite | postgres) ;; *) echo "$usage" >&2; exit 64 ;; esac
for number in "$pairs" "$lookups" "$clients" "$fills"; do
    case $number in '' | *[!0-9]*) echo "$usage" >&2; exit 64 ;; esac
done

fail() {
    echo "bench-players: $*" >&2
    [ -n "${work:-}" ] && [ -f "$work/service.out" ] && tail -n 20 "$work/service.out" >&2
    exit 1
}

if [ -z "$built" ]; then
    log="$build/bench-build.log"
    mkdir -p "$build"
    nice cmake -S "$root/server" -B "$build" -G Ninja -DORVANE_SERVICE_TESTS=ON >"$log" 2>&1 || { tail -n 30 "$log"; fail "cmake failed"; }
    nice cmake --build "$build" -j 2 --target orvane-link-service --target orvane-gameserver-bench >>"$log" 2>&1 ||
        { tail -n 30 "$log"; fail "build failed"; }
fi
if [ -z "$only" ]; then
    status=0
    bash "$0" "${given[@]}" --built --only sqlite || status=1
    bash "$0" "${given[@]}" --built --only postgres || status=1
    exit $status
fi
if [ "$only" = postgres ] && [ -z "${ORVANE_TEST_POSTGRES:-}" ]; then
    exec "$root/server/tests/with-postgres.sh" bash "$0" "${given[@]}" --built
fi

service="$build/orvane-link-service"
bench="$build/bench/orvane-gameserver-bench"
seed="$root/server/bench/seed_pairs.py"
umask 077 # the key file
work=$(mktemp -d /tmp/orvane-bench-players.XXXXXX)
service_pid=
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null
        wait "$service_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "$only" = postgres ]; then
    database=$ORVANE_TEST_POSTGRES
    store_name="PostgreSQL 15 (server/tests/with-postgres.sh)"
    database_pid=$(head -n 1 "$ORVANE_POSTGRES_DATA/postmaster.pid")
    sql=(psql "$database" -v ON_ERROR_STOP=1 -qtA)
    query() { "${sql[@]}" -c "$1" </dev/null; }
else
    database=$work/link.sqlite
    store_name="SQLite"
    database_pid=
    sql=(sqlite3 -bail "$database")
    query() { "${sql[@]}" "$1" </dev/null; }
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/service.conf" <<EOF
# Throwaway configuration of the game-server benchmark: plain HTTP on loopback, as behind a reverse proxy.
public_host = $host
listen = 127.0.0.1:$port
database = $database
server_address = play.bench.test:27015
community_url = https://community.bench.test/
require_linking = true
# Discord as a community sets it up (the rule is steam+discord); nothing here reaches Discord or Steam.
discord_client_id = 100000000000000001
discord_client_secret = bench-only-not-a-secret
# The most a key may be allowed: a bucket of 1,000,000, more than one run asks.
gameserver_requests_per_minute = 1000000
threads = 2
EOF

echo "== game servers' API on $store_name: $pairs pairs =="
echo "machine: $(nproc) cores ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)), load average" \
    "before: $(cut -d ' ' -f 1-3 /proc/loadavg)"

# The service's first opening of the database runs its migrations; the key it prints goes to a file only.
"$service" --config "$work/service.conf" gameserver-keys add bench >"$work/key.out" 2>"$work/service.out" ||
    fail "gameserver-keys add failed"
sed -n 2p "$work/key.out" >"$work/key"
rm -f "$work/key.out"
[ "$(tr -d '\n' <"$work/key" | wc -c)" -eq 43 ] || fail "gameserver-keys add printed no key"

schema=$(query "SELECT MAX(version) FROM schema_migrations")
[ "$schema" = "$(python3 "$seed" --schema-version)" ] ||
    fail "the schema is version $schema; seed_pairs.py writes the rows of version $(python3 "$seed" --schema-version)"
[ "$(query "SELECT COUNT(*) FROM pairs")" = 0 ] || fail "the fresh database already holds pairs"
began=$(date +%s.%N)
python3 "$seed" --pairs "$pairs" >"$work/seed.sql" || fail "seed_pairs.py failed"
timeout 600 "${sql[@]}" <"$work/seed.sql" >/dev/null || fail "the seed failed"
seeded=$(date +%s.%N)
if [ "$only" = postgres ]; then
    # A live database would have been vacuumed and analysed by autovacuum long before 100,000 links.
    "${sql[@]}" -c "VACUUM ANALYZE pairs" -c "VACUUM ANALYZE player_feed" -c "VACUUM ANALYZE feed_counter" \
        </dev/null || fail "VACUUM ANALYZE failed"
fi
with_discord=$(query "SELECT COUNT(*) FROM pairs WHERE discord_id IS NOT NULL")
echo "seed: $(query "SELECT COUNT(*) FROM pairs") pairs, $with_discord with a Discord, feed cursor" \
    "$(query "SELECT seq FROM feed_counter"), in one transaction of" \
    "$(python3 -c "print(f'{$seeded - $began:.1f}')") s ($(du -k "$work/seed.sql" | cut -f 1) KiB of SQL)"
[ "$only" = sqlite ] && echo "database file: $(du -k "$database" | cut -f 1) KiB"
rm -f "$work/seed.sql"

"$service" --config "$work/service.conf" </dev/null >>"$work/service.out" 2>&1 &
service_pid=$!
ready=
for _ in $(seq 1 300); do
    kill -0 "$service_pid" 2>/dev/null || fail "the service did not start"
    if [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 -H "Host: $host" \
        "http://127.0.0.1:$port$base/config")" = 200 ]; then
        ready=1
        break
    fi
    sleep 0.1
done
[ -n "$ready" ] || fail "the service did not answer within 30 s"

watch=(--target "127.0.0.1:$port" --host "$host" --key-file "$work/key" --watch-pid "$service_pid"
    --pairs "$pairs" --with-discord "$with_discord")
[ -n "$database_pid" ] && watch+=(--database-pid "$database_pid")
status=0
timeout 900 "$bench" lookups "${watch[@]}" --count "$lookups" --clients "$clients" || status=1
timeout 900 "$bench" feed "${watch[@]}" --fills "$fills" --limit 5000 || status=1
echo "service: threads = 2, peak resident memory $(sed -n 's/^VmHWM:[[:space:]]*//p' "/proc/$service_pid/status")"
echo "load average after: $(cut -d ' ' -f 1-3 /proc/loadavg)"
exit $status
