#!/usr/bin/env bash
# Configures (once) and builds everything into build/; the runnable program lands in build/OrvaneGaming.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh"
if [ ! -f "$root/build/build.ninja" ]; then
    cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
fi
cmake --build "$root/build"
