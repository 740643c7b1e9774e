# Sourced by the scripts that run one command against the link service's host,
# "SCRIPT [--host HOST] COMMAND [ARGS...]": sets host (default link.orvanegaming.com, the build's
# default) and leaves COMMAND and its arguments in "$@".
host=link.orvanegaming.com
if [ "${1:-}" = "--host" ]; then
    host=$2
    shift 2
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--host HOST] COMMAND [ARGS...]" >&2
    exit 2
fi
