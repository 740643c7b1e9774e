#!/usr/bin/env bash
# The systemd unit and the nginx site of docs/running-the-service.md, checked by the tools that will read
# them: `systemd-analyze verify` (offline, with ExecStart pointing at a copy of the built program) and
# `nginx -t` (a throwaway prefix, certificate and loopback port; nginx -t starts nothing).
# usage: packaging_test.sh PROGRAM
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
unit=$here/packaging/orvane-link-service.service
site=$here/packaging/nginx-orvane-link-service.conf
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
    echo "FAILED: $*"
    failed=1
}

# Every key, command and path systemd would read, warnings included: any output is a fault.
mkdir -p "$work/unit" && cp "$program" "$work/orvane-link-service"
sed "s|/usr/local/bin/orvane-link-service|$work/orvane-link-service|g" "$unit" >"$work/unit/orvane-link-service.service"
grep -q "^ExecStart=$work/orvane-link-service " "$work/unit/orvane-link-service.service" ||
    fail "the unit does not start /usr/local/bin/orvane-link-service"
if ! out=$(systemd-analyze verify "$work/unit/orvane-link-service.service" 2>&1) || [ -n "$out" ]; then
    fail "systemd-analyze verify: $out"
fi

# The site inside a minimal main configuration, as Debian's nginx.conf includes it; only the certificate
# paths and the listening addresses change.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=link.example.org -keyout "$work/key.pem" \
    -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl could not make a certificate"
sed -e "s|/etc/letsencrypt/live/link.example.org/fullchain.pem|$work/cert.pem|" \
    -e "s|/etc/letsencrypt/live/link.example.org/privkey.pem|$work/key.pem|" \
    -e "s|listen 443 |listen 127.0.0.1:18443 |" -e "s|listen \[::\]:443 |listen [::1]:18443 |" \
    "$site" >"$work/site.conf"
[ "$(grep -c "$work/" "$work/site.conf")" -eq 2 ] || fail "the site does not name the certificate and key"
[ "$(grep -c ':18443 ' "$work/site.conf")" -eq 2 ] || fail "the site does not listen on 443"
cat >"$work/nginx.conf" <<CONF
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
    access_log off;
    client_body_temp_path $work/body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    include $work/site.conf;
}
CONF
if ! out=$(nginx -t -q -e "$work/error.log" -p "$work" -c "$work/nginx.conf" 2>&1) || [ -n "$out" ]; then
    fail "nginx -t: $out"
fi
[ $failed -eq 0 ] && echo "the unit and the nginx site pass their tools' checks"
exit $failed
