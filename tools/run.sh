#!/usr/bin/env bash
# Installs what is missing, builds, and starts the launcher from its staged folder under Wine:
#
#   bash tools/run.sh [--offline] [LAUNCHER ARGUMENT]
#
# The window (no argument, --diagnose-linking or --test-steam-click) runs against the project's link
# service, orvane-link-service, built from server/, with only Steam and Discord simulated
# (tools/with-real-service.sh, tools/launch-window.sh --demo); with --offline it runs with no service
# at all, the service host leading to a loopback address where nothing listens, to show the offline
# state. Any other argument (--render-preview, --self-test ...) runs the launcher's batch mode as it is.
# With a display (DISPLAY set and reachable) the window opens there; without one it runs on a virtual
# display, whose number is printed (DISPLAY=:N xdotool ... drives it), and a screenshot of it is kept
# in build/run-shots (never in the staged folder, which is what players get) until Ctrl+C. Prints the exit code and
# what it means, and exits with it. The window needs root, as the tests do (port 443, private mount namespace).
# ORVANE_LAUNCH_EXE=PATH opens that exe instead of the staged one (e.g. from an extracted package).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
offline=
if [ "${1:-}" = "--offline" ]; then
    offline=1
    shift
fi
# Only what the run needs: the launcher and its staged pictures, not the tests and benchmarks; the link
# service for the window.
"$root/tools/build.sh" OrvaneGaming stage_assets
exe="${ORVANE_LAUNCH_EXE:-$root/build/OrvaneGaming/OrvaneGaming.exe}"

explain() {
    local meaning
    case $1 in
    0) meaning="finished normally" ;;
    1) meaning="no program folder, or the self-test found a fault" ;;
    2) meaning="GDI+ did not start" ;;
    3) meaning="the preview renderer could not write every file" ;;
    4) meaning="the main window could not be created" ;;
    64) meaning="command line not recognised" ;;
    125) meaning="the link service or the host mapping could not be set up (see above)" ;;
    130 | 137 | 143) meaning="stopped" ;;
    *) meaning="unexpected" ;;
    esac
    echo "OrvaneGaming exited with code $1: $meaning"
    return "$1"
}

case "${1:-}" in
"" | --diagnose-linking | --test-steam-click) ;;
*)
    # A batch mode draws off-screen and talks to no service: no display, no link service.
    "$root/tools/wine-prefix.sh"
    trap '"$root/tools/wine-server.sh" stop' EXIT
    source "$root/tools/wine-env.sh"
    set +e
    "$ORVANE_WINE" "$exe" "$@" </dev/null
    explain $?
    exit
    ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    echo "The window runs against a local link service on port 443 in a private mount namespace: run" \
        "this as root (sudo bash tools/run.sh $*)." >&2
    exit 1
fi

# Wine fixes its display with the first process of a session, so the session starts on the display
# the window will use, before the link service's CA goes into the prefix.
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    export ORVANE_KEEP_DISPLAY=1
    "$root/tools/wine-server.sh" stop
    "$root/tools/wine-prefix.sh"
else
    "$root/tools/wine-server.sh" start
fi
trap '"$root/tools/wine-server.sh" stop' EXIT
host=$(sed -n 's/^ORVANE_SERVICE_HOST:STRING=//p' "$root/build/CMakeCache.txt")

set +e
if [ -n "$offline" ]; then
    echo "Offline: no link service; $host leads to a loopback address where nothing listens."
    "$root/tools/with-offline-service.sh" --host "$host" "$root/tools/launch-window.sh" "$@"
else
    "$root/tools/build-service.sh" orvane-link-service || exit 1
    "$root/tools/with-real-service.sh" --host "$host" "$root/tools/launch-window.sh" --demo "$@"
fi
explain $?
exit
