#!/usr/bin/env bash
# Inside the throwaway root (package_root_test.sh made it): the package installed with apt, the guide's
# runnable commands run as an admin would, each followed by what it must have done, then the package
# purged and installed again.
#   in_root.sh DEB_FOLDER DOC
set -euo pipefail
debs=$1
doc=$2
here=$(cd "$(dirname "$0")" && pwd)
conf=/etc/orvane-link-service/orvane-link-service.conf
state=/var/lib/orvane-link-service
journal=/var/log/fake-journal
base=/orvane-launcher/v1/9e3f51d0
ran=()

fail() {
    echo "FAILED: $*" >&2
    for log in "$journal"/*.log; do [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }; done
    exit 1
}
step() { echo "== $*"; }
# The guide's block NAME, run by bash as the admin would paste it: its status (maybe_block) or success.
maybe_block() {
    local name=$1
    ran+=("$name")
    echo "-- the guide's '$name' commands"
    bash -euo pipefail -c "$(python3 "$here/doc_blocks.py" "$doc" "$name")"
}
block() { maybe_block "$1" || fail "the guide's '$1' commands"; }
# mode owner group of a path, as "640 root orvane-link".
facts() { stat -c '%a %U %G' "$1"; }
expect_facts() {
    local got
    got=$(facts "$1") || fail "$1 is missing"
    [ "$got" = "$2" ] || fail "$1 is '$got', expected '$2'"
}
# Waits for a line in a unit's log (the service logs asynchronously after a signal).
await_log() {
    local unit=$1 pattern=$2
    for _ in $(seq 1 200); do
        grep -q -- "$pattern" "$journal/$unit.log" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "$unit never logged $pattern"
}
config_document() { curl -sf "$@"; }

write_config() { # listen, then any further lines
    local listen=$1
    shift
    {
        echo "public_host = link.example.org"
        echo "listen = $listen"
        printf '%s\n' "$@"
        echo "database = $state/links.sqlite"
        echo "server_address = 203.0.113.7:27015"
        echo "community_url = https://example.org/comunidad"
        echo "admin_api_key_file = /etc/orvane-link-service/admin-key"
        echo "[news]"
        echo "id = 1"
        echo "title = Temporada 1"
        echo "body = Nos vemos."
        echo "published_at = 2026-10-08T17:00:00Z"
    } >"$conf"
}

# A certificate for link.example.org as certbot leaves it: the live folder's links into archive/, both
# folders root's alone, the key mode 600.
certbot_pair() {
    local n=$1 live=/etc/letsencrypt/live/link.example.org archive=/etc/letsencrypt/archive/link.example.org
    install -d -m 700 /etc/letsencrypt/live /etc/letsencrypt/archive
    install -d -m 755 "$live" "$archive"
    (umask 077 && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=link.example.org \
        -addext subjectAltName=DNS:link.example.org -keyout "$archive/privkey$n.pem" \
        -out "$archive/fullchain$n.pem" 2>/dev/null)
    chmod 644 "$archive/fullchain$n.pem"
    ln -sfn "../../archive/link.example.org/fullchain$n.pem" "$live/fullchain.pem"
    ln -sfn "../../archive/link.example.org/privkey$n.pem" "$live/privkey.pem"
}
tls_get() { # CA, then curl's arguments
    local ca=$1
    shift
    curl -sf --cacert "$ca" --resolve link.example.org:8443:127.0.0.1 "https://link.example.org:8443$base/config" "$@"
}

step "install with apt, offline, from the folder holding the package"
cd "$debs"
export DEBIAN_FRONTEND=noninteractive
maybe_block install >/tmp/install.log 2>&1 || { cat /tmp/install.log; fail "apt install"; }
cd /
user_line=$(getent passwd orvane-link) || fail "no orvane-link user"
IFS=: read -r _ _ uid _ _ home shell <<<"$user_line"
[ "$uid" -lt 1000 ] && [ "$shell" = /usr/sbin/nologin ] && [ "$home" = "$state" ] ||
    fail "orvane-link is not a system user without login: $user_line"
getent group orvane-link >/dev/null || fail "no orvane-link group"
expect_facts /usr/bin/orvane-link-service "755 root root"
expect_facts /lib/systemd/system/orvane-link-service.service "644 root root"
expect_facts /lib/systemd/system/orvane-link-service@.service "644 root root"
expect_facts /usr/lib/orvane-link-service/certbot-deploy-hook "755 root root"
expect_facts /etc/orvane-link-service "750 root orvane-link"
expect_facts "$conf" "640 root orvane-link"
expect_facts "$state" "700 orvane-link orvane-link"
expect_facts /var/backups/orvane-link-service "700 orvane-link orvane-link"
dpkg-query -W -f='${Conffiles}\n' orvane-link-service | grep -q "^ $conf " || fail "$conf is not a conffile"
for unit in orvane-link-service.service orvane-link-service@8081.service; do
    out=$(cd /lib/systemd/system && systemd-analyze verify "$unit" 2>&1) && [ -z "$out" ] ||
        fail "systemd-analyze verify $unit: $out"
done
grep -Eq ' (start|enable|restart)' /run/fake-systemd/calls 2>/dev/null && fail "installing started the service: $(cat /run/fake-systemd/calls)"

step "unconfigured: --check-config refuses, saying what is missing"
maybe_block check >/tmp/check.out 2>&1 && fail "the example configuration passed --check-config"
grep -q "public_host: is required" /tmp/check.out || fail "unclear refusal: $(cat /tmp/check.out)"

step "certbot's own files cannot be read by the service's user; the deploy hook's copies can"
certbot_pair 1
write_config 127.0.0.1:8443 "tls_certificate = /etc/letsencrypt/live/link.example.org/fullchain.pem" \
    "tls_private_key = /etc/letsencrypt/live/link.example.org/privkey.pem"
block secrets
maybe_block check >/tmp/check.out 2>&1 && fail "--check-config read certbot's root-only key as orvane-link"
grep -q "privkey.pem: Permission denied" /tmp/check.out || fail "the refusal does not say why: $(cat /tmp/check.out)"
block certificate
expect_facts /etc/orvane-link-service/tls "750 root orvane-link"
expect_facts /etc/orvane-link-service/tls/privkey.pem "640 root orvane-link"
expect_facts /etc/orvane-link-service/tls/fullchain.pem "640 root orvane-link"
expect_facts /etc/orvane-link-service/admin-key "600 orvane-link orvane-link"
write_config 127.0.0.1:8443 "tls_certificate = /etc/orvane-link-service/tls/fullchain.pem" \
    "tls_private_key = /etc/orvane-link-service/tls/privkey.pem"
maybe_block check >/tmp/check.out 2>&1 || fail "--check-config: $(cat /tmp/check.out)"
grep -q warning /tmp/check.out && fail "warnings for files as the guide makes them: $(cat /tmp/check.out)"

step "started, it serves over TLS"
block start
first_ca=/etc/letsencrypt/archive/link.example.org/fullchain1.pem
tls_get "$first_ca" | grep -q '"community_url":"https://example.org/comunidad"' || fail "no /config over TLS"

step "a renewal: certbot runs the hook, the service reloads the new pair"
certbot_pair 2
RENEWED_LINEAGE=/etc/letsencrypt/live/link.example.org /usr/lib/orvane-link-service/certbot-deploy-hook >/dev/null
await_log orvane-link-service.service '"event":"certificate_reloaded"'
tls_get /etc/letsencrypt/archive/link.example.org/fullchain2.pem >/dev/null || fail "the new certificate is not served"
tls_get "$first_ca" >/dev/null && fail "the old certificate is still served"
# A key that is not the certificate's: refused, with that reason, and the pair in use stays.
cp /etc/letsencrypt/archive/link.example.org/privkey1.pem /etc/orvane-link-service/tls/privkey.pem
block reload
await_log orvane-link-service.service 'certificate_refused.*does not match the certificate'
tls_get /etc/letsencrypt/archive/link.example.org/fullchain2.pem >/dev/null || fail "a refused pair replaced the one in use"
# A key the service's user cannot read (certbot's mode, had it been pointed at): refused as such.
chmod 600 /etc/orvane-link-service/tls/privkey.pem
block reload
await_log orvane-link-service.service 'certificate_refused.*privkey.pem: Permission denied'
/usr/lib/orvane-link-service/certbot-deploy-hook /etc/letsencrypt/live/link.example.org >/dev/null

step "SIGHUP reads the configuration again; a bad one is refused and the values in use stay"
sed -i 's|^community_url = .*|community_url = https://example.org/nueva|' "$conf"
block reload
await_log orvane-link-service.service '"event":"config_reloaded"'
tls_get /etc/letsencrypt/archive/link.example.org/fullchain2.pem | grep -q 'example.org/nueva' || fail "the reload changed nothing"
echo "no_such_key = 1" >>"$conf"
block reload
await_log orvane-link-service.service '"event":"config_refused".*no_such_key\|"event":"config_refused"'
tls_get /etc/letsencrypt/archive/link.example.org/fullchain2.pem | grep -q 'example.org/nueva' || fail "a refused file changed the values"
sed -i '/^no_such_key/d' "$conf"

step "the admin's commands, run by root, act as orvane-link"
block players
for f in "$state"/links.sqlite*; do expect_facts "$f" "600 orvane-link orvane-link"; done

step "backup while serving; restore refused while serving, then with the service stopped"
block backup
backup=/var/backups/orvane-link-service/links-$(date +%F).sqlite
expect_facts "$backup" "600 orvane-link orvane-link"
orvane-link-service --config "$conf" gameserver-keys add after-backup >/dev/null
orvane-link-service --config "$conf" restore "$backup" >/tmp/restore.out 2>&1 &&
    fail "restore replaced the database under the running service"
grep -q "in use" /tmp/restore.out || fail "restore's refusal: $(cat /tmp/restore.out)"
orvane-link-service --config "$conf" restore /etc/hostname >/tmp/restore.out 2>&1 && fail "restore took a file that is no database"
block restore
expect_facts "$state/links.sqlite" "600 orvane-link orvane-link"
keys=$(orvane-link-service --config "$conf" gameserver-keys list)
grep -q rp-1 <<<"$keys" && ! grep -q after-backup <<<"$keys" || fail "the restored database is not the backup: $keys"
tls_get /etc/letsencrypt/archive/link.example.org/fullchain2.pem >/dev/null || fail "not serving after the restore"

step "--check-config warns about a secret others may read, and still passes"
chmod 644 /etc/orvane-link-service/admin-key
maybe_block check >/tmp/check.out 2>&1 || fail "a warning failed the check"
grep -q "warning: /etc/orvane-link-service/admin-key: a secret is readable by others" /tmp/check.out ||
    fail "no warning: $(cat /tmp/check.out)"
chmod 600 /etc/orvane-link-service/admin-key
systemctl stop orvane-link-service

step "PostgreSQL, several instances behind one address"
bash "$here/../with-postgres.sh" bash "$here/in_root_postgres.sh" "$doc" "$debs"

step "every runnable block of the guide ran"
all=$(python3 "$here/doc_blocks.py" "$doc" --names)
ran+=($(cat /tmp/ran-postgres))
for name in $all; do
    printf '%s\n' "${ran[@]}" | grep -qx "$name" || fail "the guide's block '$name' is never run by this test"
done

step "purge, then install again"
dpkg --purge orvane-link-service >/tmp/purge.log 2>&1 || { cat /tmp/purge.log; fail "dpkg --purge"; }
for gone in "$state" /etc/orvane-link-service/tls "$conf" /usr/bin/orvane-link-service; do
    [ ! -e "$gone" ] || fail "$gone outlived the purge"
done
dpkg-statoverride --list | grep -q orvane-link-service && fail "statoverrides outlived the purge"
getent passwd orvane-link >/dev/null || fail "the purge removed the system user"
dpkg -i "$debs"/orvane-link-service_*_amd64.deb >/tmp/reinstall.log 2>&1 || { cat /tmp/reinstall.log; fail "reinstall"; }
[ "$(id -u orvane-link)" = "$uid" ] || fail "the reinstall made another user"
expect_facts "$conf" "640 root orvane-link"
expect_facts "$state" "700 orvane-link orvane-link"
echo "in_root: all good"
