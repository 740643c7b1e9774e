# Throwaway certificates for the test harnesses, and trusting one inside the project's Wine prefix.
# Sourced (bash), never run:
#
#   make_test_pair DIR NAME SANS [rsa|ecdsa]
#       DIR/NAME-ca.pem (+ .key): a CA of this run; DIR/NAME.pem (+ .key): a server certificate it
#       signed for SANS ("DNS:a.test,IP:127.0.0.1"), the first name as its CN. Valid three days.
#   make_self_signed DIR NAME SANS
#       DIR/NAME.pem (+ .key): a certificate for SANS that no CA vouches for.
#   trust_in_prefix PEM WORK
#       imports the CA into the prefix's root store (ORVANE_WINE set by wine-env.sh) and prints its
#       thumbprint, for untrust_in_prefix afterwards.
# Each returns non-zero when openssl or Wine refuses.

_test_key_args() {
    if [ "${1:-rsa}" = ecdsa ]; then
        echo "-newkey ec -pkeyopt ec_paramgen_curve:P-256"
    else
        echo "-newkey rsa:2048"
    fi
}

_test_cn() {
    local first=${1%%,*}
    echo "${first#*:}"
}

make_test_pair() {
    local dir=$1 name=$2 sans=$3 key
    key=$(_test_key_args "${4:-rsa}")
    # shellcheck disable=SC2086 # the key arguments are several words
    openssl req -x509 $key -nodes -days 3 -subj "/CN=OrvaneGaming $name test CA $$" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$dir/$name-ca.key" -out "$dir/$name-ca.pem" 2>/dev/null || return 1
    # shellcheck disable=SC2086
    openssl req -new $key -nodes -subj "/CN=$(_test_cn "$sans")" \
        -keyout "$dir/$name.key" -out "$dir/$name.csr" 2>/dev/null || return 1
    printf '%s\n' "subjectAltName=$sans" "basicConstraints=critical,CA:FALSE" \
        "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >"$dir/$name.ext"
    openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$name-ca.pem" -CAkey "$dir/$name-ca.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days 3 -extfile "$dir/$name.ext" \
        -out "$dir/$name.pem" 2>/dev/null
}

make_self_signed() {
    local dir=$1 name=$2 sans=$3
    openssl req -x509 -newkey rsa:2048 -nodes -days 3 -subj "/CN=$(_test_cn "$sans")" \
        -addext "subjectAltName=$sans" -keyout "$dir/$name.key" -out "$dir/$name.pem" 2>/dev/null
}

_root_store='HKLM\Software\Microsoft\SystemCertificates\Root\Certificates'

trust_in_prefix() {
    local pem=$1 work=$2 thumbprint
    openssl x509 -in "$pem" -outform DER -out "$work/trusted-ca.der" || return 1
    # The CA as Wine's root store keeps it: a registry blob of properties (SHA-1 hash, then the DER).
    thumbprint=$(python3 - "$work/trusted-ca.der" "$work/trusted-ca.reg" "$_root_store" <<'PY'
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
    ) || return 1
    local reg_file="$work/trusted-ca.reg"
    "$ORVANE_WINE" reg import "Z:${reg_file//\//\\}" </dev/null >/dev/null 2>&1 || return 1
    echo "$thumbprint"
}

untrust_in_prefix() {
    [ -n "${1:-}" ] || return 0
    "$ORVANE_WINE" reg delete "$_root_store\\$1" /f </dev/null >/dev/null 2>&1
}
