#!/usr/bin/env bash
# Builds, then measures what the animated window costs, and prints one report:
#   - the renderer off-screen (build/bench/frame_bench.exe): frames from scratch and 10 s of ticks at
#     1420 x 890, 960 x 640 and 1920 x 1080, for the fast and the reference drawing path;
#   - the real window, drawn each way (bench/measure_window.py with build/bench/window_bench.exe): start-up to the first
#     frame, CPU share open and in the background, private memory; the player's program for the fast
#     path, its bench-only build build/bench/reference/OrvaneGaming.exe for the reference path;
#   - the player's window when it can and cannot be seen (bench/measure_hidden.py): CPU share of the
#     process plus wineserver for 60 s each in front, behind another window, covered completely and
#     minimised, beside build/bench/idle_floor.exe (a message loop with no timer).
# It runs in a Wine prefix and on a virtual display of its own (build/bench-wineprefix, or
# ORVANE_BENCH_WINEPREFIX), so a test run beside it is never disturbed, and stops both when it ends.
#
#   tools/benchmark.sh [--quick] [--path fast|reference|both] [--frames-only | --window-only | --hidden-only]
#
# --quick: the reference path draws 1 tick in 5 at 960 x 640 and 1920 x 1080 (about 4 minutes fewer).
# --hidden-only: only the hidden-window figures (about 8 minutes), building only what they need.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
given="$*"
frame_args=()
frames=1
window=1
hidden=1
window_paths="reference fast"
while [ $# -gt 0 ]; do
    case $1 in
    --quick) frame_args+=(--quick) ;;
    --path)
        [ $# -ge 2 ] || { echo "--path needs fast, reference or both" >&2; exit 64; }
        frame_args+=(--path "$2")
        case $2 in
        fast | reference) window_paths=$2 ;;
        *) window_paths="reference fast" ;;
        esac
        shift
        ;;
    --frames-only) window= hidden= ;;
    --window-only) frames= hidden= ;;
    --hidden-only) frames= window= ;;
    *)
        echo "usage: $0 [--quick] [--path fast|reference|both] [--frames-only | --window-only | --hidden-only]" >&2
        exit 64
        ;;
    esac
    shift
done

log="$root/build/benchmark-build.log"
mkdir -p "$root/build"
targets=()
[ -n "$frames$window" ] || targets=(OrvaneGaming stage_assets window_bench idle_floor)
if ! { nice "$root/tools/build.sh" "${targets[@]}" && nice "$root/tools/build-service.sh" orvane-link-service; } \
    >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "build failed (full log: $log)" >&2
    exit 1
fi

export ORVANE_WINEPREFIX="${ORVANE_BENCH_WINEPREFIX:-$root/build/bench-wineprefix}"
unset ORVANE_SCREEN
# Whatever happens, this prefix's wineserver (and with it every Wine process of the run) and the
# virtual display end with the script.
trap '"$root/tools/wine-server.sh" stop' EXIT
"$root/tools/wine-server.sh" start
source "$root/tools/wine-env.sh"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "OrvaneGaming frame cost, measured $(date -u '+%Y-%m-%d %H:%M UTC') on this machine"
echo "  $cpu, $(nproc) cores; $("$ORVANE_WINE" --version); virtual display 1920 x 1080 ($DISPLAY)"
echo "  load average at start: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine shows in" \
    "the figures)"
echo "  command: tools/benchmark.sh${given:+ $given}"
echo "  A tick is the window's 16 ms repaint period; times are also given in ticks."
status=0
if [ -n "$frames" ]; then
    echo
    "$root/tools/wine-run" "$root/build/bench/frame_bench.exe" "${frame_args[@]}" || status=1
fi
if [ -n "$window" ]; then
    # Pictures at the loader's limit, for the memory bound.
    python3 "$root/tests/make_fixtures.py" "$root/build/test-fixtures" "$root/build/OrvaneGaming/assets"
    # The window talks to the link service built here, on loopback, never the real host.
    # The player's program draws with the fast path; the bench-only build beside it, with the reference.
    for path in $window_paths; do
        exe="$root/build/OrvaneGaming/OrvaneGaming.exe"
        [ "$path" = reference ] && exe="$root/build/bench/reference/OrvaneGaming.exe"
        echo
        "$root/tools/with-real-service.sh" python3 "$root/bench/measure_window.py" \
            "$exe" "$root/build/bench/window_bench.exe" --path "$path" \
            --large-picture "$root/build/test-fixtures/tall-16384x3906.png" || status=1
    done
fi
if [ -n "$hidden" ]; then
    echo
    "$root/tools/with-real-service.sh" python3 "$root/bench/measure_hidden.py" \
        "$root/build/OrvaneGaming/OrvaneGaming.exe" "$root/build/bench/window_bench.exe" \
        "$root/build/bench/idle_floor.exe" || status=1
fi
exit $status
