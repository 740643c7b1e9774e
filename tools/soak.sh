#!/usr/bin/env bash
# The long run of the launcher window (tools/soak.py) in a Wine session of its own against the local
# link service in its demo mode:
#
#   tools/soak.sh [--minutes N]      (default 60)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../build"
[ -f "$build/build.ninja" ] || bash "$here/build.sh" >/dev/null || exit 125
cmake --build "$build" --target OrvaneGaming window_probe >/dev/null || exit 125
host=$(sed -n 's/^ORVANE_SERVICE_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
exec bash "$here/with-own-wine.sh" bash "$here/with-link-service.sh" ${host:+--host "$host"} \
    python3 "$here/soak.py" "$build/OrvaneGaming/OrvaneGaming.exe" "$build/tests/window_probe.exe" "$@"
