#!/usr/bin/env bash
# The full mutation run of the link service's document readers under Wine (not part of the suite,
# which runs 5,000 documents): builds, then feeds DOCUMENTS mutated documents (default 1,000,000)
# through them and prints the figures (documents, accepted, rejected, seconds).
#   bash tools/link-mutation-run.sh [DOCUMENTS] [SEED]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
trap '"$root/tools/wine-server.sh" stop' EXIT
"$root/tools/wine-server.sh" start
"$root/tools/wine-run" "$root/build/tests/link_mutation_run.exe" "${1:-1000000}" "${2:-20261008}"
