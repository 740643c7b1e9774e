#!/usr/bin/env bash
# The PostgreSQL half of in_root.sh, run by with-postgres.sh: its server's socket is put where Debian's
# is (/var/run/postgresql), so the guide's commands reach it as they would a packaged PostgreSQL.
#   in_root_postgres.sh DOC DEB_FOLDER
set -euo pipefail
doc=$1
debs=$2
here=$(cd "$(dirname "$0")" && pwd)
conf=/etc/orvane-link-service/orvane-link-service.conf
journal=/var/log/fake-journal
base=/orvane-launcher/v1/9e3f51d0
player=76561197960287930
ran=()
fail() {
    echo "FAILED: $*" >&2
    for log in "$journal"/*.log; do [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }; done
    exit 1
}
block() {
    ran+=("$1")
    printf '%s\n' "${ran[@]}" >/tmp/ran-postgres
    echo "-- the guide's '$1' commands"
    bash -euo pipefail -c "$(python3 "$here/doc_blocks.py" "$doc" "$1")" || fail "the guide's '$1' commands"
}
socket_folder=$(sed -n 's/.*host=\([^&]*\).*/\1/p' <<<"$ORVANE_TEST_POSTGRES")
chmod 755 "$socket_folder"
mkdir -p /run/postgresql
mount --bind "$socket_folder" /run/postgresql

block postgres-setup
ran+=(postgres-config)
database=$(python3 "$here/doc_blocks.py" "$doc" postgres-config | sed -n 's/^database = //p')
[ -n "$database" ] || fail "the guide's postgres-config block names no database"
sed -i "s|^database = .*|database = ${database//&/\\&}|; /^tls_/d; s|^listen = .*|listen = 127.0.0.1:8080\ntrusted_proxy = 127.0.0.1|" "$conf"
block instances
for port in 8081 8082; do
    curl -sf "http://127.0.0.1:$port$base/config" | grep -q community_url || fail "instance $port does not answer"
done
orvane-link-service --config "$conf" players ban "$player" --reason "trampas" >/dev/null
block postgres-backup
orvane-link-service --config "$conf" players unban "$player" >/dev/null
block postgres-restore
orvane-link-service --config "$conf" players show "$player" | grep -q trampas || fail "the restored database lacks the ban"
for port in 8081 8082; do
    curl -sf "http://127.0.0.1:$port$base/config" >/dev/null || fail "instance $port does not answer after the restore"
done
# A reload in plain HTTP: the configuration only, no certificate event.
block reload-instances
grep -q '"event":"config_reloaded"' "$journal/orvane-link-service@8081.service.log" ||
    for _ in $(seq 1 200); do grep -q '"event":"config_reloaded"' "$journal/orvane-link-service@8081.service.log" && break; sleep 0.05; done
grep -q '"event":"config_reloaded"' "$journal/orvane-link-service@8081.service.log" || fail "no config_reloaded"
grep -q '"event":"certificate' "$journal/orvane-link-service@8081.service.log" && fail "a certificate event in plain HTTP"
block version
(cd "$debs" && block upgrade)
for port in 8081 8082; do
    curl -sf "http://127.0.0.1:$port$base/config" >/dev/null || fail "instance $port does not answer after the upgrade"
done
systemctl stop 'orvane-link-service@*'
umount /run/postgresql
