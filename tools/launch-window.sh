#!/usr/bin/env bash
# Opens the launcher window from the staged folder under Wine, for tools/run.sh:
#
#   tools/launch-window.sh [--demo] [LAUNCHER ARGUMENT]
#
# On the user's display when ORVANE_KEEP_DISPLAY is set; otherwise on the Wine session's virtual display,
# with a screenshot of it in the reports folder every 2 s until the launcher ends (Ctrl+C ends it).
# --demo (inside tools/with-real-service.sh): the prefix's browser follows each authorisation page a few
# seconds after it gets it, through the simulated provider back to the service, and the steam: handler
# says what Steam would do (tools/shell-handler). Exits with the launcher's exit code.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine-env.sh"
# ORVANE_LAUNCH_EXE opens another copy, such as one extracted from the players' zip.
exe="${ORVANE_LAUNCH_EXE:-$root/build/OrvaneGaming/OrvaneGaming.exe}"
# Outside the staged folder: that folder is what players get.
mkdir -p "$root/build/run-shots"
shot="$root/build/run-shots/window.png"

if [ "${1:-}" = "--demo" ]; then
    shift
    export ORVANE_DEMO=1
    echo "Demo: the link service (orvane-link-service) answers as $ORVANE_LINK_SERVICE_HOST; only Steam and" \
        "Discord are simulated. Press VINCULAR and, after a few seconds, the demo browser follows the" \
        "authorisation page to the simulated provider and back to the service, as a player's browser would;" \
        "what the browser and Steam are asked to do is printed here. The service's log: $ORVANE_SERVICE_LOG"
fi

# Wine's GUI programs do not end on SIGINT, so Ctrl+C ends the launcher here.
if [ -n "${ORVANE_KEEP_DISPLAY:-}" ]; then
    echo "Starting $exe${*:+ $*} on display $DISPLAY"
else
    echo "No display found: running $exe${*:+ $*} on the virtual display $DISPLAY" \
        "(drive it with, for example, DISPLAY=$DISPLAY xdotool mousemove 700 450 click 1)."
fi
"$ORVANE_WINE" "$exe" "$@" </dev/null &
launcher=$!
trap 'kill $launcher 2>/dev/null' INT TERM
announced=
while kill -0 "$launcher" 2>/dev/null; do
    if [ -n "${ORVANE_KEEP_DISPLAY:-}" ]; then
        wait "$launcher"
        continue
    fi
    sleep 2
    if import -display "$DISPLAY" -window root "$shot.tmp.png" 2>/dev/null; then
        mv -f "$shot.tmp.png" "$shot"
        [ -n "$announced" ] || echo "Screenshot of the window: $shot (renewed every 2 s; Ctrl+C stops the launcher)"
        announced=1
    fi
done
wait "$launcher"
