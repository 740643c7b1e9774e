#!/usr/bin/env bash
# Runs one command with the fake Steam and Discord (fake_providers.py) standing in for the real ones:
#
#   server/tests/with-fake-providers.sh COMMAND [ARGS...]
#
# - a throwaway CA and a certificate for steamcommunity.com and discord.com signed by it, plus a
#   self-signed one for the same names that the fake can switch to (POST /tls);
# - the fake on port 443 of a free loopback address (127.x.y.z), its control port on the same address;
# - COMMAND in a private mount namespace where /etc/hosts maps both names to that address and Debian's
#   CA bundle (/etc/ssl/certs/ca-certificates.crt, which libcurl and OpenSSL read) is the test CA alone,
#   so nothing COMMAND starts can reach the real providers or trust anything else.
# COMMAND gets ORVANE_PROVIDERS_CONTROL (host:port of the control port), ORVANE_PROVIDERS_ADDRESS, and
# ORVANE_PROVIDERS_CA (the test CA), ORVANE_DISCORD_CLIENT_ID, ORVANE_DISCORD_CLIENT_SECRET and
# ORVANE_DISCORD_BOT_TOKEN (what the fake Discord accepts). Afterwards the fake is stopped and the files
# deleted.
# Needs root (port 443, mount namespace), openssl, python3 and util-linux's unshare.
set -u
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
source "$tools/test-ca.sh"
ca_bundle=/etc/ssl/certs/ca-certificates.crt
names=(steamcommunity.com discord.com)

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

work=$(mktemp -d /tmp/orvane-providers.XXXXXX)
fake_pid=
cleanup() {
    if [ -n "$fake_pid" ]; then
        kill "$fake_pid" 2>/dev/null
        wait "$fake_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "with-fake-providers: $*" >&2
    [ -f "$work/fake.out" ] && cat "$work/fake.out" >&2
    exit 125
}

[ -f "$ca_bundle" ] || fail "$ca_bundle is missing (install ca-certificates)"
san=$(printf 'DNS:%s,' "${names[@]}")
make_test_pair "$work" providers "${san%,}" && make_self_signed "$work" untrusted "${san%,}" ||
    fail "openssl could not make the test certificates"

client_id=1100000000000000001
client_secret=$(openssl rand -hex 16)
bot_token=$(openssl rand -hex 24)
python3 "$here/fake_providers.py" --listen auto --cert "$work/providers.pem" --key "$work/providers.key" \
    --untrusted-cert "$work/untrusted.pem" --untrusted-key "$work/untrusted.key" \
    --ready-file "$work/ready.json" --discord-client-id "$client_id" --discord-client-secret "$client_secret" \
    --discord-bot-token "$bot_token" --exit-with-parent </dev/null >"$work/fake.out" 2>&1 &
fake_pid=$!
for _ in $(seq 1 200); do
    [ -f "$work/ready.json" ] && break
    kill -0 "$fake_pid" 2>/dev/null || fail "the fake providers did not start"
    sleep 0.05
done
[ -f "$work/ready.json" ] || fail "the fake providers did not get ready"
read -r address control < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]));
print(r["listen"].rsplit(":",1)[0], r["control"])' "$work/ready.json")

export ORVANE_PROVIDERS_CONTROL="$control" ORVANE_PROVIDERS_ADDRESS="$address" \
    ORVANE_PROVIDERS_CA="$work/providers-ca.pem" ORVANE_DISCORD_CLIENT_ID="$client_id" \
    ORVANE_DISCORD_CLIENT_SECRET="$client_secret" ORVANE_DISCORD_BOT_TOKEN="$bot_token"
# with-hosts.sh gives the private mount namespace; the CA bundle is swapped inside it.
"$tools/with-hosts.sh" "$address" "${names[@]}" -- /bin/sh -c \
    'mount --bind "$1" "$2" || exit 125; shift 2; exec "$@"' with-ca "$work/providers-ca.pem" "$ca_bundle" "$@"
exit $?
