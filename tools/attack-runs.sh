#!/usr/bin/env bash
# The link service under floods from loopback, each run printing its figures (docs/running-the-service.md,
# "Bounds"):
#
#   bash tools/attack-runs.sh [--binary PROGRAM] [descriptors|silent|one-address|idle-tls ...]  (default: all)
#
#   descriptors   started with 1,024 descriptors (soft), as a unit without LimitNOFILE: 1,100 silent
#                 connections, and whether 80 players' GET /config are answered meanwhile
#   silent        18,000 silent connections (no handshake) from 300 addresses: resident memory before, at
#                 the peak and after, and a player's GET /config latency meanwhile
#   one-address   the same 18,000 from a single address
#   idle-tls      2,000 connections through the TLS handshake that then say nothing
# Each run is bounded (at most 50,000 connections, a minute or so) and stays on loopback. Builds
# build/server first, unless --binary names another program (an older build, to compare). Exits 1 when a
# run broke a promise of the bounds.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/server
program=$build/orvane-link-service
if [ "${1:-}" = "--binary" ]; then
    [ $# -ge 2 ] && [ -x "$2" ] || { echo "attack-runs: --binary needs a program" >&2; exit 2; }
    program=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
    shift 2
else
    [ -f "$build/build.ninja" ] || cmake -S "$root/server" -B "$build" -G Ninja >/dev/null || exit 1
    nice cmake --build "$build" -j2 --target orvane-link-service >/dev/null || exit 1
fi
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(descriptors silent one-address idle-tls)
status=0
for run in "${runs[@]}"; do
    case $run in
    descriptors | silent | one-address | idle-tls)
        timeout 300 python3 "$root/server/tools/attack_runs.py" "$program" "$run" || status=1 ;;
    *)
        echo "usage: $0 [--binary PROGRAM] [descriptors|silent|one-address|idle-tls ...]" >&2
        exit 2
        ;;
    esac
    echo
done
exit $status
