#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under the project's Wine prefix.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
# Whatever happens, no Wine process outlives the run.
trap '"$root/tools/wine-server.sh" stop' EXIT
cd "$root/build"
ctest --output-on-failure -j2 "$@"
