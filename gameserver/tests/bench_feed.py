#!/usr/bin/env python3
"""What the addon's first fill of a large community costs: a link service whose database holds N pairs
(written straight into the tables the service made), and the addon under the game's API shim filling its
list from it over TLS on loopback. A benchmark, not a test: it prints figures and fails only when the
list does not end up whole.

  python3 bench_feed.py BINARY [--pairs 100000]
  server/tests/with-postgres.sh python3 bench_feed.py BINARY     # SQLite, then PostgreSQL

Wall time counts the shim's one curl process per page (a game server keeps its connection); "service
alone" is the same pages asked from Python, one connection each, for comparison. The callbacks' CPU
time is what the game's one Lua thread spends on the answers, with lua-cjson standing in for the
game's own JSON reader.
"""
import argparse
import json
import os
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "server", "tests"))
import service_harness as h  # noqa: E402
from game_server import GameServer  # noqa: E402

LINKED_AT = 1700000000
BAN_EVERY = 100  # every hundredth pair is also banned, so both states are in the pages

# One script for both backends: pairs with Discord, each in the feed at the cursor of its number.
FILL_SQL = """
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < {pairs})
INSERT INTO pairs (steam_id, steam_name, discord_id, discord_name, linked_at, discord_linked_at, how)
    SELECT CAST(76561198000000000 + i AS TEXT), 'jugador ' || i, CAST(400000000000000000 + i AS TEXT),
           'jugador ' || i, {at} + i, {at} + i, 'launcher' FROM n;
INSERT INTO player_feed (steam_id, seq) SELECT steam_id, linked_at - {at} FROM pairs;
INSERT INTO bans (steam_id, reason, banned_at)
    SELECT steam_id, 'bench', {at} FROM pairs WHERE (linked_at - {at}) % {ban_every} = 0;
UPDATE feed_counter SET seq = {pairs} WHERE id = 1;
"""


def fill_database(database, pairs):
    script = FILL_SQL.format(pairs=pairs, at=LINKED_AT, ban_every=BAN_EVERY)
    if database.startswith("postgresql://"):
        subprocess.run(["psql", database, "-q", "-v", "ON_ERROR_STOP=1", "-f", "-"], input=script, text=True,
                       check=True, stdout=subprocess.DEVNULL)
    else:
        connection = sqlite3.connect(database)
        with connection:
            connection.executescript(script)
        connection.close()


def service_alone(instance, key):
    """Seconds for the whole feed asked from Python, page after page, as the addon asks it."""
    started, since, more = time.monotonic(), 0, True
    while more:
        status, _, body = h.call(instance.port, "GET", "/gameserver/changes", key,
                                 query=f"since={since}&limit=1000")
        if status != 200:
            raise RuntimeError(f"the feed answered {status}")
        page = json.loads(body)
        since, more = page["next"], page["more"]
    return time.monotonic() - started


def run(backend, binary, database, folder, certificate, pairs):
    instance = h.Instance(binary, folder, database, "bench-" + backend,
                          tls=(certificate + ".pem", certificate + ".key", certificate + "-ca.pem"))
    # The command opens the database once, so the service's schema exists before the rows go in.
    key = instance.command("gameserver-keys", "add", "bench-" + backend.lower()).splitlines()[1]
    loaded = time.monotonic()
    fill_database(database, pairs)
    loaded = time.monotonic() - loaded
    instance.start()
    server = GameServer(os.path.join(folder, "game-" + backend), ca=certificate + "-ca.pem")
    try:
        server.start(instance.url(), key)
        before = server.lua_kib()
        started = time.monotonic()
        if not server.wait("filled", 3600):
            raise RuntimeError("the list was not filled: " + "\n".join(server.log_lines()[-5:]))
        wall = time.monotonic() - started
        after = server.lua_kib()
        status = server.status()["addon"]
        if status["accounts"] != pairs:
            raise RuntimeError(f"the list holds {status['accounts']} accounts, not {pairs}")
        pages = [entry for entry in server.fetched() if "bytes" in entry]
        alone = service_alone(instance, key)
    finally:
        server.close()
        instance.stop()
    seconds = [page["seconds"] for page in pages]
    rows = [
        ("pairs in the database (written in)", f"{pairs} ({loaded:.1f} s)"),
        ("pages", len(pages)),
        ("bytes received", f"{sum(page['bytes'] for page in pages)} "
                           f"(largest page {max(page['bytes'] for page in pages)})"),
        ("wall time of the fill", f"{wall:.2f} s ({wall / len(pages) * 1000:.0f} ms a page)"),
        ("service alone, the same pages", f"{alone:.2f} s"),
        ("callbacks' CPU, all pages", f"{sum(seconds):.2f} s"),
        ("callbacks' CPU, longest page", f"{max(seconds) * 1000:.0f} ms"),
        ("Lua heap before the fill", f"{before:.0f} KiB"),
        ("Lua heap after the fill (collected)", f"{after:.0f} KiB (+{(after - before) / 1024:.1f} MiB)"),
        ("Lua heap, largest right after a page", f"{max(page['kib'] for page in pages) / 1024:.1f} MiB "
                                                 "(uncollected)"),
    ]
    print(f"# {backend}")
    for name, value in rows:
        print(f"{name:<44} {value}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary")
    parser.add_argument("--pairs", type=int, default=100000)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="orvane-bench-feed.") as folder:
        script = f'source "{ROOT}/tools/test-ca.sh" && make_test_pair "$1" service "IP:127.0.0.1" ecdsa'
        subprocess.run(["bash", "-c", script, "make-certs", folder], check=True)
        certificate = os.path.join(folder, "service")
        binary = os.path.abspath(args.binary)
        run("SQLite", binary, os.path.join(folder, "links.sqlite3"), folder, certificate, args.pairs)
        if os.environ.get("ORVANE_TEST_POSTGRES"):
            run("PostgreSQL", binary, os.environ["ORVANE_TEST_POSTGRES"], folder, certificate, args.pairs)


if __name__ == "__main__":
    main()
