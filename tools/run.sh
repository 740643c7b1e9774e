#!/usr/bin/env bash
# Installs what is missing, builds, and starts the launcher from its staged folder under Wine.
# With a display (DISPLAY set and reachable) the window opens there. Without one it runs on a virtual
# display and keeps a screenshot of it in the reports folder until stopped with Ctrl+C.
# Arguments go to the launcher (e.g. --render-preview, --self-test).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
exe="$root/build/OrvaneGaming/OrvaneGaming.exe"
shot="$root/build/OrvaneGaming/reports/window.png"

explain() {
    local meaning
    case $1 in
    0) meaning="closed normally" ;;
    1) meaning="no program folder, or the self-test found a fault" ;;
    2) meaning="GDI+ did not start" ;;
    3) meaning="the preview renderer could not write every file" ;;
    4) meaning="the main window could not be created" ;;
    64) meaning="command line not recognised" ;;
    130 | 137 | 143) meaning="stopped" ;;
    *) meaning="unexpected" ;;
    esac
    echo "OrvaneGaming exited with code $1: $meaning"
}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    export ORVANE_KEEP_DISPLAY=1
    source "$root/tools/wine-env.sh"
    "$root/tools/wine-server.sh" stop
    trap '"$root/tools/wine-server.sh" stop' EXIT
    "$root/tools/wine-prefix.sh"
    echo "Starting $exe $* on display $DISPLAY"
    set +e
    "$ORVANE_WINE" "$exe" "$@"
    explain $?
    exit 0
fi

# No display: a virtual one, and a screenshot every two seconds for as long as the launcher runs.
"$root/tools/wine-server.sh" start
trap '"$root/tools/wine-server.sh" stop' EXIT
source "$root/tools/wine-env.sh"
echo "No display found: running $exe $* on a virtual display."
"$ORVANE_WINE" "$exe" "$@" </dev/null &
launcher=$!
trap 'kill $launcher 2>/dev/null' INT TERM
announced=
while kill -0 "$launcher" 2>/dev/null; do
    sleep 2
    if import -display "$DISPLAY" -window root "$shot.tmp.png" 2>/dev/null; then
        mv -f "$shot.tmp.png" "$shot"
        [ -n "$announced" ] || echo "Screenshot of the window: $shot (renewed every 2 s; Ctrl+C stops the launcher)"
        announced=1
    fi
done
set +e
wait "$launcher"
explain $?
