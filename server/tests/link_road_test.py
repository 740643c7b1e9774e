"""The real orvane-link-service over loopback addresses of several networks, against the fake Steam and Discord
(run under with-fake-providers.sh): a link started from one network and completed from another waits for the
player's press; the Discord role follows the pairs through Discord's REST API, through outages; and a refused
sign-in says why in its log line.

    with-fake-providers.sh python3 link_road_test.py PATH/TO/orvane-link-service
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

import service_harness as h

BINARY = None
VICTIM = "127.0.1.10"        # the victim's launcher and browser
NEIGHBOUR = "127.0.1.20"     # the same /24
ELSEWHERE = "127.0.2.10"     # another network
GUILD, ROLE = "500000000000000001", "500000000000000002"


def wait_for(what, check, seconds=30):
    """check() until it returns something true; the last answer, or a failure after seconds."""
    deadline = time.monotonic() + seconds
    while True:
        answer = check()
        if answer or time.monotonic() > deadline:
            if not answer:
                raise AssertionError(f"waited {seconds} s for {what}")
            return answer
        time.sleep(0.1)


def providers_log():
    with urllib.request.urlopen(f"http://{os.environ['ORVANE_PROVIDERS_CONTROL']}/log", timeout=10) as answer:
        return json.loads(answer.read())


def status_of(port, token, source):
    status, _, body = h.call(port, "GET", "/session", token, source=source)
    assert status == 200, status
    return json.loads(body)


def confirmation_token(page):
    found = re.search(r'name="token" value="([A-Za-z0-9_-]{43})"', page)
    return found.group(1) if found else None


class Road(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="orvane-road.")
        h.providers_control("/reset", {})
        with open(os.path.join(self.folder, "bot-token"), "w") as f:
            f.write(os.environ["ORVANE_DISCORD_BOT_TOKEN"] + "\n")
        role = {"discord_bot_token_file": f"{self.folder}/bot-token", "discord_guild_id": GUILD,
                "discord_role_id": ROLE}
        self.service = h.Instance(BINARY, self.folder, os.path.join(self.folder, "links.sqlite"), "road",
                                  settings=role).start()
        self.port = self.service.port

    def tearDown(self):
        self.service.stop()

    def log_lines(self):
        with open(self.service.out, errors="replace") as f:
            return [json.loads(line) for line in f if line.startswith("{")]

    def link(self, token, provider, account, launcher, browser):
        query = h.provider_callback(self.port, token, provider, account, source=launcher)
        return h.complete(self.port, query, provider, source=browser)

    def test_a_link_from_another_network_waits_for_the_press(self):
        cases = [
            # provider, account, where the attacker's launcher asked, linked at once
            ("steam", "76561198000000401", ELSEWHERE, False),
            ("steam", "76561198000000402", NEIGHBOUR, True),
            ("discord", {"id": "600000000000000403", "username": "fresca"}, ELSEWHERE, False),
        ]
        for provider, account, attacker_at, at_once in cases:
            with self.subTest(provider=provider, attacker_at=attacker_at):
                attacker = h.new_session(self.port, source=attacker_at)
                if provider == "discord":
                    self.assertEqual(self.link(attacker, "steam", "76561198000000499", attacker_at, attacker_at)[0],
                                     200)
                status, page = self.link(attacker, provider, account, attacker_at, VICTIM)
                self.assertEqual(status, 200, page)
                token = confirmation_token(page)
                self.assertEqual(token is None, at_once, page)
                if at_once:
                    continue
                self.assertIn("Pedido desde otra red", page)
                self.assertIsNone(status_of(self.port, attacker, attacker_at)[provider])
                line = [l for l in self.log_lines() if l.get("route") == "callback/" + provider][-1]
                self.assertEqual((line["reason"], line["client"]), ("confirm_other_network", VICTIM))
                # The victim cancels: nothing linked, and the token is spent.
                form = urllib.parse.urlencode({"token": token, "action": "cancel"})
                status, _, body = h.call(self.port, "POST", "/callback/confirm", source=VICTIM, body=form)
                self.assertEqual(status, 200)
                self.assertIn("Vinculación cancelada", body.decode())
                form = urllib.parse.urlencode({"token": token, "action": "confirm"})
                self.assertEqual(h.call(self.port, "POST", "/callback/confirm", source=VICTIM, body=form)[0], 400)
                self.assertIsNone(status_of(self.port, attacker, attacker_at)[provider])

    def test_the_discord_role_follows_the_pair_through_an_outage(self):
        member = {"id": "600000000000000501", "username": "rol"}
        token = h.new_session(self.port, source=VICTIM)
        self.assertEqual(self.link(token, "steam", "76561198000000501", VICTIM, VICTIM)[0], 200)
        # Discord is down when the pair gets its Discord: the callback does not wait on it.
        h.providers_control("/discord", {"roles_status": 503})
        started = time.monotonic()
        self.assertEqual(self.link(token, "discord", member, VICTIM, VICTIM)[0], 200)
        self.assertLess(time.monotonic() - started, 5)
        role_calls = lambda: [c for c in providers_log()["requests"] if c.get("role") == ROLE]
        wait_for("a role call refused while Discord is down", lambda: len(role_calls()) >= 1)
        h.providers_control("/discord", {"roles_status": 204})
        wait_for("the role given once Discord is back",
                 lambda: ROLE in providers_log()["member_roles"].get(member["id"], []), seconds=60)
        # A ban takes it away.
        env = {k: v for k, v in os.environ.items() if not k.startswith("ORVANE_LINK_")}
        subprocess.run([BINARY, "--config", self.service.config, "players", "ban", "76561198000000501",
                        "--reason", "pruebas"], check=True, capture_output=True, env=env, timeout=30)
        wait_for("the role taken after the ban",
                 lambda: ROLE not in providers_log()["member_roles"].get(member["id"], []), seconds=60)
        self.assertNotIn(os.environ["ORVANE_DISCORD_BOT_TOKEN"], open(self.service.out).read())

    def test_a_refused_sign_in_says_why(self):
        token = h.new_session(self.port, source=VICTIM)
        query = h.provider_callback(self.port, token, "steam", "76561198000000601", source=VICTIM)
        forged = re.sub(r"openid\.sig=[^&]*", "openid.sig=AAAA", query)
        self.assertNotEqual(forged, query)
        self.assertEqual(h.complete(self.port, forged, source=VICTIM)[0], 403)
        line = [l for l in self.log_lines() if l.get("route") == "callback/steam"][-1]
        self.assertEqual(line["reason"], "steam_signature")
        self.assertNotIn("AAAA", json.dumps(line))


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
