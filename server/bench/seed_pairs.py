#!/usr/bin/env python3
"""SQL that seeds a community's pairs into a fresh database the service has migrated, for
tools/bench-players.sh. The same statements run on SQLite (sqlite3 -bail) and on PostgreSQL (psql).

usage: seed_pairs.py --pairs N      the SQL on stdout, one transaction
       seed_pairs.py --schema-version  the schema version whose rows it writes

Each row is what the service's own writes leave (server/src/storage/pair_writes.cpp) after player i
linked Steam and then, 9 in 10 of them, Discord, one player after another over a year, with every
session since expired: pairs as linkSteam and takeDiscord write them, one player_feed entry at the
cursor of the player's last change (a Discord link moves it on by one), and feed_counter at the last
cursor given. Steam ids are 7656119800xxxxxxx, xxxxxxx running over 0..N-1 in a fixed shuffled order
(players do not link in the order of their ids, so the indexes fill as a real database's do); the i-th
player to link has no Discord when i % 10 == 0.
"""
import argparse
import random
import sys

SCHEMA_VERSION = 3
STEAM_BASE = 76561198000000000
FIRST_LINK = 1764547200  # 2025-12-01 00:00 UTC
YEAR = 365 * 86400
DISCORD_EPOCH_MS = 1420070400000
BATCH = 1000
# Discord's display names (global_name, else the username), as the service keeps them.
DISCORD_NAMES = ["Jugador", "Ñandú", "lobo_gris", "Kira 🐺", "Señor Pingüino", "xX_Sniper_Xx", "María", "doc"]


def player(i, steam_suffix, gap):
    """The pair row of the i-th player to link, and how many feed cursors its links took."""
    steam_id = str(STEAM_BASE + steam_suffix)
    linked_at = FIRST_LINK + i * gap
    steam_name = steam_id  # Steam's OpenID gives no name: the service keeps the id in its place
    how = "confirmed" if i % 50 == 7 else "launcher"
    if i % 10 == 0:
        return (steam_id, steam_name, None, None, linked_at, None, how), 1
    # A third proved Discord first (joined to the pair in Steam's transaction, at the same second); the
    # rest pressed its button within two minutes, before the next player's link.
    discord_at = linked_at + (0 if i % 3 == 0 else (i * 37) % min(120, gap))
    # A snowflake: the account's creation time (days to years before) over 22 low bits holding i, so
    # every id differs.
    created_ms = (linked_at - 86400 * (1 + (i * 7919) % 2000)) * 1000
    discord_id = str(((created_ms - DISCORD_EPOCH_MS) << 22) | (i & 0x3FFFFF))
    discord_name = f"{DISCORD_NAMES[i % len(DISCORD_NAMES)]} {i}"
    return (steam_id, steam_name, discord_id, discord_name, linked_at, discord_at, how), 2


def literal(value):
    if value is None:
        return "NULL"
    if isinstance(value, int):
        return str(value)
    return "'" + value.replace("'", "''") + "'"


def insert(out, table, columns, rows):
    for start in range(0, len(rows), BATCH):
        out.write(f"INSERT INTO {table} ({', '.join(columns)}) VALUES\n")
        out.write(",\n".join("(" + ", ".join(literal(v) for v in row) + ")" for row in rows[start:start + BATCH]))
        out.write(";\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", type=int)
    parser.add_argument("--schema-version", action="store_true")
    args = parser.parse_args()
    if args.schema_version:
        print(SCHEMA_VERSION)
        return 0
    if args.pairs is None or not 1 <= args.pairs <= 10_000_000:
        parser.error("--pairs must be 1 to 10,000,000 (seven digits of the Steam ids)")
    gap = YEAR // args.pairs
    suffixes = list(range(args.pairs))
    random.Random(76561198).shuffle(suffixes)
    pairs, feed, cursor = [], [], 0
    for i in range(args.pairs):
        row, bumps = player(i, suffixes[i], gap)
        cursor += bumps
        pairs.append(row)
        feed.append((row[0], cursor))
    out = sys.stdout
    out.write("BEGIN;\n")
    insert(out, "pairs", ["steam_id", "steam_name", "discord_id", "discord_name", "linked_at",
                          "discord_linked_at", "how"], pairs)
    insert(out, "player_feed", ["steam_id", "seq"], feed)
    out.write(f"UPDATE feed_counter SET seq = {cursor} WHERE id = 1;\nCOMMIT;\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
