#!/usr/bin/env python3
"""Signing out from the linking card, by mouse and by keyboard, in the real window against the project's
link service over real TLS: "CERRAR SESIÓN" asks for a second press ("CONFIRMAR CIERRE"), which posts the
logout with the session's token; the card then shows both accounts unlinked and the session file is gone.

usage: with-own-wine.sh with-link-service.sh --host HOST sign_out_test.py OrvaneGaming.exe window_probe.exe

Screenshots stay in build/tests/e2e-shots/ (names starting with "signout-").
"""
import os
import sys
import time
import unittest

from double_case import DoubleCase, answer, bearer, control, exchanges, log_mark
from window_support import Layout, close_to, error_ink

FOCUS_RING = (0xF4, 0xF8, 0xFC)  # its light band


def sign_out_box(layout):
    return layout.card_part(488, 20, 172, 27)


def accounts_box(layout):
    return layout.box(layout.W - 276, 48, 214, 44)


def ring_ink(shot, box, s):
    """Pixels of the focus ring's light band, which starts 3 units outside a control's box and is at least
    2 pixels wide; the band searched is a little wider for the rounding at any scale."""
    left, top, right, bottom = box
    near, far = max(1, int(3 * s) - 1), int(3 * s + max(2.0, 2 * s)) + 2
    edges = [(x, y) for x in range(left, right) for d in range(near, far) for y in (top - d, bottom - 1 + d)]
    edges += [(x, y) for y in range(top, bottom) for d in range(near, far) for x in (left - d, right - 1 + d)]
    return sum(1 for point in edges if close_to(shot.at(point), FOCUS_RING, 48))


class SignOut(DoubleCase):
    def linked_card(self):
        """The launcher with both accounts of its session linked, on the linking card; returns the window,
        its layout and the session's fingerprint."""
        mark = log_mark()
        app = self.start()
        layout = app.layout
        session = self.link_both_accounts(mark)
        self.wait(lambda: os.path.exists(self.folder.session), "the session file")
        return app, layout, session

    def armed(self, layout):
        return lambda shot: len(shot.crop(sign_out_box(layout)).mask(error_ink)) > 40

    def unlinked_card(self, layout):
        return lambda shot: self.same_as_preview(shot, layout, "linking", Layout.card)

    def logouts(self, mark):
        return [r for r, _ in exchanges(mark) if r["method"] == "POST" and r["path"] == "/logout"]

    def assert_signed_out(self, app, layout, mark, session, name):
        self.wait(lambda: self.logouts(mark), "the POST /logout")
        logouts = self.logouts(mark)
        self.assertEqual(len(logouts), 1)
        self.assertEqual(bearer(logouts[0]), session, "the logout must carry the old session's token")
        self.wait_screen(app, name, self.unlinked_card(layout), "both accounts unlinked")
        self.assertFalse(os.path.exists(self.folder.session), "the session file outlived the sign-out")
        # Nothing of the old session is used again, and no new one is made until a link starts.
        time.sleep(1.5)
        later = [r for r, _ in exchanges(mark) if r["seq"] > logouts[0]["seq"]]
        self.assertFalse([r for r in later if r["path"] == "/sessions" or bearer(r) == session], later)
        self.assertFalse(os.path.exists(self.folder.session))

    def test_by_mouse_with_a_confirmation_that_expires(self):
        app, layout, session = self.linked_card()
        # "VINCULAR CUENTAS" asks for the status at once (at most one such request a second).
        time.sleep(1.1)
        accounts = layout.centre(accounts_box(layout))
        ready = lambda shot: self.same_as_preview(shot, layout, "linking_ready", Layout.card)
        self.click(app, accounts)
        self.wait_screen(app, "signout-1-card-linked", ready, "both accounts linked, with CERRAR SESIÓN")
        button = layout.centre(sign_out_box(layout))

        # A first press only asks: the label turns to "CONFIRMAR CIERRE" and nothing is sent; left alone,
        # it goes back.
        mark = log_mark()
        self.click(app, button)
        self.wait_screen(app, "signout-2-confirm", self.armed(layout), "CONFIRMAR CIERRE")
        self.wait_screen(app, "signout-3-confirm-expired", lambda shot: not self.armed(layout)(shot),
                         "CERRAR SESIÓN again once the confirmation expired")
        self.assertEqual(self.logouts(mark), [])
        self.assertTrue(os.path.exists(self.folder.session))

        # Pressed twice: signed out at the service and on the computer.
        self.click(app, button)
        self.wait_screen(app, "signout-4-confirm", self.armed(layout), "CONFIRMAR CIERRE")
        self.click(app, button)
        self.assert_signed_out(app, layout, mark, session, "signout-5-card-after")
        self.assertNotIn(session, [s["session"] for s in control("GET", "/state")["sessions"]])
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)

    def test_by_keyboard_from_home_with_the_busy_line(self):
        app, layout, session = self.linked_card()
        # Home by the card's continue button once the service says ready.
        time.sleep(1.1)
        self.click(app, layout.centre(accounts_box(layout)))
        ready = lambda shot: self.same_as_preview(shot, layout, "linking_ready", Layout.card)
        self.wait_screen(app, "signout-key-0-ready", ready, "both accounts linked")
        self.click(app, layout.continue_button())
        home = app.shot_when("signout-key-1-home", lambda shot: shot.accent_near(layout.tab_underline(0)))
        self.assertTrue(home.accent_near(layout.tab_underline(0)), "not on the home screen")

        # From "Jugar", Tab walks the news card's link and the carousel, then reaches "MIS CUENTAS".
        before = ring_ink(home, accounts_box(layout), layout.s)
        app.key("Tab", "Tab", "Tab", "Tab", "Tab")
        shot = app.shot_when("signout-key-2-accounts-focused",
                             lambda shot: ring_ink(shot, accounts_box(layout), layout.s) > before + 60)
        self.assertGreater(ring_ink(shot, accounts_box(layout), layout.s), before + 60,
                           "MIS CUENTAS has no focus ring")

        app.key("Return")
        self.wait_screen(app, "signout-key-3-card", lambda shot: not shot.accent_near(layout.tab_underline(0))
                         and ready(shot), "the linking card")
        # Back from the card's first stop to its last: "CERRAR SESIÓN".
        app.key("shift+Tab")
        shot = app.shot_when("signout-key-4-sign-out-focused",
                             lambda shot: ring_ink(shot, sign_out_box(layout), layout.s) > 60)
        self.assertGreater(ring_ink(shot, sign_out_box(layout), layout.s), 60,
                           "CERRAR SESIÓN has no focus ring")

        # The service takes its time: the card shows the busy line meanwhile.
        answer("POST", "/logout", delay_ms=4000, status=200, body='{"ok":true}', times=1)
        mark = log_mark()
        app.key("Return")
        self.wait_screen(app, "signout-key-5-confirm", self.armed(layout), "CONFIRMAR CIERRE")
        app.key("Return")
        base_lines = [getattr(self.previews, p).crop(Layout.status_row(self.previews.layout))
                      for p in ("linking", "linking_ready")]
        busy = lambda shot: (self.logouts(mark) and not self.armed(layout)(shot)
                             and not any(shot.crop(layout.status_row()).matches(b) for b in base_lines)
                             and not shot.crop(layout.error_line()).mask(error_ink))
        self.wait_screen(app, "signout-key-6-busy", busy, "the busy line while the logout runs")
        self.assert_signed_out(app, layout, mark, session, "signout-key-7-after")
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
