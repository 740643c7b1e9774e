#!/usr/bin/env bash
# Runs one command against the project's real link service, orvane-link-service (server/), with only
# Steam and Discord faked:
#
#   tools/with-real-service.sh [--host HOST] [--settings FILE] [--postgres] COMMAND [ARGS...]
#
# - the fake Steam and Discord of server/tests/with-fake-providers.sh, under their real names;
# - a throwaway CA and a certificate for HOST, the CA trusted inside the project's Wine prefix only;
# - orvane-link-service (ORVANE_LINK_SERVICE_PROGRAM, by default build/server/orvane-link-service) on
#   port 443 of a free loopback address, configured for this run: HOST, that certificate, a new SQLite
#   file (--postgres: a PostgreSQL server of the run's own, server/tests/with-postgres.sh), the fake
#   Discord's application, an admin key, and FILE's settings (server address, community
#   page, require_linking, news; by default tools/demo-service.conf);
# - HOST mapped to that address, beside the providers' names, in a private mount namespace that only
#   COMMAND sees.
# COMMAND gets with-fake-providers.sh's variables and ORVANE_LINK_SERVICE_HOST, ORVANE_LINK_CA (the CA
# of HOST's certificate, for clients outside Wine), ORVANE_SERVICE_LOG (the service's output: one line a
# request), ORVANE_SERVICE_CONFIG (its configuration, for `orvane-link-service --config ... players`),
# ORVANE_LINK_SERVICE_PROGRAM and ORVANE_SERVICE_ADMIN_KEY_FILE. Afterwards the service is stopped, the
# CA removed from the prefix and the files deleted. Needs root (port 443, mount namespaces).
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
source "$here/wine-env.sh"
source "$here/test-ca.sh"

work=${ORVANE_REAL_SERVICE_WORK:-}
service_pid=
thumbprint=
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null
        wait "$service_pid" 2>/dev/null
    fi
    # Only the outer run owns the prefix's CA and the files.
    if [ -z "${ORVANE_REAL_SERVICE_WORK:-}" ] && [ -n "$work" ]; then
        untrust_in_prefix "$thumbprint"
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "with-real-service: $*" >&2
    [ -f "$work/service.log" ] && tail -n 20 "$work/service.log" >&2
    exit 125
}

# Inside the providers' namespace: the service, then COMMAND with HOST mapped to it.
serve_and_run() {
    local program=$ORVANE_LINK_SERVICE_PROGRAM address
    printf '%s\n' "$ORVANE_DISCORD_CLIENT_SECRET" >"$work/discord-secret"
    openssl rand -hex 24 >"$work/admin-key"
    chmod 600 "$work/discord-secret" "$work/admin-key"
    for _ in 1 2 3 4 5; do
        address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
        {
            echo "# This run's own service: loopback only, the providers faked."
            echo "public_host = $ORVANE_LINK_SERVICE_HOST"
            echo "listen = $address:443"
            echo "tls_certificate = $work/service.pem"
            echo "tls_private_key = $work/service.key"
            echo "database = ${ORVANE_TEST_POSTGRES:-$work/links.sqlite}"
            echo "discord_client_id = $ORVANE_DISCORD_CLIENT_ID"
            echo "discord_client_secret_file = $work/discord-secret"
            echo "admin_api_key_file = $work/admin-key"
            cat "$ORVANE_REAL_SERVICE_SETTINGS"
        } >"$work/service.conf"
        # The service reads ORVANE_LINK_* as configuration; the harness's own variables are not.
        env $(compgen -e | sed -n 's/^ORVANE_LINK_/-u &/p') "$program" --config "$work/service.conf" \
            </dev/null >"$work/service.log" 2>&1 &
        service_pid=$!
        for _ in $(seq 1 200); do
            grep -qs '"event":"serving"' "$work/service.log" && break 
            kill -0 "$service_pid" 2>/dev/null || break
            sleep 0.05
        done
        grep -qs '"event":"serving"' "$work/service.log" && break 
        kill "$service_pid" 2>/dev/null
        wait "$service_pid" 2>/dev/null
        service_pid=
    done
    [ -n "$service_pid" ] || fail "the link service did not start"
    export ORVANE_SERVICE_LOG="$work/service.log" ORVANE_SERVICE_CONFIG="$work/service.conf" \
        ORVANE_SERVICE_ADMIN_KEY_FILE="$work/admin-key"
    "$here/with-hosts.sh" "$address" "$ORVANE_LINK_SERVICE_HOST" -- "$@"
}

if [ -n "$work" ]; then
    serve_and_run "$@"
    exit $?
fi

source "$here/host-option.sh"
settings="$here/demo-service.conf"
if [ "${1:-}" = "--settings" ]; then
    [ $# -ge 2 ] && [ -f "$2" ] || { echo "with-real-service: --settings needs a file" >&2; exit 2; }
    settings=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
    shift 2
fi
under=()
if [ "${1:-}" = "--postgres" ]; then
    under=("$root/server/tests/with-postgres.sh")
    shift
fi
[ $# -gt 0 ] || { echo "usage: $0 [--host HOST] [--settings FILE] [--postgres] COMMAND [ARGS...]" >&2; exit 2; }
program=${ORVANE_LINK_SERVICE_PROGRAM:-$root/build/server/orvane-link-service}
[ -x "$program" ] || { echo "with-real-service: no link service at $program (build server/ first)" >&2; exit 125; }

work=$(mktemp -d /tmp/orvane-real-service.XXXXXX)
"$here/wine-prefix.sh" || fail "the Wine prefix could not be created"
make_test_pair "$work" service "DNS:$host" || fail "openssl could not make the test certificates"
thumbprint=$(trust_in_prefix "$work/service-ca.pem" "$work") ||
    fail "the test CA could not be imported into the Wine prefix"

export ORVANE_REAL_SERVICE_WORK="$work" ORVANE_REAL_SERVICE_SETTINGS="$settings" \
    ORVANE_LINK_SERVICE_PROGRAM="$program" ORVANE_LINK_SERVICE_HOST="$host" ORVANE_LINK_CA="$work/service-ca.pem"
"${under[@]}" "$root/server/tests/with-fake-providers.sh" bash "$0" "$@"
exit $?
