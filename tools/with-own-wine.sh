#!/usr/bin/env bash
# Runs one command in a Wine session of its own:
#
#   tools/with-own-wine.sh COMMAND [ARGS...]
#
# - a copy of the project's Wine prefix (created first if needed), so what the command registers
#   there (a test CA, per-test settings) and the session file it leaves stay its own;
# - its own virtual display (1920 x 1080, or ORVANE_SCREEN) and a warm wineserver on it, so its
#   windows and clicks never meet those of a test running beside it (ctest -j2).
# COMMAND gets ORVANE_WINEPREFIX (the copy); the project's scripts then use the copy and its display.
# Afterwards the wineserver and the display end and the copy is deleted.
set -u
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

"$here/wine-prefix.sh" || exit 125
source_prefix=$(source "$here/wine-env.sh" && echo "$WINEPREFIX")
work=$(mktemp -d /tmp/orvane-wine.XXXXXX)
export ORVANE_WINEPREFIX="$work/wineprefix"
cleanup() {
    "$here/wine-server.sh" stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cp -a "$source_prefix" "$ORVANE_WINEPREFIX" || exit 125
"$here/wine-server.sh" start </dev/null >/dev/null 2>&1 || exit 125
"$@"
