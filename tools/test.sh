#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the launcher's under the project's Wine prefix,
# then the link service's, built natively. Either failing fails the run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
# The launcher's end-to-end test runs against the service, so it is built before either suite runs.
"$root/tools/build-service.sh"
# Whatever happens, no Wine process outlives the run.
trap '"$root/tools/wine-server.sh" stop' EXIT
status=0
(cd "$root/build" && ctest --output-on-failure -j2 "$@") || status=$?
(cd "$root/build/server" && ctest --output-on-failure "$@") || status=$?
exit $status
