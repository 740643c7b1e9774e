#!/usr/bin/env bash
# Configures (once) and builds the link service natively into build/server:
#   tools/build-service.sh [TARGET...]   everything (the service, its tests and benchmark), or only the targets named
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh"
if [ ! -f "$root/build/server/build.ninja" ]; then
    cmake -S "$root/server" -B "$root/build/server" -G Ninja
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$root/build/server" -j "$(nproc)" "${targets[@]}"
