# Sourced by the scripts that run one command against the link service's host,
# "SCRIPT [--host HOST] COMMAND [ARGS...]": sets host (default link.orvanegaming.com, the build's
# default) and leaves COMMAND and its arguments in "$@".
source "$(dirname "${BASH_SOURCE[0]}")/service-host.sh"
host=$default_host
if [ "${1:-}" = "--host" ]; then
    if [ $# -lt 2 ] || ! valid_host "$2"; then
        echo "$0: --host takes a DNS name, got '${2:-}'" >&2
        exit 2
    fi
    host=$2
    shift 2
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--host HOST] COMMAND [ARGS...]" >&2
    exit 2
fi
