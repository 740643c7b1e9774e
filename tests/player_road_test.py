#!/usr/bin/env python3
"""A linked, ready player in the real window while the service changes under them: the game server's
address withdrawn by the service, and status polls that fail while the player is on home or news.

usage: with-own-wine.sh with-link-service.sh --host HOST player_road_test.py OrvaneGaming.exe window_probe.exe

The service is the project's own, over real TLS; its control port stages every change. Screenshots stay
in build/tests/e2e-shots/ (names starting with "road-").
"""
import sys
import time
import unittest

from double_case import DoubleCase, answer, control, exchanges, log_mark
from e2e_support import DISCORD_NAME, STEAM_NAME
from window_support import Layout

# The worker asks for the configuration and the status every 30 s at rest; a change is seen within that.
NEXT_POLL = 45


def accounts_button(layout):
    return layout.centre(layout.box(layout.W - 276, 48, 214, 44))


def pause_button(layout):
    return layout.centre(layout.box(layout.W - 194 + 42, layout.H - 65, 38, 38))


def first_dot(layout):
    return layout.centre(layout.box(layout.W - 372, layout.H - 62, 28, 32))


def play_subtitle(layout):
    return layout.box(66, layout.H - 99, layout.W - 468, 25)


class ReadyPlayer(DoubleCase):
    def ready_at_home(self):
        """The launcher with both accounts of its session linked, on the home screen, its carousel held on
        the first scene so that the texts over it can be compared between screenshots."""
        mark = log_mark()
        app = self.start()
        layout = app.layout
        sessions = lambda: control("GET", "/state")["sessions"]
        session = self.wait(lambda: sessions() and sessions()[0]["session"], "the launcher's session")
        self.wait(lambda: self.answered(mark, "/session", 200), "the first status")
        for provider, name in (("steam", STEAM_NAME), ("discord", DISCORD_NAME)):
            control("POST", "/link", {"provider": provider, "session": session, "display_name": name})
        # "VINCULAR CUENTAS" asks for the status at once (at most one such request a second).
        time.sleep(1.1)
        self.click(app, accounts_button(layout))
        ready = lambda shot: self.same_as_preview(shot, layout, "linking_ready", Layout.card)
        self.wait_screen(app, "road-1-ready", ready, "both accounts linked")
        self.click(app, layout.continue_button())
        self.wait_screen(app, "road-2-home", self.on_screen(layout, 0), "home")
        self.click(app, pause_button(layout))
        self.click(app, first_dot(layout))
        time.sleep(0.5)
        return app, layout

    def on_screen(self, layout, tab):
        return lambda shot: shot.accent_near(layout.tab_underline(tab))

    def answered(self, mark, path, status):
        return [r for r, s in exchanges(mark) if r["path"] == path and s and s["status"] == status]

    def test_server_address_follows_the_service(self):
        app, layout = self.ready_at_home()
        footer = lambda shot: shot.crop(layout.footer_line())
        subtitle = lambda shot: shot.crop(play_subtitle(layout))
        with_address = app.shot("road-3-address")
        play = layout.centre(layout.play_button())

        self.click(app, play)
        self.wait(lambda: self.folder.opened("steam"), "the steam: handler")
        self.assertEqual(self.folder.opened("steam"), ["steam://run/4000//%2Bconnect%20rp.orvane.test%3A27016/"])
        connect = self.wait_screen(app, "road-4-connect-sent",
                                   lambda shot: not footer(shot).matches(footer(with_address)),
                                   "the connect text in the footer")

        # The service withdraws the address while the window runs.
        mark = log_mark()
        control("POST", "/config", {"server_address": ""})
        self.wait(lambda: self.answered(mark, "/config", 200), "the changed configuration", NEXT_POLL)
        self.wait_screen(app, "road-5-address-withdrawn",
                         lambda shot: not subtitle(shot).matches(subtitle(with_address)),
                         "the Play block without the old address")

        self.click(app, play)
        self.wait(lambda: len(self.folder.opened("steam")) == 2, "the steam: handler, again")
        self.assertEqual(self.folder.opened("steam")[1], "steam://run/4000")
        self.wait_screen(app, "road-6-launch-sent", lambda shot: not footer(shot).matches(footer(connect)),
                         "the plain launch text in the footer")
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)

    def test_a_failed_poll_keeps_the_player_where_they_are(self):
        app, layout = self.ready_at_home()
        cases = (("home", 0, {"status": 503, "body": '{"error":"unavailable"}'}),
                 ("news", 1, {"drop": True}))
        for name, tab, fault in cases:
            with self.subTest(name):
                self.click(app, layout.tab_centre(tab))
                self.wait_screen(app, f"road-{name}-before", self.on_screen(layout, tab), name)
                mark = log_mark()
                answer("GET", "/session", **fault)
                self.wait(lambda: [r for r, s in exchanges(mark) if r["path"] == "/session"],
                          "a status poll under the fault", NEXT_POLL)
                # A few frames later the player is still where they were.
                time.sleep(1.5)
                shot = app.shot(f"road-{name}-failed-poll")
                self.assertTrue(self.on_screen(layout, tab)(shot), f"the player left {name} after a failed poll")
                control("POST", "/reset", {})
                mark = log_mark()
                self.wait(lambda: self.answered(mark, "/session", 200), "a status poll answered", NEXT_POLL)

        # Ready again once a poll is answered: "Jugar" connects from where the player stood.
        self.click(app, layout.centre(layout.play_button()))
        self.wait(lambda: self.folder.opened("steam"), "the steam: handler")
        self.assertEqual(self.folder.opened("steam"), ["steam://run/4000//%2Bconnect%20rp.orvane.test%3A27016/"])

        # A session the service forgot: renewed, with no links, and the player is sent back to the card.
        self.click(app, layout.tab_centre(0))
        mark = log_mark()
        control("POST", "/expire", {})
        self.wait(lambda: self.answered(mark, "/session", 401), "the expired session's 401", NEXT_POLL)
        unlinked = lambda shot: self.same_as_preview(shot, layout, "linking", Layout.card)
        self.wait_screen(app, "road-renewed", unlinked, "the unlinked card after the renewal")
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
