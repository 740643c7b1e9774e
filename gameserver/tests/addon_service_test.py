#!/usr/bin/env python3
"""The addon under the game's API shim against the real orvane-link-service, which terminates TLS on a
loopback address (so the game server runs with -allowlocalhttp), players linked through the real link
road with the fake Steam and Discord: who the door admits under each community rule, changes reaching the
connected players, the service stopping under each policy, and a revoked key. Every command to the game
server fails the test on a Lua error or an error the addon caught in itself.

  server/tests/with-fake-providers.sh python3 addon_service_test.py BINARY

ORVANE_TEST_POSTGRES (with-postgres.sh) puts every community in that database instead of SQLite files.
"""
import itertools
import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "server", "tests"))
import service_harness as h  # noqa: E402
from game_server import GameServer, TEXT  # noqa: E402

BINARY = None
CERTS = None
REFRESH = 5
TICK = 0.05
# Every account and key name is new to the database, which PostgreSQL runs share.
_numbers = itertools.count(int(time.time()) % 100000 * 1000)


def new_steam():
    return "765611981%08d" % next(_numbers)


def new_discord():
    return "4%017d" % next(_numbers)


def setUpModule():
    global CERTS
    CERTS = tempfile.TemporaryDirectory(prefix="orvane-addon-service-certs.")
    script = f'source "{ROOT}/tools/test-ca.sh" && make_test_pair "$1" service "IP:127.0.0.1" ecdsa'
    subprocess.run(["bash", "-c", script, "make-certs", CERTS.name], check=True)


def tearDownModule():
    CERTS.cleanup()


def until(predicate, seconds, what):
    """Waits in real time for the service's own state (a key cache expiring): never for the addon's."""
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError(f"no {what} within {seconds} s")
        time.sleep(0.1)


class Community:
    """One link service with its game-server key; players linked through the fake providers."""

    def __init__(self, folder, discord=True):
        database = os.environ.get("ORVANE_TEST_POSTGRES") or os.path.join(folder, "links.sqlite3")
        settings = {} if discord else {"discord_client_id": None, "discord_client_secret": None}
        certificate = os.path.join(CERTS.name, "service")
        self.service = h.Instance(BINARY, folder, database, "service-%d" % next(_numbers), settings=settings,
                                  tls=(certificate + ".pem", certificate + ".key", certificate + "-ca.pem"))
        self.key_name, self.spare_key_name = "rp-%d" % next(_numbers), "rp-%d" % next(_numbers)
        # Made before the start, so the service's key cache reads both on the first request.
        self.key, self.spare_key = self.add_key(self.key_name), self.add_key(self.spare_key_name)
        self.service.start()
        self.url = self.service.url()

    def add_key(self, name):
        return self.service.command("gameserver-keys", "add", name).splitlines()[1]

    def key_answer(self, key):
        return h.call(self.service.port, "GET", "/gameserver/changes?since=0&limit=1", key)[0]

    def link(self, steam, discord=None):
        port = self.service.port
        token = h.new_session(port)
        status, page = h.complete(port, h.steam_callback(port, token, steam))
        if status != 200:
            raise AssertionError(f"Steam link of {steam}: {status} {page[:300]}")
        if discord:
            status, page = h.link_discord(port, token, {"id": discord, "username": "jugador",
                                                        "global_name": None, "discriminator": "0",
                                                        "avatar": None})
            if status != 200:
                raise AssertionError(f"Discord link of {steam}: {status} {page[:300]}")

    def players(self, *args):
        self.service.command("players", *args)

    def close(self):
        self.service.stop()


class AddonAgainstService(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="orvane-addon-service.")
        self.communities, self.servers = [], []

    def tearDown(self):
        for server in self.servers:
            server.close()
        for community in self.communities:
            community.close()
        self.folder.cleanup()

    def community(self, **options):
        folder = os.path.join(self.folder.name, f"community-{len(self.communities)}")
        os.makedirs(folder)
        community = Community(folder, **options)
        self.communities.append(community)
        return community

    def game_server(self, community, policy=None):
        folder = os.path.join(self.folder.name, f"server-{len(self.servers)}")
        server = GameServer(folder, ca=os.path.join(CERTS.name, "service-ca.pem"), allow_local_http=True)
        self.servers.append(server)
        server.start(community.url, community.key, policy=policy, refresh=REFRESH)
        self.assertTrue(server.wait("filled", 10), server.log_lines())
        return server

    def door(self, server, accounts):
        answers = {}
        for account in accounts:
            admitted, reason = server.connect(account)
            answers[account] = None if admitted else reason
        return answers


class Door(AddonAgainstService):
    # name, Discord on in the service, what the account went through, what the door answers
    CASES = [
        ("Steam and Discord linked", True, ["steam", "discord"], None),
        ("Steam alone while Discord is on", True, ["steam"], TEXT["not_linked"]),
        ("never linked", True, [], TEXT["not_linked"]),
        ("linked, then banned", True, ["steam", "discord", "ban"], TEXT["banned"]),
        ("banned without a pair", True, ["ban"], TEXT["banned"]),
        ("banned, then unbanned", True, ["steam", "discord", "ban", "unban"], None),
        ("linked, then unlinked", True, ["steam", "discord", "unlink"], TEXT["not_linked"]),
        ("Steam alone with Discord off", False, ["steam"], None),
        ("never linked with Discord off", False, [], TEXT["not_linked_steam"]),
        ("banned with Discord off", False, ["steam", "ban"], TEXT["banned"]),
    ]

    def prepare(self, community, steps):
        steam = new_steam()
        if "steam" in steps:
            community.link(steam, new_discord() if "discord" in steps else None)
        for step in ("ban", "unban", "unlink"):
            if step in steps:
                community.players(*([step, steam, "--reason", "trampas"] if step == "ban" else [step, steam]))
        return steam

    def test_the_door_answers_each_account_as_the_service_decides_it(self):
        for discord, rule in ((True, "steam+discord"), (False, "steam")):
            community = self.community(discord=discord)
            cases = [case for case in self.CASES if case[1] == discord]
            accounts = {name: self.prepare(community, steps) for name, _, steps, _ in cases}
            server = self.game_server(community)
            self.assertEqual(server.status()["addon"]["rule"], rule)
            answers = self.door(server, accounts.values())
            for name, _, _, expected in cases:
                with self.subTest(name):
                    self.assertEqual(answers[accounts[name]], expected)


class ChangesWhileRunning(AddonAgainstService):
    # name, linked before (with Discord), what happens while the server runs, then the player's fate:
    # "kicked" with the text, or "admitted" at the door within one refresh
    CASES = [
        ("banned mid-session", True, "ban", ("kicked", TEXT["banned"])),
        ("unlinked mid-session", True, "unlink", ("kicked", TEXT["not_linked"])),
        ("links while the server runs", False, "link", ("admitted", None)),
    ]

    def test_each_change_reaches_the_door_and_the_players_within_one_refresh(self):
        community = self.community()
        accounts = {}
        for name, linked, _, _ in self.CASES:
            accounts[name] = new_steam()
            if linked:
                community.link(accounts[name], new_discord())
        server = self.game_server(community)
        for name, linked, _, _ in self.CASES:
            self.assertEqual(server.connect(accounts[name]),
                             (True, None) if linked else (False, TEXT["not_linked"]), name)

        changed_at = server.now
        for name, _, change, _ in self.CASES:
            if change == "link":
                community.link(accounts[name], new_discord())
            else:
                community.players(*([change, accounts[name], "--reason", "trampas"] if change == "ban"
                                    else [change, accounts[name]]))
        server.advance(REFRESH + TICK)
        status = server.status()
        kicks = {kick["steam"]: kick for kick in status["kicks"]}
        for name, _, _, (fate, text) in self.CASES:
            with self.subTest(name):
                account = accounts[name]
                if fate == "kicked":
                    self.assertIn(account, kicks)
                    self.assertEqual(kicks[account]["reason"], text)
                    self.assertLessEqual(kicks[account]["at"] - changed_at, REFRESH + TICK)
                    self.assertNotIn(account, status["connected"])
                    self.assertEqual(server.connect(account), (False, text))
                else:
                    self.assertEqual(server.connect(account), (True, None))
        self.assertEqual(len(kicks), 2)


class ServiceDown(AddonAgainstService):
    def test_each_policy_keeps_or_closes_the_door_until_the_service_answers_again(self):
        # policy, answers while down within the grace, then after it: (known, unknown)
        cases = [
            ("last_known", (None, TEXT["not_linked"]), (None, TEXT["not_linked"])),
            ("refuse", (None, TEXT["not_linked"]), (TEXT["service_down"], TEXT["service_down"])),
        ]
        for policy, within, after in cases:
            with self.subTest(policy):
                community = self.community()
                known, inside, unknown = new_steam(), new_steam(), new_steam()
                community.link(known, new_discord())
                community.link(inside, new_discord())
                server = self.game_server(community, policy=policy)
                self.assertEqual(server.connect(inside), (True, None))
                first_log = len(server.logs()) + 1
                last_answer = server.status()["addon"]["lastAnswer"]
                community.service.stop()

                grace = 3 * REFRESH
                server.advance(last_answer + grace - server.now)
                self.assertEqual(tuple(self.door(server, [known, unknown]).values()), within)
                server.advance(60)
                self.assertEqual(tuple(self.door(server, [known, unknown]).values()), after)
                # Nobody in the game is kicked because the service is down.
                status = server.status()
                self.assertIn(inside, status["connected"])
                self.assertEqual(status["kicks"], [])

                community.service.start()
                self.assertTrue(server.wait("log", 61, text="the service answers again"))
                self.assertEqual(server.connect(known), (True, None))
                lines = [line for line in server.log_lines(first_log) if "] refused 7" not in line]
                self.assertEqual(len([line for line in lines if "cannot reach " + community.url in line]), 1,
                                 lines)
                stale = [line for line in lines if "refusing every player" in line]
                self.assertEqual(len(stale), 1 if policy == "refuse" else 0, lines)


class KeyRevoked(AddonAgainstService):
    def test_a_revoked_key_is_a_service_down_said_once_until_a_new_key_is_set(self):
        community = self.community()
        known, newcomer = new_steam(), new_steam()
        community.link(known, new_discord())
        server = self.game_server(community)
        self.assertEqual(server.connect(known), (True, None))
        first_log = len(server.logs()) + 1

        community.service.command("gameserver-keys", "revoke", community.key_name)
        until(lambda: community.key_answer(community.key) == 401, 15, "refusal of the revoked key")
        community.link(newcomer, new_discord())
        server.advance(200)
        status = server.status()
        self.assertEqual(status["addon"]["fault"], "key")
        self.assertGreaterEqual(status["addon"]["failures"], 4)
        self.assertEqual(status["connected"], [known])
        self.assertEqual(self.door(server, [known, newcomer]), {known: None, newcomer: TEXT["not_linked"]})

        server.convar("orvane_key", community.spare_key)
        self.assertTrue(server.wait("log", 61, text="the service answers again"))
        self.assertEqual(server.connect(newcomer), (True, None))
        lines = [line for line in server.log_lines(first_log) if "] refused 7" not in line]
        self.assertEqual(len([line for line in lines if "refused the key (401)" in line]), 1, lines)
        keys = (community.key, community.spare_key)
        self.assertFalse([line for line in server.log_lines() if any(key in line for key in keys)])


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
