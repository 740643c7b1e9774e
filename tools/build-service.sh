#!/usr/bin/env bash
# Configures (once) and builds the link service natively into build/server:
#   tools/build-service.sh [TARGET...]   everything (the service, its tests and benchmark), or only the targets named
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh"
# The tests and the benchmark are on here (an admin's plain `cmake --build` leaves them out), also in a
# build folder first configured without them.
if [ ! -f "$root/build/server/build.ninja" ] ||
    ! grep -q '^ORVANE_SERVICE_TESTS:BOOL=ON$' "$root/build/server/CMakeCache.txt"; then
    cmake -S "$root/server" -B "$root/build/server" -G Ninja -DORVANE_SERVICE_TESTS=ON
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$root/build/server" -j "$(nproc)" "${targets[@]}"
