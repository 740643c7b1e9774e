#!/usr/bin/env bash
# Configures (once) and builds into build/; the runnable program lands in build/OrvaneGaming.
#   tools/build.sh [TARGET...]   everything, or only the targets named (e.g. OrvaneGaming stage_assets)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh"
if [ ! -f "$root/build/build.ninja" ]; then
    cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$root/build" "${targets[@]}"
