#!/usr/bin/env bash
# Kills a saving launcher at random moments (tools/crash-safe-run.py), in a Wine session of its own:
#
#   tools/crash-safe-run.sh [--trials N] [--seed S]
set -u
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../build"
[ -f "$build/build.ninja" ] || bash "$here/build.sh" >/dev/null || exit 125
cmake --build "$build" --target crash_loop >/dev/null || exit 125
exec bash "$here/with-own-wine.sh" python3 "$here/crash-safe-run.py" "$build/tests/crash_loop.exe" "$@"
