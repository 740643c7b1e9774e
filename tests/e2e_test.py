#!/usr/bin/env python3
"""Account linking end to end: the real exe under Wine, on a virtual display, against the real link
service (orvane-link-service) over real TLS. Only Steam and Discord are fakes, under their own names;
the test plays the player's browser: it follows the authorisation page the launcher opened to the
provider and back to the service's callback (tools/shell-handler/player_browser.py).

usage: with-own-wine.sh with-real-service.sh --host HOST --settings tests/fixtures/road-service.conf
       e2e_test.py OrvaneGaming.exe window_probe.exe

Screens are checked against the program's own off-screen rendering of the same states (--render-preview
stages a linking card before and after linking). Discord's fake account carries the staging's name, so
its linked row must look exactly like the preview's; Steam tells the service only the account's number,
which the row then shows in place of the staged name. Screenshots of each stage stay in
build/tests/e2e-shots/.
"""
import json
import os
import re
import ssl
import subprocess
import sys
import time
import urllib.parse
import urllib.request

from e2e_support import DISCORD, DISCORD_NAME, SERVICE_HOST, STEAM, LauncherCase, main
from link_control import json_call
from window_support import TOOLS, Layout, bright, overlap

sys.path.insert(0, os.path.join(TOOLS, "shell-handler"))
import player_browser  # noqa: E402

BASE = "/orvane-launcher/v1/9e3f51d0"
STEAM_ID = "76561198000000042"
DISCORD_USER = {"id": "80351110224678999", "username": "jugador42", "global_name": DISCORD_NAME,
                "discriminator": "0", "avatar": None}
LINKED_TITLES = {"steam": "Cuenta de Steam vinculada", "discord": "Cuenta de Discord vinculada"}


def settings():
    """The service's own configuration: what the window must show comes from it."""
    with open(os.environ["ORVANE_SERVICE_CONFIG"], encoding="utf-8") as f:
        return dict(re.findall(r"^(server_address) = (.*)$", f.read(), re.M))


# --- the service's request log: "TIME CLIENT METHOD PATH STATUS BYTES ELAPSED" per line ---------------

def requests(since=0):
    with open(os.environ["ORVANE_SERVICE_LOG"], encoding="utf-8") as f:
        lines = f.read().splitlines()
    found = []
    for line in lines[since:]:
        # One JSON object per request; the start-up lines and events are not requests.
        try:
            entry = json.loads(line)
        except ValueError:
            continue
        if isinstance(entry, dict) and "status" in entry and entry.get("path", "").startswith(BASE):
            stamp = entry["time"]
            at = time.mktime(time.strptime(stamp[:19], "%Y-%m-%dT%H:%M:%S")) - time.timezone
            found.append({"time": at + float("0" + stamp[19:-1]), "method": entry["method"],
                          "path": entry["path"][len(BASE):], "status": entry["status"]})
    return found


def log_mark():
    with open(os.environ["ORVANE_SERVICE_LOG"], encoding="utf-8") as f:
        return len(f.read().splitlines())


# --- the fake providers' control port -----------------------------------------------------------------

def providers(method, path, document=None):
    return json_call(os.environ["ORVANE_PROVIDERS_CONTROL"], method, path, document)


def admin_player(steam_id):
    """The admin endpoint's answer for a SteamID64, as the game server would ask it."""
    with open(os.environ["ORVANE_SERVICE_ADMIN_KEY_FILE"]) as f:
        key = f.read().strip()
    request = urllib.request.Request(f"https://{SERVICE_HOST}{BASE}/admin/players/{steam_id}",
                                     headers={"Authorization": "Bearer " + key})
    context = ssl.create_default_context(cafile=os.environ["ORVANE_LINK_CA"])
    with urllib.request.urlopen(request, context=context, timeout=10) as response:
        return response.status, json.loads(response.read())


class EndToEnd(LauncherCase):
    @classmethod
    def setUpClass(cls):
        cls.started = time.monotonic()

    def setUp(self):
        providers("POST", "/reset")
        providers("POST", "/steam", {"steamid": STEAM_ID})
        providers("POST", "/discord", {"user": DISCORD_USER})
        super().setUp()

    def steam_linked(self, layout):
        """The Steam row as the linked preview's, but for the name, which is the account's number here,
        and that name is no longer the unlinked row's detail."""
        def shown(shot):
            row = lambda pic, L: pic.without(L.row_detail(STEAM)).crop(L.row(STEAM))
            return (row(shot, layout).matches(row(self.previews.linking_ready, self.previews.layout))
                    and not self.same_as_preview(shot, layout, "linking", lambda L: L.row_detail(STEAM)))
        return shown

    def ready(self, layout):
        """The card of both accounts linked, ready to continue: the preview's, but for Steam's name."""
        card = lambda pic, L: pic.without(L.row_detail(STEAM)).crop(L.card())
        return lambda shot: (card(shot, layout).matches(card(self.previews.linking_ready, self.previews.layout))
                             and self.steam_linked(layout)(shot))

    def accept(self, provider, url):
        """The player accepts in the browser: the provider signs in and sends the browser back to the
        service, whose page says the account is linked. Returns when, and the service log's mark."""
        mark = log_mark()
        page = player_browser.follow(url)
        at = time.time()
        self.assertEqual((page.status, page.title), (200, LINKED_TITLES[provider]), page.text)
        self.assertTrue(page.url.startswith(f"https://{SERVICE_HOST}{BASE}/callback/{provider}?"), page.url)
        self.assertEqual(len(page.hops), 1, "the provider sends the browser straight back")
        return at, mark, page

    def seen(self, accepted):
        """Seconds from an acceptance to the next status answer, and to the last screenshot without and
        the first with it (the last screen wait)."""
        at, mark, _ = accepted
        polls = [r["time"] for r in requests(mark) if r["path"] == "/session" and r["status"] == 200]
        return (polls[0] - at if polls else float("nan")), self.shown[0] - at, self.shown[1] - at

    def assert_authorisation_page(self, url, provider):
        """What the browser was given is the provider's own page, sending the player back to this
        service's callback with a state of its own."""
        parts = urllib.parse.urlsplit(url)
        query = dict(urllib.parse.parse_qsl(parts.query))
        if provider == "steam":
            self.assertEqual((parts.scheme, parts.hostname, parts.path), ("https", "steamcommunity.com",
                                                                          "/openid/login"))
            back = query["openid.return_to"]
        else:
            self.assertEqual((parts.scheme, parts.hostname, parts.path), ("https", "discord.com",
                                                                          "/oauth2/authorize"))
            back = query["redirect_uri"] + "?state=" + query["state"]
        self.assertRegex(back, rf"^https://{re.escape(SERVICE_HOST)}{BASE}/callback/{provider}\?state=[\w-]{{43}}$")
        return back.rsplit("=", 1)[1]

    def test_linking_road_from_the_first_click_to_play(self):
        folder = self.folder
        app = self.start("--test-steam-click", traced=True)
        layout = app.layout

        # The synthetic click, its link request and the browser, as the report shows them.
        self.wait(lambda: [r for r in folder.written_records() if r["stage"] == "browser_open"],
                  "the browser_open record")
        self.wait(folder.record, "a complete report line")
        records = folder.written_records()
        stages = [r["stage"] for r in records]
        self.assertEqual(stages[:2], ["startup", "window_open"])
        self.assertEqual((stages.count("mouse_up"), stages.count("link_click")), (1, 1), stages)
        click = stages.index("mouse_up")
        self.assertEqual(stages[click + 1], "link_click")
        between = stages[click + 2:stages.index("browser_open")]
        self.assertLessEqual(set(between), {"service_update"}, stages)
        mouse_up, link_click = records[click], records[click + 1]
        opened = records[stages.index("browser_open")]
        self.assertEqual((mouse_up["control"], mouse_up["clicks"]), (60, 0))
        self.assertEqual((mouse_up["mouse_x"], mouse_up["mouse_y"]), layout.auto_click_point())
        self.assertEqual((link_click["control"], link_click["clicks"], link_click["queued"]), (60, 1, True))
        self.assertEqual((opened["clicks"], opened["control"]), (1, 60))
        self.assertGreaterEqual(opened["browser_result"], 33)
        self.assertTrue(opened["window_visible"] and opened["window_enabled"])
        for record in records:
            self.assertEqual((record["credentials_logged"], record["settings_open"]), (False, False))
        self.assertIn(folder.record(), records)

        # The browser got the service's Steam page, once.
        self.wait(lambda: folder.opened("browser"), "the browser")
        self.assertEqual(len(folder.opened("browser")), 1)
        steam_url = folder.opened("browser")[0]
        states = [self.assert_authorisation_page(steam_url, "steam")]
        shot = self.wait_screen(app, "1-steam-authorising", self.live(layout, STEAM),
                                "the Steam button live again")
        self.assertFalse(self.same_as_preview(shot, layout, "linking", Layout.status_row),
                         "the status line should tell the player to finish in the browser")

        # While the player is in the browser the status is polled every 3 s, not every 30 s.
        started = log_mark()
        polls = lambda: [r["time"] for r in requests(started) if r["path"] == "/session"]
        self.wait(lambda: len(polls()) >= 2, "two status polls", 25)
        self.assertGreaterEqual(polls()[1] - polls()[0], 2.8)

        accepted = self.accept("steam", steam_url)
        self.wait_screen(app, "2-steam-linked", self.steam_linked(layout), "the Steam row linked")
        steam_seen = self.seen(accepted)
        self.wait_screen(app, "2-steam-linked", self.live(layout, DISCORD), "the Discord button live")
        # The link is the service's: the same Steam page again is refused and links nothing more.
        again = player_browser.follow(steam_url)
        self.assertEqual((again.status, again.title), (400, "Enlace caducado o ya usado"))

        # Discord the same way, by a real click on its button.
        self.click(app, layout.centre(layout.link_button(DISCORD)))
        self.wait(lambda: len(folder.opened("browser")) == 2, "the browser, again")
        discord_url = folder.opened("browser")[1]
        states.append(self.assert_authorisation_page(discord_url, "discord"))
        records = folder.written_records()
        self.assertEqual([(r["stage"], r["control"], r["clicks"]) for r in records if r["stage"] in
                          ("mouse_up", "link_click")][2:], [("mouse_up", 61, 1), ("link_click", 61, 2)])
        app.shot("3-discord-authorising")
        accepted = self.accept("discord", discord_url)
        self.wait_screen(app, "4-ready", self.ready(layout), "the card of both accounts linked, ready to continue")
        discord_seen = self.seen(accepted)
        for provider, (polled, before, after) in (("Steam", steam_seen), ("Discord", discord_seen)):
            print(f"\n{provider} accepted: the next status answer {polled:.1f} s later; not yet on screen at "
                  f"{before:.1f} s, on screen at {after:.1f} s", file=sys.stderr)

        # The game server's view: the Steam account's Discord account, through the admin endpoint.
        status, player = admin_player(STEAM_ID)
        self.assertEqual(status, 200)
        self.assertEqual((player["steam"]["id"], player["discord"]["id"], player["discord"]["display_name"]),
                         (STEAM_ID, DISCORD_USER["id"], DISCORD_NAME))

        # "CONTINUAR" leads home; "Jugar" hands Steam the connect URL of the service's server.
        self.click(app, layout.continue_button())
        home = self.wait_screen(app, "5-home", lambda shot: shot.accent_near(layout.tab_underline(0)), "home")
        footer = home.crop(layout.footer_line())
        self.assertEqual(folder.opened("steam"), [])
        self.click(app, layout.centre(layout.play_button()))
        self.wait(lambda: folder.opened("steam"), "the steam: handler")
        server = urllib.parse.quote(settings()["server_address"], safe="")
        self.assertEqual(folder.opened("steam"), [f"steam://run/4000//%2Bconnect%20{server}/"])
        self.wait_screen(app, "6-play", lambda shot: not shot.crop(layout.footer_line()).matches(footer),
                         "the Play result line")

        # The service's news, not the fallback, on the news screen.
        self.click(app, layout.tab_centre(1))
        news = self.wait_screen(app, "7-news", lambda shot: shot.accent_near(layout.tab_underline(1)), "news")
        fallback = self.previews.news
        self.assertLess(overlap(news.crop(layout.news_headline()).mask(bright),
                                fallback.crop(self.previews.layout.news_headline()).mask(bright)), 0.5)
        self.assertEqual(news.crop(layout.news_body()).text_lines(bright), 3)
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)

        # Neither the states nor Discord's one-time code reached the service's log.
        codes = [dict(e["form"]).get("code") for e in providers("GET", "/log")["requests"]
                 if e["path"] == "/api/v10/oauth2/token"]
        with open(os.environ["ORVANE_SERVICE_LOG"], encoding="utf-8") as f:
            log = f.read()
        secrets = [s for s in states + codes if s]
        self.assertGreaterEqual(len(secrets), 3)
        self.assertEqual([s for s in secrets if s in log], [])

        # Started again, the launcher goes on with its protected session: both accounts linked at once,
        # no new session, and no synthetic click, since Steam is linked.
        mark = log_mark()
        app = self.start("--test-steam-click", traced=True)
        self.wait_screen(app, "8-started-again", self.ready(layout), "both accounts linked after a restart")
        asked = [(r["method"], r["path"], r["status"]) for r in requests(mark)]
        self.assertNotIn("/sessions", [path for _, path, _ in asked])
        self.assertIn(("GET", "/session", 200), asked)
        self.assertNotIn("mouse_up", [r["stage"] for r in folder.written_records()])
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)

        # The admin's command line sees the same player (ORVANE_LINK_* would be read as its configuration).
        env = {k: v for k, v in os.environ.items() if not k.startswith("ORVANE_LINK_")}
        shown = subprocess.run([os.environ["ORVANE_LINK_SERVICE_PROGRAM"], "--config",
                                os.environ["ORVANE_SERVICE_CONFIG"], "players", "show", STEAM_ID],
                               capture_output=True, text=True, timeout=30, env=env)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn(f"discord_id: {DISCORD_USER['id']}", shown.stdout.splitlines())

    @classmethod
    def tearDownClass(cls):
        print(f"\nend-to-end tests took {time.monotonic() - cls.started:.0f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
