#!/usr/bin/env python3
"""A minimised launcher has no frame timer, yet follows its link service: a reader (another process, as a
screen reader does) presses VINCULAR while it is minimised, the authorisation page opens, the account the
player links in the browser reaches the window, and restoring shows it at once. "CONFIRMAR CIERRE" runs
out on time while minimised, with one wake-up for it. At rest, minimised, it asks the service nothing, and
asks what fell due the moment it is restored.

usage: with-own-wine.sh with-link-service.sh --host HOST hidden_link_test.py OrvaneGaming.exe window_probe.exe
       accessibility_probe.exe

Screenshots stay in build/tests/e2e-shots/ (names starting with "hidden-").
"""
import json
import os
import re
import subprocess
import sys
import time
import unittest

from double_case import DoubleCase, exchanges, link, log_mark
from e2e_support import STEAM, STEAM_NAME
from window_support import TOOLS

READER = sys.argv[3]
STEAM_ROW, SIGN_OUT = 105, 65
# How long the link service rests between its own questions while the window is seen, as the worker has it.
with open(os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "link",
                       "link_worker.cpp")) as source:
    REST_S = int(re.search(r"kRestIntervalMs = (\d+);", source.read()).group(1)) / 1000


class MinimisedFollowsTheService(DoubleCase):
    def reader(self, app, *args):
        done = subprocess.run([os.path.join(TOOLS, "wine-run"), READER, *args], env=app.env, capture_output=True,
                              timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace")[-400:])
        return done.stdout.decode("utf-8")

    def child(self, app, key):
        return {c["id"]: c for c in json.loads(self.reader(app, "tree"))["children"]}.get(key)

    def minimised(self, app):
        app.key("Escape")
        return app.wait_for(lambda st: st["shown"] == 2, "minimised")

    def assert_asleep(self, app, since, what):
        """Still minimised, no timer, and not one timer wake-up since the state `since`."""
        st = app.state()
        self.assertEqual((st["shown"], st["timer_ms"], st["ticks"]), (2, 0, since["ticks"]), what)
        return st

    def test_a_link_made_while_minimised_shows_at_once_on_restore(self):
        mark = log_mark()
        app = self.start()
        layout = app.layout
        self.wait(lambda: [r for r, s in exchanges(mark) if r["path"] == "/session" and s and s["status"] == 200],
                  "the first status")
        asleep = self.minimised(app)
        self.assertEqual(asleep["timer_ms"], 0, "a minimised window keeps a timer")

        # The reader presses VINCULAR: the page opens without the window waking on a timer.
        self.assertEqual(self.reader(app, "do", "VINCULAR").split()[0], "done")
        self.wait(lambda: self.folder.opened("browser"), "the authorisation page opened while minimised")
        self.assert_asleep(app, asleep, "after the page opened")

        # The player accepts in the browser; the worker's next status poll brings it to the window.
        link("steam", STEAM_NAME)
        self.wait(lambda: self.child(app, STEAM_ROW)["name"].startswith("Steam: vinculado"),
                  "the Steam row linked while minimised")
        woken = self.assert_asleep(app, asleep, "after the link reached the window")
        self.assertGreater(woken["link_wakes"], asleep["link_wakes"])

        app.probe("restore")
        app.wait_for(lambda st: st["iconic"] == 0, "restored")
        shot = app.shot("hidden-restored-linked")
        self.assertTrue(self.linked(layout, STEAM)(shot), "the first frame after restore is not the linked row")

    def test_at_rest_minimised_it_asks_nothing_and_catches_up_on_restore(self):
        mark = log_mark()
        app = self.start()
        self.wait(lambda: [r for r, s in exchanges(mark) if r["path"] == "/session" and s and s["status"] == 200],
                  "the first status")
        polled_at = time.monotonic()
        self.minimised(app)
        quiet = log_mark()
        # Well past the moment the configuration and the status would be asked again were it seen.
        time.sleep(max(0.0, polled_at + REST_S + 3 - time.monotonic()))
        self.assertEqual([r["path"] for r, _ in exchanges(quiet)], [], "the service was asked while minimised")

        app.probe("restore")
        app.wait_for(lambda st: st["iconic"] == 0, "restored")
        self.wait(lambda: {"/config", "/session"} <= {r["path"] for r, s in exchanges(quiet) if s},
                  "the overdue configuration and status asked on restore", timeout=10)

    def test_sign_out_confirmation_runs_out_while_minimised(self):
        mark = log_mark()
        app = self.start()
        self.wait(lambda: [r for r, s in exchanges(mark) if r["path"] == "/session" and s and s["status"] == 200],
                  "the first status")
        self.assertEqual(self.reader(app, "do", "VINCULAR").split()[0], "done")
        self.wait(lambda: self.folder.opened("browser"), "the authorisation page")
        link("steam", STEAM_NAME)
        self.wait(lambda: self.child(app, SIGN_OUT), "CERRAR SESIÓN offered")

        self.assertEqual(self.reader(app, "do", self.child(app, SIGN_OUT)["name"]).split(), ["done", str(SIGN_OUT)])
        armed_at = time.monotonic()
        armed = self.child(app, SIGN_OUT)["name"]
        st = self.minimised(app)
        # One timer, for the moment the confirmation runs out, and none once it has.
        self.assertTrue(0 < st["timer_ms"] <= 5000, st)
        woke = app.wait_for(lambda now: now["timer_ms"] == 0, "the timer gone once the confirmation ran out",
                            timeout=10)
        self.assertGreaterEqual(time.monotonic() - armed_at, 4.5)
        self.assertIn(woke["ticks"] - st["ticks"], (1, 2))
        self.assertEqual(woke["shown"], 2)
        self.assertNotEqual(self.child(app, SIGN_OUT)["name"], armed, "still armed after 5 s")
        time.sleep(2)
        self.assertEqual(app.state()["ticks"], woke["ticks"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
