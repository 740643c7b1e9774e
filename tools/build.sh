#!/usr/bin/env bash
# Configures (once) and builds into build/; the runnable program lands in build/OrvaneGaming.
#   tools/build.sh [TARGET...]   everything, or only the targets named (e.g. OrvaneGaming stage_assets)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/service-host.sh"
"$root/tools/setup-debian.sh"
# Always the default host: a package built for another one (tools/package.sh --host) leaves its host in
# the cache, and the run and the tests are for the default.
if [ ! -f "$root/build/build.ninja" ] || [ "$(configured_host "$root/build")" != "$default_host" ]; then
    cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DORVANE_SERVICE_HOST="$default_host"
fi
echo "Building the launcher for the link service at $default_host"
targets=()
for t in "$@"; do targets+=(--target "$t"); done
# Ninja would start cores + 2 jobs; the 2-core machines here have no memory or time to spare for more.
cmake --build "$root/build" -j "$(nproc)" "${targets[@]}"
