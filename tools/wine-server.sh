#!/usr/bin/env bash
# start: make sure the prefix exists, start a virtual X display (1920 x 1080) for it and keep one
#        wineserver warm on that display for the whole test run.
# stop:  end the wineserver (this also writes the registry), then the display, so nothing outlives
#        the run.
# Wine fixes its display driver with the first process of a wineserver session, so the display
# must exist before the wineserver does.
set -u
source "$(dirname "$0")/wine-env.sh"
display_file="$WINEPREFIX.display"

start_display() {
    local n
    for n in $(seq 91 160); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        setsid Xvfb ":$n" -screen 0 "${ORVANE_SCREEN:-1920x1080}x24" -nolisten tcp </dev/null >/dev/null 2>&1 &
        local pid=$!
        for _ in $(seq 1 100); do
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                echo "$n $pid" >"$display_file"
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill "$pid" 2>/dev/null
    done
    echo "no virtual display could be started" >&2
    return 1
}

case "${1:-}" in
start)
    "$(dirname "$0")/wine-prefix.sh" || exit 1
    "$0" stop
    start_display || exit 1
    # Daemons must not inherit the caller's pipes, or a test runner waits on them forever. Wine's
    # own services start with the first program, so start them here, detached too.
    "$ORVANE_WINESERVER" -p </dev/null >/dev/null 2>&1
    "$ORVANE_WINE" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
stop)
    "$ORVANE_WINESERVER" -k 2>/dev/null
    "$ORVANE_WINESERVER" -w 2>/dev/null
    if [ -f "$display_file" ]; then
        read -r _ pid <"$display_file"
        kill "$pid" 2>/dev/null
        rm -f "$display_file"
    fi
    exit 0
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
