#!/usr/bin/env bash
# start: make sure the prefix exists and keep one wineserver warm for the whole test run.
# stop:  end it (this also writes the registry), so nothing outlives the run.
set -u
source "$(dirname "$0")/wine-env.sh"
case "${1:-}" in
start)
    "$(dirname "$0")/wine-prefix.sh" || exit 1
    # Daemons must not inherit the caller's pipes, or a test runner waits on them forever. Wine's
    # own services start with the first program, so start them here, detached too.
    "$ORVANE_WINESERVER" -p </dev/null >/dev/null 2>&1
    "$ORVANE_WINE" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
stop)
    "$ORVANE_WINESERVER" -k 2>/dev/null
    "$ORVANE_WINESERVER" -w 2>/dev/null
    exit 0
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
