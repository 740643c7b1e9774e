#!/usr/bin/env bash
# The link service's fault runs, each printing its figures (README, "Reliability"):
#
#   bash tools/fault-runs.sh [kill|database-restart|full-disk ...]     (default: all of them)
#
#   kill              kill -9 of an instance while links complete: on SQLite, then on PostgreSQL with
#                     two instances (the fake providers stand in for Steam)
#   database-restart  PostgreSQL stopped for 3 s and started again under load: 503s, never a hang, and
#                     the service recovers by itself
#   full-disk         SQLite in a 4 MiB tmpfs that fills up: 503s, no committed row lost
# Builds build/server first. Needs root (fake providers on port 443, private mounts, PostgreSQL run as
# the postgres user). Exits 1 when a run failed.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/server
tests=$root/server/tests
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(kill database-restart full-disk)
[ -f "$build/build.ninja" ] || cmake -S "$root/server" -B "$build" -G Ninja >/dev/null || exit 1
nice cmake --build "$build" --target orvane-link-service >/dev/null || exit 1
status=0
for run in "${runs[@]}"; do
    case $run in
    kill)
        "$tests/with-fake-providers.sh" python3 "$root/server/tools/fault_runs.py" "$build/orvane-link-service" kill || status=1
        "$tests/with-postgres.sh" "$tests/with-fake-providers.sh" \
            python3 "$root/server/tools/fault_runs.py" "$build/orvane-link-service" kill || status=1
        ;;
    database-restart) "$tests/with-postgres.sh" python3 "$root/server/tools/fault_runs.py" \
        "$build/orvane-link-service" database-restart || status=1 ;;
    full-disk) "$root/tools/with-small-folder.sh" 4096 python3 "$root/server/tools/fault_runs.py" \
        "$build/orvane-link-service" full-disk || status=1 ;;
    *)
        echo "usage: $0 [kill|database-restart|full-disk ...]" >&2
        exit 2
        ;;
    esac
    echo
done
exit $status
