#!/usr/bin/env bash
# Builds the players' download twice, from two copies of the source tree in different folders with
# clean build folders, and fails unless both zips are the same bytes; on a mismatch it names the
# files that differ.
#
#   tools/check-package.sh WORKDIR
#
# WORKDIR is emptied first. Afterwards WORKDIR/first/dist holds the first build's zip and SHA256SUMS.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$1
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
# The copies have no history: both take the archive date of the commit they were copied from.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

# Folder names of different lengths, so a path that leaked into the exe would show.
sources=("$work/first/src" "$work/second-build/of/the/same/source")
for src in "${sources[@]}"; do
    mkdir -p "$src"
    # The working tree as git sees it (committed or not), without build output.
    git -C "$root" ls-files -z --cached --others --exclude-standard |
        (cd "$root" && xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' x) |
        tar -C "$root" --null -T - -cf - | tar -C "$src" -xf -
done

started=$(date +%s)
for src in "${sources[@]}"; do
    top=$(dirname "$src")
    bash "$src/tools/package.sh" --build-dir "$top/build" --out "$top/dist" >"$top/package.log" 2>&1 || {
        cat "$top/package.log" >&2
        echo "check-package: the package build in $top failed" >&2
        exit 1
    }
done
echo "two package builds: $(($(date +%s) - started)) s"

first="$work/first/dist" second="$work/second-build/of/the/same/dist"
cat "$first/SHA256SUMS" "$second/SHA256SUMS"
if cmp -s "$first/SHA256SUMS" "$second/SHA256SUMS"; then
    echo "check-package: the two builds are byte-identical"
    exit 0
fi
python3 "$root/tools/compare-packages.py" "$first"/*.zip "$second"/*.zip >&2
exit 1
