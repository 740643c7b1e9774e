# The community-scale part of tools/bench-service.sh (--scale), sourced by it after its own scenarios,
# with its service, tokens, report and `scenario` function:
#   - the cost at 1,000 launchers (67 req/s), both ways: with 667 and 6,667 req/s above, the cost curve;
#   - a community's minute, twice (the polling kept alive, then a new connection each): 100,000 launchers
#     polling (6,667 req/s), 10,000 launchers starting within the minute (POST /sessions, GET /config,
#     GET /session each: 500 req/s, a new connection each) and 1,000 players linking Steam (through the
#     fake Steam and back to the callback), all at once;
#   - a second instance on the same database: kept-alive saturation of one instance, then of two, each
#     with a generator of its own.

minute=60
[ -n "$quick" ] && minute=10

scenario "67 req/s (1,000 launchers), new connection each" --rate 66.7 --seconds "$rate_s"
scenario "67 req/s (1,000 launchers), kept alive" --rate 66.7 --seconds "$rate_s" --keep-alive --connections 100

# Runs the generators and the linker together; the service's CPU and memory come with each generator.
community_minute() {
    local way=$1
    shift
    echo "Running: a community's minute, polling $way" >&2
    "$bench" "${reach[@]}" --watch-pid "$service_pid" --threads "$threads" --token-file "$work/tokens" \
        --label "minute, polling $way: 100,000 launchers polling" --rate 6667 --seconds "$minute" "$@" \
        >"$work/steady.out" 2>&1 &
    local steady=$!
    "$bench" "${reach[@]}" --watch-pid "$service_pid" --token-file "$work/tokens" --startups \
        --label "minute, polling $way: 10,000 launchers starting" --rate $((10000 * 3 / 60)) \
        --seconds "$minute" >"$work/startups.out" 2>&1 &
    local startups=$!
    ORVANE_LINK_CA="$work/service-ca.pem" "$root/tools/with-hosts.sh" "$address" "$host" -- \
        python3 "$root/server/bench/linker.py" --base "https://$host:$port$base" --tokens "$work/tokens" \
        --per-minute 1000 --seconds "$minute" --label "minute, polling $way: 1,000 Steam links" \
        >"$work/links.out" 2>&1 &
    local links=$!
    local failed=
    wait "$steady" || failed=1
    wait "$startups" || failed=1
    wait "$links" || failed=1
    for part in steady startups links; do
        { echo; cat "$work/$part.out"; } >>"$report"
    done
    [ -z "$failed" ] || { cat "$work/steady.out" "$work/startups.out" "$work/links.out" >&2; fail "a community's minute failed"; }
}
community_minute "kept alive" --keep-alive --connections 1000
community_minute "new connection each"

# A second instance: the same configuration on another loopback address, the same database.
second=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
sed "s/^listen = .*/listen = $second:$port/" "$work/service.conf" >"$work/second.conf"
"$service" --config "$work/second.conf" </dev/null >"$work/second.out" 2>&1 &
second_pid=$!
for _ in $(seq 1 100); do
    curl -s -o /dev/null --max-time 2 --cacert "$work/service-ca.pem" --resolve "$host:$port:$second" \
        "https://$host:$port$base/config" && break
    sleep 0.1
done
echo "Running: saturation, kept alive, on two instances" >&2
generators=()
for target in "$address" "$second"; do
    pid=$service_pid
    [ "$target" = "$second" ] && pid=$second_pid
    "$bench" --target "$target:$port" --host "$host" --ca "$work/service-ca.pem" --watch-pid "$pid" \
        --threads "$threads" --token-file "$work/tokens" --label "saturation, kept alive, instance at $target of two" \
        --saturate --seconds "$sat_s" --keep-alive --connections 32 >"$work/two-$target.out" 2>&1 &
    generators+=($!)
done
wait "${generators[@]}"
kill "$second_pid" 2>/dev/null
wait "$second_pid" 2>/dev/null
for target in "$address" "$second"; do
    { echo; cat "$work/two-$target.out"; } >>"$report"
done
