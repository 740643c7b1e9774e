#!/usr/bin/env bash
# Runs one command with a small filesystem of its own, for that command only:
#
#   tools/with-small-folder.sh SIZE_KIB COMMAND [ARGS...]
#
# COMMAND runs in a private mount namespace holding a tmpfs of SIZE_KIB KiB, mounted on an empty
# folder whose path it gets in ORVANE_SMALL_FOLDER; the command may fill it or remount it read-only
# ("mount -o remount,ro", which acts on the filesystem, so namespaces made inside see it too). Start
# the Wine session inside COMMAND (tools/with-own-wine.sh): the wineserver opens files for its
# clients, so it must see the same mounts. Afterwards the namespace and the folder are gone. Needs
# root and util-linux's unshare.
set -u
if [ $# -lt 2 ] || ! [ "$1" -gt 0 ] 2>/dev/null; then
    echo "usage: $0 SIZE_KIB COMMAND [ARGS...]" >&2
    exit 2
fi
size=$1
shift
folder=$(mktemp -d /tmp/orvane-small.XXXXXX)
trap 'rmdir "$folder" 2>/dev/null' EXIT
export ORVANE_SMALL_FOLDER="$folder"
unshare --mount --propagation private -- /bin/sh -c \
    'mount -t tmpfs -o "size=${1}k,mode=0755" orvane-small "$ORVANE_SMALL_FOLDER" || exit 125; shift; exec "$@"' \
    with-small-folder "$size" "$@"
