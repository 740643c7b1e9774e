#!/usr/bin/env python3
"""The link service misbehaving, as the player sees it: the real exe under Wine, on a virtual display,
against the project's test double of the service (tools/link-service), whose control port makes it drop
connections, answer 409 or 503, expire the session or show a certificate Wine does not trust.

usage: with-own-wine.sh with-link-service.sh --host HOST service_faults_test.py OrvaneGaming.exe window_probe.exe

Screenshots of each stage stay in build/tests/e2e-shots/.
"""
from double_case import (DoubleCase, answer, bearer, control, events, exchanges, fingerprint, issued_tokens,
                         link, log_mark)
from e2e_support import DISCORD, STEAM, STEAM_NAME, main
from window_support import Layout, overlap


class ServiceFaults(DoubleCase):
    def test_service_faults_show_in_the_window_and_clear(self):
        folder = self.folder
        answer("*", "*", drop=True)
        app = self.start("--diagnose-linking")
        layout = app.layout

        # The service is down: the generic connection text, and a record that says so without it.
        down = self.wait_screen(app, "fault-1-service-down", self.shows_error(layout), "the connection error")
        generic = self.error_mask(down, layout)
        record = self.wait(lambda: (lambda r: r if r and r["service_error"] else None)(folder.record()),
                           "a record of the service error")
        self.assertEqual(record["stage"], "service_update")
        control("POST", "/reset", {})
        unlinked = lambda shot: self.same_as_preview(shot, layout, "linking", Layout.card)
        self.click(app, layout.centre(layout.retry_button()))
        self.wait_screen(app, "fault-2-service-up", unlinked, "the unlinked card after Reintentar")

        # The session expires; Play (not ready yet) asks for the status, the launcher gets a new session
        # and the player sees nothing of it.
        before = folder.session_bytes()
        old = {fingerprint(t) for t in issued_tokens()}
        mark = log_mark()
        control("POST", "/expire", {})
        self.click(app, layout.tab_centre(0))
        self.click(app, layout.centre(layout.play_button()))
        renewal = [("/session", 401, True), ("/sessions", 201, False), ("/session", 200, False)]

        def renewed():
            seen = [(r["path"], s and s["status"], bearer(r) in old) for r, s in exchanges(mark)
                    if r["path"] != "/config"]
            return any(seen[i:i + 3] == renewal for i in range(len(seen)))

        self.wait(renewed, "the session renewed: 401, a new session, its status")
        self.wait_screen(app, "fault-3-session-renewed", unlinked, "the unlinked card, with no error")
        self.assertNotEqual(folder.session_bytes(), before)
        self.assertEqual(folder.opened("steam"), [], "Play before linking opens nothing")

        # 409 on the Steam link.
        answer("POST", "/link/steam", status=409, body='{"error":"already_linked"}', times=1)
        self.click(app, layout.centre(layout.link_button(STEAM)))
        conflict = self.error_mask(self.wait_screen(app, "fault-4-steam-409", self.shows_error(layout),
                                                    "the 409 text"), layout)
        self.assertLess(overlap(conflict, generic), 0.6, "the 409 text must not be the generic one")
        self.click(app, layout.centre(layout.retry_button()))
        self.wait_screen(app, "fault-5-after-409", unlinked, "the unlinked card after Reintentar")
        self.click(app, layout.centre(layout.link_button(STEAM)))
        self.wait(lambda: folder.opened("browser"), "the browser")
        link("steam", STEAM_NAME)
        self.wait_screen(app, "fault-6-steam-linked", self.linked(layout, STEAM), "the Steam row linked")

        # 503 on the Discord link: Discord is not configured.
        answer("POST", "/link/discord", status=503, body='{"error":"discord_not_configured"}', times=1)
        self.click(app, layout.centre(layout.link_button(DISCORD)))
        unavailable = self.error_mask(self.wait_screen(app, "fault-7-discord-503", self.shows_error(layout),
                                                       "the 503 text"), layout)
        self.assertLess(overlap(unavailable, generic), 0.6)
        self.assertLess(overlap(unavailable, conflict), 0.6)

        # A certificate Wine does not trust: the connection ends after the handshake with nothing sent, and
        # the player reads the generic connection text (Wine reports 12157 where Windows reports 12175).
        control("POST", "/tls", {"certificate": "untrusted"})
        mark = log_mark()
        self.click(app, layout.centre(layout.retry_button()))
        self.wait_screen(app, "fault-8-untrusted-certificate",
                         lambda shot: overlap(self.error_mask(shot, layout), generic) > 0.85,
                         "the generic connection text")
        self.assertIn("untrusted", [e.get("certificate") for e in events(mark) if e["event"] == "connection"])
        self.assertEqual([e for e in events(mark) if e["event"] == "request"], [])
        control("POST", "/tls", {"certificate": "trusted"})
        self.click(app, layout.centre(layout.retry_button()))
        recovered = lambda shot: self.linked(layout, STEAM)(shot) and not self.shows_error(layout)(shot)
        self.wait_screen(app, "fault-9-trusted-again", recovered, "Steam linked and no error")

        self.assert_token_stays_with_the_service([folder.record()])
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)


if __name__ == "__main__":
    main()
