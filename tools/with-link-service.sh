#!/usr/bin/env bash
# Runs one command against the project's own link service, as the launcher would reach the real one:
#
#   tools/with-link-service.sh [--host HOST] COMMAND [ARGS...]
#
# - a throwaway CA and a server certificate for HOST (default link.orvanegaming.com), plus a second
#   CA and certificate that nothing trusts, for the service's "untrusted" mode;
# - the CA trusted inside the project's Wine prefix only (never the Linux trust store);
# - the service (tools/link-service/link_service.py) on port 443 of a free loopback address;
# - HOST mapped to that address in a private mount namespace that only COMMAND sees (its own
#   /etc/hosts), so no lookup of HOST ever reaches DNS.
# Afterwards the service is stopped, the CA removed from the prefix and the files deleted. COMMAND
# gets ORVANE_LINK_CONTROL (host:port of the service's control port), ORVANE_LINK_SERVICE_HOST,
# ORVANE_LINK_DECOY_HOST (a second name for the same address, which the launcher must never use) and
# ORVANE_LINK_CA (the test CA, for clients outside Wine) and ORVANE_LINK_TOKEN_FILE (every session
# token the service issued or was shown, one a line, mode 600; its log and state show fingerprints).
# Needs root (port 443, mount namespace), openssl, python3 and util-linux's unshare.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
source "$here/test-ca.sh"

source "$here/host-option.sh"
decoy=decoy.orvane.test

work=$(mktemp -d /tmp/orvane-link-service.XXXXXX)
service_pid=
thumbprint=
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null
        wait "$service_pid" 2>/dev/null
    fi
    untrust_in_prefix "$thumbprint"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "with-link-service: $*" >&2
    [ -f "$work/service.out" ] && cat "$work/service.out" >&2
    exit 125
}

"$here/wine-prefix.sh" || fail "the Wine prefix could not be created"

sans="DNS:$host,DNS:$decoy,DNS:localhost,IP:127.0.0.1"
make_test_pair "$work" trusted "$sans" && make_test_pair "$work" untrusted "$sans" ||
    fail "openssl could not make the test certificates"
thumbprint=$(trust_in_prefix "$work/trusted-ca.pem" "$work") ||
    fail "the test CA could not be imported into the Wine prefix"

python3 "$here/link-service/link_service.py" serve --listen auto --public-host "$host" \
    --cert "$work/trusted.pem" --key "$work/trusted.key" \
    --untrusted-cert "$work/untrusted.pem" --untrusted-key "$work/untrusted.key" \
    --ready-file "$work/ready.json" --log "$work/service.log" --token-file "$work/tokens" --exit-with-parent \
    </dev/null >"$work/service.out" 2>&1 &
service_pid=$!
for _ in $(seq 1 200); do
    [ -f "$work/ready.json" ] && break
    kill -0 "$service_pid" 2>/dev/null || fail "the link service did not start"
    sleep 0.05
done
[ -f "$work/ready.json" ] || fail "the link service did not get ready"
read -r address control < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]));
print(r["listen"].rsplit(":",1)[0], r["control"])' "$work/ready.json")

export ORVANE_LINK_CONTROL="$control" ORVANE_LINK_SERVICE_HOST="$host" ORVANE_LINK_DECOY_HOST="$decoy" \
    ORVANE_LINK_CA="$work/trusted-ca.pem" ORVANE_LINK_TOKEN_FILE="$work/tokens"
"$here/with-hosts.sh" "$address" "$host" "$decoy" -- "$@"
exit $?
