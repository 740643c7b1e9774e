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
# ORVANE_LINK_CA (the test CA, for clients outside Wine).
# Needs root (port 443, mount namespace), openssl, python3 and util-linux's unshare.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

source "$here/host-option.sh"
decoy=decoy.orvane.test
root_store='HKLM\Software\Microsoft\SystemCertificates\Root\Certificates'

work=$(mktemp -d /tmp/orvane-link-service.XXXXXX)
service_pid=
thumbprint=
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null
        wait "$service_pid" 2>/dev/null
    fi
    if [ -n "$thumbprint" ]; then
        "$ORVANE_WINE" reg delete "$root_store\\$thumbprint" /f </dev/null >/dev/null 2>&1
    fi
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

# CA and server certificate, signed by that CA, for the service's host names.
make_pair() {
    local name=$1
    openssl req -x509 -newkey rsa:2048 -nodes -days 3 -subj "/CN=OrvaneGaming $name test CA $$" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$work/$name-ca.key" -out "$work/$name-ca.pem" 2>/dev/null || return 1
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$host" \
        -keyout "$work/$name.key" -out "$work/$name.csr" 2>/dev/null || return 1
    printf '%s\n' "subjectAltName=DNS:$host,DNS:$decoy,DNS:localhost,IP:127.0.0.1" \
        "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
        "extendedKeyUsage=serverAuth" >"$work/$name.ext"
    openssl x509 -req -in "$work/$name.csr" -CA "$work/$name-ca.pem" -CAkey "$work/$name-ca.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days 3 -extfile "$work/$name.ext" \
        -out "$work/$name.pem" 2>/dev/null
}
make_pair trusted && make_pair untrusted || fail "openssl could not make the test certificates"

# The CA as Wine's root store keeps it: a registry blob of properties (SHA-1 hash, then the DER).
openssl x509 -in "$work/trusted-ca.pem" -outform DER -out "$work/trusted-ca.der" || fail "openssl x509"
thumbprint=$(python3 - "$work/trusted-ca.der" "$work/trusted-ca.reg" "$root_store" <<'PY'
import hashlib, struct, sys
der = open(sys.argv[1], "rb").read()
sha1 = hashlib.sha1(der).digest()
blob = struct.pack("<III", 3, 1, 20) + sha1 + struct.pack("<III", 32, 1, len(der)) + der
thumb = sha1.hex().upper()
with open(sys.argv[2], "w") as f:
    f.write("REGEDIT4\n\n[%s\\%s]\n\"Blob\"=hex:%s\n" % (sys.argv[3].replace("HKLM", "HKEY_LOCAL_MACHINE"),
            thumb, ",".join("%02x" % b for b in blob)))
print(thumb)
PY
) || fail "could not write the registry file"
reg_file="$work/trusted-ca.reg"
"$ORVANE_WINE" reg import "Z:${reg_file//\//\\}" </dev/null >/dev/null 2>&1 ||
    fail "the test CA could not be imported into the Wine prefix"

python3 "$here/link-service/link_service.py" serve --listen auto --public-host "$host" \
    --cert "$work/trusted.pem" --key "$work/trusted.key" \
    --untrusted-cert "$work/untrusted.pem" --untrusted-key "$work/untrusted.key" \
    --ready-file "$work/ready.json" --log "$work/service.log" --exit-with-parent \
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
    ORVANE_LINK_CA="$work/trusted-ca.pem"
"$here/with-hosts.sh" "$address" "$host" "$decoy" -- "$@"
exit $?
