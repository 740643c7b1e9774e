#!/usr/bin/env bash
# Builds the launcher and makes the players' download: dist/OrvaneGaming-<version>-win64.zip and
# dist/SHA256SUMS.
#
#   bash tools/package.sh [--build-dir DIR] [--out DIR] [--host HOST]
#
# --build-dir  build folder (default build/; configured here if it is not yet)
# --out        where the zip and SHA256SUMS go (default dist/ in the repository)
# --host       the link service's host built into the launcher, a DNS name (default
#              link.orvanegaming.com, whatever the build folder was configured with before)
# Only the launcher and its pictures are built, not the tests. The same commit gives the same bytes
# in any folder (docs/building.md).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/service-host.sh"
build="$root/build"
out="$root/dist"
host=$default_host
usage() {
    echo "usage: $0 [--build-dir DIR] [--out DIR] [--host HOST]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case $1 in
    --build-dir) build=$2 ;;
    --out) out=$2 ;;
    --host) host=$2 ;;
    *) usage ;;
    esac
    shift 2
done
# Checked here, so a malformed host never reaches the build folder's cache.
if ! valid_host "$host"; then
    echo "$0: --host takes a DNS name (letters, digits, hyphens and dots), got '$host'" >&2
    exit 2
fi
echo "Building the launcher for the link service at $host"
mkdir -p "$out"
out=$(cd "$out" && pwd)

"$root/tools/setup-debian.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DORVANE_DIST_DIR="$out" -DORVANE_SERVICE_HOST="$host" >/dev/null
cmake --build "$build" --target package_zip
cat "$out/SHA256SUMS"
