#!/usr/bin/env bash
# Installs what is missing, builds, and starts the launcher from its staged folder under Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
source "$root/tools/wine-env.sh"
trap '"$root/tools/wine-server.sh" stop' EXIT
"$root/tools/wine-prefix.sh"
exe="$root/build/OrvaneGaming/OrvaneGaming.exe"
echo "Starting $exe $*"
set +e
"$ORVANE_WINE" "$exe" "$@"
code=$?
set -e
case $code in
0) meaning="closed normally" ;;
1) meaning="no program folder, or the self-test found a fault" ;;
2) meaning="GDI+ did not start" ;;
3) meaning="the preview renderer failed" ;;
4) meaning="the main window could not be created (the window is not built yet)" ;;
64) meaning="command line not recognised" ;;
*) meaning="unexpected" ;;
esac
echo "OrvaneGaming exited with code $code: $meaning"
