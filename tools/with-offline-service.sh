#!/usr/bin/env bash
# Runs one command with the link service out of reach, as when it is down:
#
#   tools/with-offline-service.sh [--host HOST] COMMAND [ARGS...]
#
# HOST (default link.orvanegaming.com) leads to a loopback address where nothing listens, for COMMAND
# only (tools/with-hosts.sh): a launcher started by COMMAND has its connections refused at once, and no
# lookup of HOST reaches DNS, so nothing leaves the machine. Needs root (mount namespace).
set -u
source "$(dirname "$0")/host-option.sh"
address=$(python3 -c 'import random, socket
for _ in range(100):
    a = "127.%d.%d.%d" % (random.randint(1, 254), random.randint(0, 255), random.randint(1, 254))
    try:
        socket.create_connection((a, 443), timeout=1).close()
    except ConnectionRefusedError:
        print(a)
        break
    except OSError:
        pass')
if [ -z "$address" ]; then
    echo "with-offline-service: no loopback address without a listener found" >&2
    exit 125
fi
"$(dirname "$0")/with-hosts.sh" "$address" "$host" -- "$@"
