#!/usr/bin/env bash
# The systemd units and the nginx sites of docs/running-the-service.md, checked by the tools that will read
# them: `systemd-analyze verify` (offline, with ExecStart pointing at a copy of the built program) and
# `nginx -t` (a throwaway prefix, certificate and loopback port; nginx -t starts nothing).
# usage: packaging_test.sh PROGRAM
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
    echo "FAILED: $*"
    failed=1
}

# Every key, command and path systemd would read, warnings included: any output is a fault. The templated
# unit is checked as one of its instances.
mkdir -p "$work/unit" && cp "$program" "$work/orvane-link-service"
for file in orvane-link-service.service orvane-link-service@.service; do
    name=${file/@./@8081.}
    sed "s|/usr/bin/orvane-link-service|$work/orvane-link-service|g" "$here/packaging/$file" >"$work/unit/$file"
    grep -q "^ExecStart=$work/orvane-link-service " "$work/unit/$file" ||
        fail "$file does not start /usr/bin/orvane-link-service"
    if ! out=$(cd "$work/unit" && systemd-analyze verify "$name" 2>&1) || [ -n "$out" ]; then
        fail "systemd-analyze verify $name: $out"
    fi
done

# Each site inside a minimal main configuration, as Debian's nginx.conf includes it; only the certificate
# paths and the listening addresses change.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=link.example.org -keyout "$work/key.pem" \
    -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl could not make a certificate"
for site in nginx-orvane-link-service.conf nginx-orvane-link-service-instances.conf; do
    sed -e "s|/etc/letsencrypt/live/link.example.org/fullchain.pem|$work/cert.pem|" \
        -e "s|/etc/letsencrypt/live/link.example.org/privkey.pem|$work/key.pem|" \
        -e "s|listen 443 |listen 127.0.0.1:18443 |" -e "s|listen \[::\]:443 |listen [::1]:18443 |" \
        "$here/packaging/$site" >"$work/site.conf"
    [ "$(grep -c "$work/" "$work/site.conf")" -eq 2 ] || fail "$site does not name the certificate and key"
    [ "$(grep -c ':18443 ' "$work/site.conf")" -eq 2 ] || fail "$site does not listen on 443"
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
        fail "nginx -t $site: $out"
    fi
done
# The instances' site balances over kept-alive connections.
grep -Eq '^\s+keepalive [0-9]+;' "$here/packaging/nginx-orvane-link-service-instances.conf" ||
    fail "the instances' upstream keeps no connection alive"
[ $failed -eq 0 ] && echo "the units and the nginx sites pass their tools' checks"
exit $failed
