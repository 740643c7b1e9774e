#!/usr/bin/env bash
# Builds the launcher and makes the players' download: dist/OrvaneGaming-<version>-win64.zip and
# dist/SHA256SUMS.
#
#   bash tools/package.sh [--build-dir DIR] [--out DIR] [--host HOST]
#
# --build-dir  build folder (default build/; configured here if it is not yet)
# --out        where the zip and SHA256SUMS go (default dist/ in the repository)
# --host       the link service's host built into the launcher (default link.orvanegaming.com, or
#              what the build folder was configured with)
# Only the launcher and its pictures are built, not the tests. The same commit gives the same bytes
# in any folder (docs/building.md).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
out="$root/dist"
options=()
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --host) options+=(-DORVANE_SERVICE_HOST="$2"); shift 2 ;;
    *) echo "usage: $0 [--build-dir DIR] [--out DIR] [--host HOST]" >&2; exit 2 ;;
    esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

"$root/tools/setup-debian.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DORVANE_DIST_DIR="$out" "${options[@]}" >/dev/null
cmake --build "$build" --target package_zip
cat "$out/SHA256SUMS"
