# Sourced by the project's scripts: where the project's own Wine prefix lives and how Wine is called.
# Never the user's ~/.wine; every script sets WINEPREFIX before touching a wineserver.
orvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${ORVANE_WINEPREFIX:-$orvane_root/build/wineprefix}"
export WINEDEBUG="${ORVANE_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
ORVANE_WINE=/usr/lib/wine/wine64
ORVANE_WINESERVER=/usr/lib/wine/wineserver64

# The test run's virtual display, when one is up (tools/wine-server.sh). Otherwise tests get no
# display at all, so a stray DISPLAY never decides how Wine starts; the run script keeps the user's.
if [ -f "$WINEPREFIX.display" ]; then
    read -r orvane_display _ <"$WINEPREFIX.display"
    export DISPLAY=":$orvane_display"
elif [ -z "${ORVANE_KEEP_DISPLAY:-}" ]; then
    unset DISPLAY
fi
