#!/usr/bin/env python3
"""Players linking Steam at a fixed rate, for the link service's benchmark (tools/bench-service.sh --scale).

usage: linker.py --base URL --tokens FILE --per-minute N --seconds S [--workers N] [--label TEXT]

Each link is what a player's launcher and browser do: POST /link/steam with a session of its own, then the
browser follows the Steam page to the (fake) provider and back to the service's callback, whose page must
say the account is linked. Links are due at a fixed rate and each is timed from when it was due, so
queueing counts. Needs the harness's names and CAs (tools/shell-handler/player_browser.py). Prints one
block of figures in the load generator's format.
"""
import argparse
import json
import os
import ssl
import sys
import threading
import time
import urllib.request
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "shell-handler"))
import player_browser  # noqa: E402

LINKED_TITLE = "Cuenta de Steam vinculada"


def start_link(base, token, context):
    request = urllib.request.Request(base + "/link/steam", data=b"{}", method="POST",
                                     headers={"Content-Type": "application/json", "Authorization": "Bearer " + token})
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}), urllib.request.HTTPSHandler(context=context))
    with opener.open(request, timeout=30) as answer:
        return json.loads(answer.read())["url"]


def percentile(values, share):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--base", required=True)
    parser.add_argument("--tokens", required=True)
    parser.add_argument("--per-minute", type=float, required=True)
    parser.add_argument("--seconds", type=float, required=True)
    parser.add_argument("--workers", type=int, default=16)
    parser.add_argument("--label", default="links")
    args = parser.parse_args()
    with open(args.tokens) as f:
        tokens = f.read().split()
    context = ssl.create_default_context(cafile=os.environ["ORVANE_LINK_CA"])
    count = int(args.per_minute * args.seconds / 60)
    if count > len(tokens):
        sys.exit(f"linker: {count} links need as many sessions, the token file has {len(tokens)}")
    latencies, failures, lock = [], {}, threading.Lock()

    def link(k, due):
        try:
            page = player_browser.follow(start_link(args.base, tokens[k], context))
            outcome = "ok" if (page.status, page.title) == (200, LINKED_TITLE) else f"page_{page.status}"
        except (OSError, ValueError, KeyError) as failure:
            outcome = type(failure).__name__
        with lock:
            if outcome == "ok":
                latencies.append(time.monotonic() - due)
            else:
                failures[outcome] = failures.get(outcome, 0) + 1

    start = time.monotonic() + 0.5
    with ThreadPoolExecutor(args.workers) as pool:
        for k in range(count):
            due = start + k * 60 / args.per_minute
            time.sleep(max(0.0, due - time.monotonic()))
            pool.submit(link, k, due)
    took = time.monotonic() - start
    ms = [1000 * x for x in latencies]
    print(f"scenario: {args.label}")
    print(f"sent: {count}")
    print(f"answered: {len(latencies)}")
    print("failures: %d%s" % (sum(failures.values()), "".join(f" {k}={v}" for k, v in sorted(failures.items()))))
    print(f"achieved_rate: {len(latencies) / took * 60:.1f} links/min")
    print(f"latency_ms: p50={percentile(ms, 0.5):.2f} p99={percentile(ms, 0.99):.2f} max={max(ms, default=float('nan')):.2f}")


if __name__ == "__main__":
    main()
