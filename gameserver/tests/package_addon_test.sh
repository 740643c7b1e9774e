#!/usr/bin/env bash
# The addon's zip: two runs of tools/package-addon.sh from two copies of the tree (different folders,
# file dates and umask, and where /dev/shm is a tmpfs, another file system listing folders in another
# order) give the same bytes; SHA256SUMS-addon checks; and the unzipped folder is a working addon (its
# modules pass the unit tests from there).
#
#   bash gameserver/tests/package_addon_test.sh
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/orvane-addon-zip.XXXXXX)
other=$work
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ]; then
    other=$(mktemp -d /dev/shm/orvane-addon-zip.XXXXXX)
fi
trap 'rm -rf "$work" "$other"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

copies=("$work/a" "$other/second/copy/of/the/tree")
for i in 0 1; do
    copy=${copies[$i]}
    mkdir -p "$copy"
    tar -C "$root" -cf - tools/package-addon.sh tools/make-addon-zip.py tools/make-package.py gameserver |
        tar -C "$copy" -xf -
    # Different file dates and permissions must not reach the zip.
    find "$copy/gameserver" -type f -exec touch -d "@$((1700000000 + i * 86400))" {} +
    (umask $((i == 0 ? 22 : 77)) && chmod -R "$([ $i = 0 ] && echo go+r || echo go-r)" "$copy/gameserver" &&
        bash "$copy/tools/package-addon.sh" --out "$copy/dist" >/dev/null)
done

zips=("${copies[0]}"/dist/orvane-allowlist-*.zip "${copies[1]}"/dist/orvane-allowlist-*.zip)
if ! cmp "${zips[0]}" "${zips[1]}"; then
    echo "package_addon_test: two runs gave different zips" >&2
    exit 1
fi
(cd "${copies[0]}/dist" && sha256sum -c --quiet SHA256SUMS-addon)

mkdir "$work/addons"
(cd "$work/addons" && unzip -q "${zips[0]}")
luajit "$root/gameserver/tests/addon_units.lua" "$work/addons/orvane_allowlist"
[ -f "$work/addons/orvane_allowlist/README.md" ] || {
    echo "package_addon_test: the zip has no README.md" >&2
    exit 1
}
echo "package_addon_test: $(basename "${zips[0]}") is the same bytes from both trees"
