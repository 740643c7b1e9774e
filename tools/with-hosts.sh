#!/usr/bin/env bash
# Runs one command with host names mapped to an address, for that command only:
#
#   tools/with-hosts.sh ADDRESS NAME [NAME...] -- COMMAND [ARGS...]
#
# COMMAND runs in a private mount namespace whose /etc/hosts is a copy of the real one plus the
# mapping; the real file stays as it is and nothing outside COMMAND sees the names. Wine resolves
# names in the client process through the Linux resolver, so a launcher started by COMMAND uses the
# mapping and no lookup of NAME reaches DNS. Needs root (mount namespace) and util-linux's unshare.
set -u
usage() {
    echo "usage: $0 ADDRESS NAME [NAME...] -- COMMAND [ARGS...]" >&2
    exit 2
}
[ $# -ge 4 ] || usage
address=$1
shift
names=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    names+=("$1")
    shift
done
[ $# -ge 2 ] && [ ${#names[@]} -gt 0 ] || usage
shift

hosts=$(mktemp /tmp/orvane-hosts.XXXXXX)
trap 'rm -f "$hosts"' EXIT
cp /etc/hosts "$hosts"
for name in "${names[@]}"; do
    printf '%s %s\n' "$address" "$name" >>"$hosts"
done
unshare --mount -- /bin/sh -c 'mount --bind "$1" /etc/hosts || exit 125; shift; exec "$@"' \
    with-hosts "$hosts" "$@"
