#!/usr/bin/env python3
"""The addon against a stand-in feed (feed_stub.py) over HTTPS: paging, changes reaching the door and
the players, a rule change, every way the service can fail to answer, the policies and the settings.
The same addon against the real service is addon_service_test.py.

  python3 addon_stub_test.py
"""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from feed_stub import FeedStub  # noqa: E402
from game_server import GameServer, TEXT  # noqa: E402

TOOLS = os.path.join(HERE, "..", "..", "tools")
KEY = "gs-test-key-5f1c0a"
REFRESH = 5
TICK = 0.05
CERTS = None


def steam(n):
    return "765611980%08d" % n


def setUpModule():
    global CERTS
    CERTS = tempfile.TemporaryDirectory(prefix="orvane-addon-certs.")
    subprocess.run(["bash", "-c", f'source "{TOOLS}/test-ca.sh" && make_test_pair "$1" stub "IP:127.0.0.1"',
                    "make-certs", CERTS.name], check=True)


def tearDownModule():
    CERTS.cleanup()


class AddonCase(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="orvane-addon.")
        certificate = os.path.join(CERTS.name, "stub")
        self.stub = FeedStub(KEY, tls=(certificate + ".pem", certificate + ".key"))
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.close()
        self.stub.close()
        self.folder.cleanup()

    def game_server(self, **options):
        folder = os.path.join(self.folder.name, f"server-{len(self.servers)}")
        server = GameServer(folder, ca=os.path.join(CERTS.name, "stub-ca.pem"), **options)
        self.servers.append(server)
        return server

    def filled(self, policy=None, refresh=REFRESH):
        server = self.game_server()
        server.start(self.stub.url, KEY, policy=policy, refresh=refresh)
        self.assertTrue(server.wait("filled", 10), server.log_lines())
        return server

    def assertDoor(self, server, expected):
        """expected: {steamid: None to admit, else the refusal text}."""
        got = {}
        for account in expected:
            admitted, reason = server.connect(account)
            got[account] = None if admitted else reason
        self.assertEqual(got, expected)


class FillAndChanges(AddonCase):
    def test_the_fill_pages_through_the_feed_and_the_door_answers_from_the_list(self):
        for n in range(2500):
            self.stub.set_player(steam(n), ready=n % 2 == 0, banned=n % 7 == 0)
        server = self.filled()
        asked = [query for query, _ in self.stub.requests]
        self.assertEqual(asked, [{"since": str(s), "limit": "1000"} for s in (0, 1000, 2000)])
        self.assertEqual({auth for _, auth in self.stub.requests}, {"Bearer " + KEY})
        self.assertDoor(server, {steam(2): None, steam(3): TEXT["not_linked"], steam(14): TEXT["banned"],
                                 steam(21): TEXT["banned"], steam(9999): TEXT["not_linked"]})
        # Then one page per refresh period, from where the fill ended.
        server.advance(3 * REFRESH)
        self.assertEqual([query["since"] for query, _ in self.stub.requests[3:]], ["2500"] * 3)

    def test_changes_reach_the_door_and_the_connected_players_within_one_refresh(self):
        linked, to_ban, to_unlink, newcomer, bot = steam(1), steam(2), steam(3), steam(4), "90071996842377216"
        for account in (linked, to_ban, to_unlink):
            self.stub.set_player(account, ready=True, discord="123456789012345678")
        server = self.filled()
        for account in (linked, to_ban, to_unlink):
            self.assertEqual(server.connect(account), (True, None))
        self.assertEqual(server.connect(newcomer), (False, TEXT["not_linked"]))
        server.connect(bot, bot=True)

        changed_at = server.now
        self.stub.set_player(to_ban, ready=False, banned=True, discord="123456789012345678")
        self.stub.set_player(to_unlink, ready=False)
        self.stub.set_player(newcomer, ready=True, discord="223456789012345678")
        self.assertTrue(server.wait("kicked", REFRESH + TICK, steam=to_unlink))
        status = server.status()
        kicks = {kick["steam"]: (kick["reason"], kick["at"]) for kick in status["kicks"]}
        self.assertEqual(set(kicks), {to_ban, to_unlink})
        self.assertEqual(kicks[to_ban][0], TEXT["banned"])
        self.assertEqual(kicks[to_unlink][0], TEXT["not_linked"])
        self.assertLessEqual(kicks[to_ban][1] - changed_at, REFRESH + TICK)
        self.assertEqual(sorted(status["connected"]), sorted([linked, bot]))
        self.assertDoor(server, {newcomer: None, to_ban: TEXT["banned"], to_unlink: TEXT["not_linked"]})

    def test_players_in_the_game_when_the_addon_loads_are_held_to_the_first_list(self):
        # A map change reloads Lua with the players still connected: nobody asked the door for them.
        ready, banned, unknown, bot = steam(12), steam(13), steam(14), "90071996842377217"
        self.stub.set_player(ready, ready=True)
        self.stub.set_player(banned, ready=False, banned=True)
        server = self.game_server()
        for account in (ready, banned, unknown):
            self.assertEqual(server.connect(account), (True, None))
        server.connect(bot, bot=True)
        server.start(self.stub.url, KEY)
        self.assertTrue(server.wait("filled", 10))
        status = server.status()
        self.assertEqual(sorted(status["connected"]), sorted([ready, bot]))
        self.assertEqual({k["steam"]: k["reason"] for k in status["kicks"]},
                         {banned: TEXT["banned"], unknown: TEXT["not_linked"]})

    def test_a_player_banned_while_loading_is_kicked_on_arrival(self):
        account = steam(5)
        self.stub.set_player(account, ready=True)
        server = self.filled()
        self.assertEqual(server.connect(account, loading=True), (True, None))
        self.stub.set_player(account, ready=False, banned=True)
        server.advance(REFRESH + TICK)
        self.assertEqual(server.status()["kicks"], [])  # not in the game yet: nobody to kick
        server.spawn(account)
        kicks = [(k["steam"], k["reason"]) for k in server.status()["kicks"]]
        self.assertEqual(kicks, [(account, TEXT["banned"])])

    def test_a_rule_change_fills_the_list_again_and_kicks_whom_the_new_rule_refuses(self):
        steam_only, both = steam(6), steam(7)
        self.stub.rule = "steam"
        self.stub.set_player(steam_only, ready=True)
        self.stub.set_player(both, ready=True, discord="323456789012345678")
        server = self.filled()
        self.assertDoor(server, {steam_only: None, both: None, steam(8): TEXT["not_linked_steam"]})
        self.assertEqual(self.stub.fills_since_zero(), 1)

        self.stub.set_rule("steam+discord", lambda entry: entry["discord"] is not None)
        self.assertTrue(server.wait("kicked", REFRESH + TICK, steam=steam_only))
        self.assertEqual(self.stub.fills_since_zero(), 2)
        status = server.status()
        self.assertEqual(status["connected"], [both])
        self.assertEqual(status["kicks"][0]["reason"], TEXT["not_linked"])
        self.assertEqual(status["addon"]["rule"], "steam+discord")
        self.assertDoor(server, {steam_only: TEXT["not_linked"], both: None})

    def test_under_rule_none_everyone_but_the_banned_comes_in(self):
        self.stub.rule = "none"
        self.stub.set_player(steam(9), ready=True)
        self.stub.set_player(steam(10), ready=False, banned=True)
        server = self.filled()
        self.assertDoor(server, {steam(9): None, steam(10): TEXT["banned"], steam(11): None})
        self.assertEqual(server.status()["addon"]["accounts"], 1)  # only the ban is kept


def gaps(times):
    return [round(b - a, 2) for a, b in zip(times, times[1:])]


class ServiceDown(AddonCase):
    FAULTS = [
        # name, the stub's answer, the log line's words, the least wait between two attempts
        ("connection closed unanswered", FeedStub.DROP, "cannot reach", None),
        ("503 with Retry-After", FeedStub.error(503, "storage", {"Retry-After": "5"}), "answered 503", None),
        ("500", (500, {}, b"Internal Server Error"), "answered 500", None),
        ("429 with a long Retry-After", FeedStub.error(429, "too_many_requests", {"Retry-After": "40"}),
         "slow down (429)", 40),
        ("revoked key", FeedStub.error(401, "gameserver_key", {"WWW-Authenticate": "Bearer"}),
         "refused the key (401)", None),
        ("not JSON", (200, {}, b"<html>maintenance</html>"), "unreadable answer", None),
        ("cursors out of order",
         (200, {}, b'{"rule": "steam", "next": 9, "more": false, "changes": ['
                   b'{"cursor": 9, "steam": "76561198000000001", "ready": true, "banned": false},'
                   b'{"cursor": 8, "steam": "76561198000000002", "ready": true, "banned": false}]}'),
         "unreadable answer", None),
        ("a page over the size bound", (200, {}, b'{"rule": "steam", "next": 2, "more": false, "changes": []}'
                                        + b" " * (300 * 1024)), "over 262144 bytes", None),
    ]

    def test_each_failure_is_one_log_line_while_the_last_list_keeps_the_door(self):
        known, unknown = steam(20), steam(21)
        self.stub.set_player(known, ready=True)
        for name, fault, words, least_wait in self.FAULTS:
            with self.subTest(name):
                self.stub.requests.clear()
                server = self.filled()
                first_log = len(server.logs()) + 1
                self.stub.fault = fault
                attempts_from = len(server.fetched()) + 1
                server.advance(200)
                self.assertDoor(server, {known: None, unknown: TEXT["not_linked"]})
                self.stub.fault = None
                self.assertTrue(server.wait("log", 61, text="answers again"))
                lines = [line for line in server.log_lines(first_log) if "] refused 7" not in line]
                self.assertEqual(len([line for line in lines if words in line]), 1, lines)
                self.assertEqual(len(lines), 2, lines)  # the failure, then the service back
                attempts = [entry["at"] for entry in server.fetched(attempts_from)]
                self.assertGreaterEqual(len(attempts), 5 if least_wait is None else 3)
                waits = gaps(attempts)
                if least_wait is None:
                    # Back-off from one period, doubling to a minute.
                    self.assertEqual(waits[:5], [5.0, 10.0, 20.0, 40.0, 60.0])
                else:
                    self.assertTrue(all(w >= least_wait for w in waits), waits)
                server.close()
                self.servers.remove(server)

    def test_refuse_policy_admits_within_three_periods_and_refuses_everyone_after(self):
        known = steam(22)
        self.stub.set_player(known, ready=True)
        server = self.filled(policy="refuse", refresh=2)
        last_answer = server.status()["addon"]["lastAnswer"]
        self.stub.fault = FeedStub.DROP
        server.advance(last_answer + 6 - server.now)  # three periods of 2 s exactly
        self.assertEqual(server.connect(known), (True, None))
        server.advance(TICK)
        self.assertEqual(server.connect(known), (False, TEXT["service_down"]))
        self.assertEqual(server.connect(steam(23)), (False, TEXT["service_down"]))
        self.assertTrue(server.wait("log", 1, text="refusing every player"))
        self.stub.fault = None
        self.assertTrue(server.wait("log", 61, text="answers again"))
        self.assertEqual(server.connect(known), (True, None))

    def test_before_any_list_every_player_is_refused_with_why(self):
        self.stub.set_player(steam(24), ready=True)
        server = self.game_server()
        server.start(self.stub.url, KEY)
        self.assertEqual(server.connect(steam(24)), (False, TEXT["loading"]))  # not asked yet
        self.stub.fault = FeedStub.DROP
        server.advance(30)
        self.assertEqual(server.connect(steam(24)), (False, TEXT["service_down"]))
        self.stub.fault = None
        self.assertTrue(server.wait("filled", 61))
        self.assertEqual(server.connect(steam(24)), (True, None))


class Settings(AddonCase):
    def test_the_file_wins_over_the_convars_and_the_key_reaches_no_log(self):
        self.stub.set_player(steam(30), ready=True)
        server = self.game_server()
        server.write_config({"url": self.stub.url, "key": KEY, "refresh": 3})
        server.start("https://wrong.example/base", "convar-key-never-used", policy="refuse", refresh=10)
        self.assertTrue(server.wait("filled", 10))
        self.assertEqual(server.connect(steam(30)), (True, None))
        start = len(self.stub.requests)
        server.advance(9)
        self.assertEqual(len(self.stub.requests) - start, 3)  # every 3 s, from the file
        lines = server.log_lines()
        # The convar where the file is silent.
        self.assertTrue(any("policy refuse" in line for line in lines), lines)
        self.assertFalse([line for line in lines if KEY in line or "convar-key-never-used" in line])
        self.assertEqual(server.status()["convar_flags"]["orvane_key"] & 32, 32)  # FCVAR_PROTECTED

    def test_without_address_or_key_it_says_so_once_and_starts_when_they_come(self):
        self.stub.set_player(steam(31), ready=True)
        server = self.game_server()
        server.start()
        server.advance(30)
        lines = server.log_lines()
        said = [line for line in lines if "until orvane_url and orvane_key are set" in line]
        self.assertEqual(len(said), 1, lines)
        self.assertEqual(self.stub.requests, [])
        self.assertEqual(server.connect(steam(31)), (False, TEXT["service_down"]))
        server.convar("orvane_url", self.stub.url)
        server.convar("orvane_key", KEY)
        self.assertTrue(server.wait("filled", REFRESH + TICK))
        self.assertEqual(server.connect(steam(31)), (True, None))

    def test_a_loopback_address_without_allowlocalhttp_is_named_in_the_log(self):
        server = self.game_server(allow_local_http=False)
        server.start(self.stub.url, KEY)
        self.assertTrue(server.wait("log", 10, text="-allowlocalhttp"))
        self.assertEqual(self.stub.requests, [])


if __name__ == "__main__":
    unittest.main(verbosity=1)
