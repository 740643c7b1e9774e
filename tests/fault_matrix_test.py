#!/usr/bin/env python3
"""The link fault matrix: the real exe under Wine against the project's link service over real TLS. For
each fault the window shows its text (the error line compared with the program's own drawing of every
candidate text), the process lives on, "REINTENTAR" recovers once the fault is lifted, and the session
file changes only where a fault calls for a new session.

usage: with-own-wine.sh with-link-service.sh --host HOST fault_matrix_test.py OrvaneGaming.exe
       window_probe.exe error_line_reference.exe
"""
import json
import sys
import time
import unittest

from double_case import DoubleCase, answer, control, exchanges, fingerprint, issued_tokens, link, log_mark
from e2e_support import DISCORD, DISCORD_NAME, STEAM, STEAM_NAME
from error_lines import ErrorLines
from window_support import Layout

REFERENCE = sys.argv[3]
# The transport's whole-exchange deadline, and the service's pace when it answers slower than that.
DEADLINE_S = 20
TRICKLE_MS = 2500
FOREIGN_STEAM = "https://steamcommunity.com.example.net/openid/login?openid.mode=checkid_setup"
FOREIGN_DISCORD = "https://discord.com.example.net/oauth2/authorize?response_type=code&state=x"


def too_deep():
    return '{"news":' + "[" * 20 + "0" + "]" * 20 + "}"


def config_body():
    return json.dumps(control("GET", "/state")["config"])


def url_with_token(token):
    return json.dumps({"url": f"https://discord.com/oauth2/authorize?response_type=code&state={token}"})


STATUSES = [(302, "redirect"), (400, "connect"), (401, "expired"), (403, "expired"), (404, "connect"),
            (409, "conflict"), (429, "too_many"), (500, "unavailable"), (503, "unavailable")]
# (name, where, answer fields, text shown). where: "config" faults the configuration a retry fetches;
# "steam" and "discord" fault that provider's link request. A callable answer is built at run time.
FAULTS = (
    [(f"config {s}", "config", {"status": s, "body": '{"error":"x"}'}, text) for s, text in STATUSES]
    + [
        ("config wrong content type", "config", {"content_type": "text/html", "body": "{}"}, "connect"),
        ("config no content type", "config", {"content_type": None, "body": "{}"}, "connect"),
        ("config at the size limit", "config", {"body_size": 131072}, "bad_config"),
        ("config one byte over", "config", {"body_size": 131073}, "connect"),
        ("config nested too deep", "config", {"body": too_deep()}, "bad_config"),
        # Wine hands over the half body as complete, Windows ends the read with an error: refused either way.
        ("config truncated", "config", lambda token: {"body": config_body(), "truncate": True},
         ("bad_config", "connect")),
        ("config dropped", "config", {"drop": True}, "connect"),
        ("config slower than the deadline", "config", {"body": '{"news":[]}', "trickle_ms": TRICKLE_MS},
         "connect"),
        ("steam foreign host", "steam", {"body": json.dumps({"url": FOREIGN_STEAM})}, "bad_url"),
        ("steam Discord page", "steam",
         {"body": json.dumps({"url": "https://discord.com/oauth2/authorize?state=x"})}, "bad_url"),
    ]
    + [(f"discord {s}", "discord", {"status": s, "body": '{"error":"x"}'},
        "no_discord" if s == 503 else text) for s, text in STATUSES]
    + [
        ("discord foreign host", "discord", {"body": json.dumps({"url": FOREIGN_DISCORD})}, "bad_url"),
        ("discord URL holding the token", "discord", lambda token: {"body": url_with_token(token)}, "bad_url"),
    ]
)
PATHS = {"config": ("GET", "/config"), "steam": ("POST", "/link/steam"), "discord": ("POST", "/link/discord")}


class FaultMatrix(DoubleCase):
    def test_each_fault_shows_its_text_and_retry_recovers(self):
        folder = self.folder
        app = self.start("--diagnose-linking")
        layout = app.layout
        lines = ErrorLines(self, REFERENCE, app.state()["client_w"], app.state()["client_h"])
        # Compared part by part (the whole card costs a second a screenshot): the row that matters and
        # the status row, which must hold no error.
        unlinked = lambda shot: self.live(layout, STEAM)(shot) and lines.shown(shot)[0] is None
        self.wait_screen(app, "matrix-start", lambda shot: self.same_as_preview(shot, layout, "linking", Layout.card),
                         "the unlinked card")
        # The service shows sessions by their tokens' fingerprints; its log shows bearers the same way.
        tokens = lambda: [s["session"] for s in control("GET", "/state")["sessions"]]
        self.assertEqual(len(tokens()), 1)
        rows = []

        def steam_linked_no_error(shot):
            return self.linked(layout, STEAM)(shot) and lines.shown(shot)[0] is None

        calm = {"config": unlinked, "steam": unlinked, "discord": steam_linked_no_error}
        steam_linked = False
        for number, (name, where, fields, text) in enumerate(FAULTS, 1):
            if where == "discord" and not steam_linked:
                self.link_steam(app, layout)
                steam_linked = True
            with self.subTest(fault=name):
                shots = f"matrix-{number:02d}-" + name.replace(" ", "-")
                rows.append((name, where) + self.fault(app, layout, lines, where, fields, text, calm[where], shots))

        # Certificates: the connection ends in the handshake with nothing sent; Wine reports 12157 where
        # Windows reports 12175, so the player reads the connection text here.
        with self.subTest(fault="untrusted certificate"):
            before, mark = folder.session_bytes(), log_mark()
            control("POST", "/tls", {"certificate": "untrusted"})
            started = time.monotonic()
            self.click(app, layout.centre(layout.retry_button()))
            self.wait_screen(app, "matrix-untrusted", lines.showing("connect"), "the connection text")
            shown = time.monotonic() - started
            self.assertEqual([e for e in self.events(mark) if e["event"] == "request"], [])
            self.recover(app, layout, calm["discord"], "untrusted")
            self.assertEqual(folder.session_bytes(), before)
            rows.append(("untrusted certificate", "any", "connect", lines.shown(self.last)[1], shown, "kept"))

        # A 401 on the status: the session is renewed (file replaced) and the player sees no error; the
        # new session has no accounts linked yet.
        with self.subTest(fault="status 401"):
            before, old, mark = folder.session_bytes(), set(tokens()), log_mark()
            answer("GET", "/session", status=401, body='{"error":"session_expired_or_unknown"}', times=1)
            started = time.monotonic()
            self.click(app, layout.centre(layout.retry_button()))
            seen = lambda: [(r["path"], s and s["status"]) for r, s in exchanges(mark) if r["path"] != "/config"]
            self.wait(lambda: seen()[:3] == [("/session", 401), ("/sessions", 201), ("/session", 200)],
                      "a new session after the 401")
            self.wait_screen(app, "matrix-status-401", unlinked, "the unlinked card, no error")
            self.assertNotEqual(folder.session_bytes(), before)
            new = [r for r, s in exchanges(mark) if r["path"] == "/session"][-1]
            self.assertNotIn(dict(new["headers"])["Authorization"][len("Bearer "):], old)
            self.assertIsNone(app.process.poll())
            rows.append(("status 401", "session", "(none)", 1.0, time.monotonic() - started, "renewed"))

        print("\n| fault | where | text | match | shown after (s) | session file |\n|---|---|---|---|---|---|",
              file=sys.stderr)
        for name, where, text, score, shown, session in rows:
            print(f"| {name} | {where} | {text} | {score:.2f} | {shown:.1f} | {session} |", file=sys.stderr)
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)

    def click_until_asked(self, app, point, method, path, tries=3):
        """Clicks until the service sees the request the click makes: on a loaded machine a click can
        be lost, and pressing the same control again is what a player would do."""
        for _ in range(tries):
            mark = log_mark()
            self.click(app, point)
            end = time.monotonic() + 8
            while time.monotonic() < end:
                if [e for e in self.events(mark) if e["event"] == "request" and (e["method"], e["path"]) ==
                        (method, path)]:
                    return
                time.sleep(0.2)
        self.fail(f"no {method} {path} after {tries} clicks")

    def events(self, mark):
        return control("GET", f"/log?since={mark}")["events"]

    def link_steam(self, app, layout):
        self.click(app, layout.centre(layout.link_button(STEAM)))
        self.wait(lambda: self.folder.opened("browser"), "the browser")
        link("steam", STEAM_NAME)
        self.wait_screen(app, "matrix-steam-linked", self.linked(layout, STEAM), "the Steam row linked")

    def fault(self, app, layout, lines, where, fields, text, calm, name):
        """One fault: its text on screen and in the record, the process alive, recovery, the session file
        untouched. Returns (text shown, match, seconds until shown, session file)."""
        folder = self.folder
        before, opened = folder.session_bytes(), folder.opened("browser")
        # The token itself, for the URL that must not carry it, only from the harness's token file.
        session = control("GET", "/state")["sessions"][0]["session"]
        token = next(t for t in issued_tokens() if fingerprint(t) == session)
        fields = fields(token) if callable(fields) else fields
        method, path = PATHS[where]
        answer(method, path, **fields)
        started = time.monotonic()
        target = layout.retry_button() if where == "config" else layout.link_button(STEAM if where == "steam"
                                                                                   else DISCORD)
        self.click_until_asked(app, layout.centre(target), method, path)
        self.last = self.wait_screen(app, name, lines.showing(text), f"the text {text!r}")
        shown = time.monotonic() - started
        record = self.wait(lambda: (lambda r: r if r and r["service_error"] else None)(folder.record()),
                           "a record of the error")
        self.assertEqual(record["configured"], where != "config")
        if "trickle_ms" in fields:
            self.assertGreaterEqual(shown, DEADLINE_S - 1, "the slow answer ended before the deadline")
            self.assertLess(shown, DEADLINE_S + 8, "the slow answer outlived the deadline")
        self.assertEqual(folder.opened("browser"), opened, "a refused page reached the browser")
        found, score = lines.shown(self.last)
        self.recover(app, layout, calm, name)
        self.assertEqual(folder.session_bytes(), before)
        return found, score, shown, "kept"

    def recover(self, app, layout, calm, name):
        self.assertIsNone(app.process.poll(), "the launcher ended")
        control("POST", "/reset", {})
        self.click_until_asked(app, layout.centre(layout.retry_button()), "GET", "/config")
        self.wait_screen(app, name + "-recovered", calm, "the card without the error after REINTENTAR")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
