#!/usr/bin/env bash
# The service's Debian package: tools/package-service.sh run twice, from two copies of the tree (other
# folders, file dates and umask), gives the same bytes; then the package is installed, used as the guide
# says and purged in a throwaway root (enter_root.sh), without touching this machine. Needs root.
#   package_root_test.sh PROGRAM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
program=$1
work=$(mktemp -d /tmp/orvane-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

for i in 0 1; do
    copy=$work/copy$i/$([ $i = 0 ] && echo a || echo another/folder)
    mkdir -p "$copy"
    tar -C "$root" -cf - tools/package-service.sh server/CMakeLists.txt server/packaging docs | tar -C "$copy" -xf -
    find "$copy" -type f -exec touch -d "@$((1700000000 + i * 86400))" {} +
    (umask $((i == 0 ? 22 : 77)) && chmod -R "$([ $i = 0 ] && echo go+r || echo go-r)" "$copy" &&
        bash "$copy/tools/package-service.sh" --program "$program" --out "$copy/dist" >/dev/null)
    debs[$i]=$(echo "$copy"/dist/orvane-link-service_*_amd64.deb)
done
cmp "${debs[0]}" "${debs[1]}" || { echo "package_root_test: two runs gave different packages" >&2; exit 1; }
echo "package_root_test: $(basename "${debs[0]}") is the same bytes from both trees"

unshare --mount --net --propagation private bash "$here/package_root/enter_root.sh" "$(dirname "${debs[0]}")" \
    "$root/docs/running-the-service.md"
