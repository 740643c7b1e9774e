#!/usr/bin/env bash
# Measures the link service under the launchers' polling (GET /config and GET /session, each every 30 s
# per launcher: 4 requests a minute) and prints one table:
#
#   tools/bench-service.sh [--double | --service PROGRAM] [--quick] [--rsa] [--threads N] [--scale]
#                          [--postgres]
#
# It builds orvane-link-service and orvane-link-bench (build/server), makes a throwaway CA and a
# certificate for link.bench.test (ECDSA P-256; --rsa: RSA 2048), starts the service on a free loopback
# address with a configuration of its own, creates 10,000 sessions, then runs, each for a fixed time:
#   - saturation, a new TLS connection per request, and with kept-alive connections;
#   - 667 req/s (10,000 launchers) and 6,667 req/s (100,000 launchers), open loop, both ways;
#   - 300 silent TLS connections and 300 sending a request a byte a second, beside 667 req/s; then 300
#     TCP connections silent before the TLS handshake, beside 667 req/s.
# The service's CPU and memory come from /proc, the generator's from its own rusage; both share this
# machine's cores. Everything stays on loopback and is stopped and deleted at the end (about 4 minutes).
# --double: the project's Python test double instead (slow: for checking the generator only).
# --service: this orvane-link-service program instead of the one built here.
# --quick: a few seconds per scenario. Raw figures: build/server/bench-report.txt.
# --scale: then a community's scale (tools/bench-scale-scenarios.sh): the cost at 1,000 launchers, a
#   minute of 100,000 launchers polling while 10,000 start and 1,000 link Steam, and a second instance.
#   Runs inside server/tests/with-fake-providers.sh, so the links reach a fake Steam (about 8 minutes).
# --postgres: the service's database on a PostgreSQL server of the run's own (server/tests/with-postgres.sh)
#   instead of a SQLite file.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/server"
source "$root/tools/test-ca.sh"
host=link.bench.test
base=/orvane-launcher/v1/9e3f51d0
use_double=
service=
quick=
scale=
postgres=
given=("$@")
key_type=ecdsa
threads=1
while [ $# -gt 0 ]; do
    case $1 in
    --double) use_double=1 ;;
    --quick) quick=1 ;;
    --rsa) key_type=rsa ;;
    --scale) scale=1 ;;
    --postgres) postgres=1 ;;
    --service)
        [ $# -ge 2 ] && [ -x "$2" ] || { echo "--service needs an executable program" >&2; exit 64; }
        service=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
        shift
        ;;
    --threads)
        [ $# -ge 2 ] || { echo "--threads needs a number" >&2; exit 64; }
        threads=$2
        shift
        ;;
    *)
        echo "usage: $0 [--double | --service PROGRAM] [--quick] [--rsa] [--threads N] [--scale] [--postgres]" >&2
        exit 64
        ;;
    esac
    shift
done

# A PostgreSQL server of the run's own; links need Steam: the fake one, under its real name.
if [ -n "$postgres" ] && [ -z "${ORVANE_TEST_POSTGRES:-}" ]; then
    exec "$root/server/tests/with-postgres.sh" bash "$0" "${given[@]}"
fi
if [ -n "$scale" ] && [ -z "${ORVANE_PROVIDERS_CONTROL:-}" ]; then
    exec "$root/server/tests/with-fake-providers.sh" bash "$0" "${given[@]}"
fi

work=$(mktemp -d /tmp/orvane-bench-service.XXXXXX)
service_pid=
second_pid=
cleanup() {
    for pid in $service_pid $second_pid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "bench-service: $*" >&2
    [ -f "$work/service.out" ] && tail -n 20 "$work/service.out" >&2
    exit 1
}

# Build: the two programs only, so the run does not wait for the tests.
log="$build/bench-build.log"
mkdir -p "$build"
nice cmake -S "$root/server" -B "$build" -G Ninja -DORVANE_SERVICE_TESTS=ON >"$log" 2>&1 || { tail -n 30 "$log"; fail "cmake failed"; }
targets=(--target orvane-link-bench)
if [ -z "$use_double" ] && [ -z "$service" ]; then
    service="$build/orvane-link-service"
    targets+=(--target orvane-link-service)
fi
nice cmake --build "$build" -j "$(nproc)" "${targets[@]}" >>"$log" 2>&1 || { tail -n 30 "$log"; fail "build failed"; }
bench="$build/bench/orvane-link-bench"

# Certificates: a CA of this run only, and the service's certificate signed by it.
make_test_pair "$work" service "DNS:$host" "$key_type" || fail "openssl could not make the certificates"

# A loopback address of its own, so other services on this machine are never in the way.
address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
port=18443
# Thousands of connections each way.
ulimit -n "$(ulimit -Hn)"

if [ -n "$use_double" ]; then
    backend="Python test double (tools/link-service/link_service.py)"
    python3 "$root/tools/link-service/link_service.py" --control "$address:18471" serve \
        --listen "$address:$port" --cert "$work/service.pem" --key "$work/service.key" --public-host "$host" \
        </dev/null >"$work/service.out" 2>&1 &
    service_pid=$!
else
    store_name=SQLite
    [ -n "$postgres" ] && store_name="PostgreSQL 15"
    backend="orvane-link-service ($service) on $store_name"
    cat >"$work/service.conf" <<EOF
# Throwaway configuration of the benchmark: loopback only, no provider reachable.
public_host = $host:$port
listen = $address:$port
tls_certificate = $work/service.pem
tls_private_key = $work/service.key
database = ${ORVANE_TEST_POSTGRES:-$work/link.sqlite}
server_address = play.bench.test:27015
community_url = https://community.bench.test/
require_linking = true
# Discord as a community sets it up; the benchmark never reaches Discord, and Steam only with --scale
# (the fake one).
discord_client_id = 100000000000000001
discord_client_secret = bench-only-not-a-secret
# Every client here is one loopback address: the per-address limits would stop the benchmark itself.
sessions_per_minute = 100000
requests_per_minute = 0
max_connections_per_address = 1000000
threads = 2
EOF
    "$service" --config "$work/service.conf" </dev/null >"$work/service.out" 2>&1 &
    service_pid=$!
fi

# Ready once /config answers over TLS with the test CA.
ready=
for _ in $(seq 1 100); do
    kill -0 "$service_pid" 2>/dev/null || fail "the service did not start"
    if curl -s -o /dev/null --max-time 2 --cacert "$work/service-ca.pem" --resolve "$host:$port:$address" \
        "https://$host:$port$base/config"; then
        ready=1
        break
    fi
    sleep 0.1
done
[ -n "$ready" ] || fail "the service did not answer"

reach=(--target "$address:$port" --host "$host" --ca "$work/service-ca.pem")
if [ -n "$quick" ]; then
    sessions=200 sat_s=3 rate_s=3 slow_s=10 idle_memory=300
elif [ -n "$use_double" ]; then
    sessions=1000 sat_s=15 rate_s=20 slow_s=30 idle_memory=300
else
    sessions=10000 sat_s=15 rate_s=20 slow_s=30 idle_memory=3000
fi
report="$build/bench-report.txt"
loadavg_before=$(cut -d' ' -f1-3 /proc/loadavg)
{
    echo "# orvane-link-service benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "# service: $backend; certificate: $key_type; generator threads: $threads"
    echo "# machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
    echo "# load average before: $loadavg_before"
} >"$report"

echo "Creating $sessions sessions..." >&2
"$bench" "${reach[@]}" --sessions "$sessions" --save-tokens "$work/tokens" \
    >"$work/sessions.out" 2>&1 || { cat "$work/sessions.out" >&2; fail "sessions could not be created"; }
grep '^sessions_made' "$work/sessions.out" >>"$report"

# CPU seconds the PostgreSQL server's processes have used so far (0 on SQLite).
database_cpu_seconds() {
    [ -n "$postgres" ] || { echo 0; return; }
    local pid ticks=0
    for pid in $(pgrep -u postgres); do
        ticks=$((ticks + $(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)))
    done
    awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { print t / hz }'
}
scenario() {
    local label=$1 before started
    shift
    echo "Running: $label" >&2
    before=$(database_cpu_seconds)
    started=$(date +%s.%N)
    "$bench" "${reach[@]}" --watch-pid "$service_pid" --threads "$threads" --token-file "$work/tokens" \
        --label "$label" "$@" >"$work/run.out" 2>&1 ||
        { cat "$work/run.out" >&2; fail "the generator failed in: $label"; }
    [ -n "$postgres" ] && awk -v a="$before" -v b="$(database_cpu_seconds)" -v t0="$started" -v t1="$(date +%s.%N)" \
        'BEGIN { printf "database_cpu: %.0f%% of one core\n", 100 * (b - a) / (t1 - t0) }' >>"$work/run.out"
    { echo; cat "$work/run.out"; } >>"$report"
}
# First, on a service that has held no connection yet: what an open, idle TLS connection costs it.
scenario "$idle_memory idle TLS connections, 10 req/s" --rate 10 --seconds 5 --idle "$idle_memory"
scenario "saturation, new connection each" --saturate --seconds "$sat_s" --connections 64
scenario "saturation, kept alive" --saturate --seconds "$sat_s" --keep-alive --connections 64
scenario "667 req/s, new connection each" --rate 667 --seconds "$rate_s"
scenario "667 req/s, kept alive" --rate 667 --seconds "$rate_s" --keep-alive --connections 1000
scenario "6,667 req/s, new connection each" --rate 6667 --seconds "$rate_s"
scenario "6,667 req/s, kept alive" --rate 6667 --seconds "$rate_s" --keep-alive --connections 1000
scenario "667 req/s new each + 300 idle + 300 trickling" --rate 667 --seconds "$slow_s" --idle 300 \
    --trickle 300
scenario "667 req/s new each + 300 silent before TLS" --rate 667 --seconds "$slow_s" --silent-tcp 300
if [ -n "$scale" ]; then
    source "$root/tools/bench-scale-scenarios.sh"
fi
echo "# load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$report"

# The table: one row per scenario, from the blocks the generator printed.
awk '
function field(line, key,   re) {
    re = key "=[^ ]*"
    if (match(line, re)) return substr(line, RSTART + length(key) + 1, RLENGTH - length(key) - 1)
    return "-"
}
function reset() {
    sent = answered = failures = handshakes = rate = p50 = p99 = max = gen = svc = per = rss = hwm = db = "-"
}
# One row per block, when the next block begins or the report ends.
function flush() {
    if (name == "") return
    if (!header++) {
        print ""
        print "| scenario | sent | answered | failures | TLS handshakes | rate | p50 ms | p99 ms | max ms | service CPU | service CPU ms/answer | database CPU | generator CPU | service RSS peak MiB | VmHWM MiB |"
        print "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    }
    printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", name, sent, answered, failures, handshakes, rate, p50, p99, max, svc, per, db, gen, rss, hwm
    name = ""
}
BEGIN { reset() }
/^#/ { print; next }
/^sessions_made:/ { print "# " $0; next }
/^scenario:/ { flush(); reset(); sub(/^scenario: /, ""); name = $0; next }
/^sent:/ { sent = $2 }
/^answered:/ { answered = $2 }
/^failures:/ { failures = $2; for (i = 3; i <= NF; i++) failures = failures " " $i }
/^tls_handshakes:/ { handshakes = $2 }
/^achieved_rate:/ { rate = $2 " " $3 }
/^latency_ms:/ { p50 = field($0, "p50"); p99 = field($0, "p99"); max = field($0, "max") }
/^generator_cpu:/ { gen = $2 }
/^service_cpu:/ { svc = $2 }
/^service_cpu_ms_per_answer:/ { per = $2 }
/^database_cpu:/ { db = $2 }
/^service_memory_mib:/ { rss = field($0, "rss_peak"); hwm = field($0, "hwm") }
/^(idle|trickle|silent_tcp)_connections:/ { slow = slow "\n" name ": " $0 }
/^service_memory_mib:/ && name ~ /idle TLS connections/ {
    split(name, words, " ")
    per_connection = (field($0, "rss_start") - field($0, "rss_unconnected")) * 1024 / words[1]
}
END {
    flush()
    if (slow != "") print "\nslow clients:" slow
    if (per_connection != "") printf "\nservice memory per idle TLS connection: %.0f KiB\n", per_connection
}
' "$report"
echo
echo "(CPU in % of one core; the machine has $(nproc). Raw figures: $report)"
