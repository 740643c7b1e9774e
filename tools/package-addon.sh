#!/usr/bin/env bash
# Makes the game server addon's download: dist/orvane-allowlist-<version>.zip (the folder an admin drops
# into garrysmod/addons/, with gameserver/README.md inside) and dist/SHA256SUMS-addon.
#
#   bash tools/package-addon.sh [--out DIR]
#
# The version is the addon's own (lua/orvane_allowlist/version.lua). The archive's dates are the
# commit's (SOURCE_DATE_EPOCH when set), so every run on one commit gives the same bytes, in any folder.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
addon="$root/gameserver/garrysmod/orvane_allowlist"
out="$root/dist"
if [ $# -eq 2 ] && [ "$1" = --out ]; then
    out=$2
elif [ $# -ne 0 ]; then
    echo "usage: $0 [--out DIR]" >&2
    exit 2
fi
version=$(sed -n 's/^return "\([0-9][0-9.]*\)"$/\1/p' "$addon/lua/orvane_allowlist/version.lua")
if [ -z "$version" ]; then
    echo "$0: no version in $addon/lua/orvane_allowlist/version.lua" >&2
    exit 1
fi
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
zip="orvane-allowlist-$version.zip"
mkdir -p "$out"
python3 "$root/tools/make-addon-zip.py" --addon "$addon" --readme "$root/gameserver/README.md" \
    --zip "$out/$zip" --epoch "$epoch"
(cd "$out" && sha256sum "$zip" >SHA256SUMS-addon.part && mv SHA256SUMS-addon.part SHA256SUMS-addon)
cat "$out/SHA256SUMS-addon"
