#!/usr/bin/env python3
"""Account linking end to end: the real exe under Wine, on a virtual display, against the project's link
service over real TLS, with the prefix's browser and steam: handlers recording what the shell is given.

usage: with-own-wine.sh with-link-service.sh --host HOST e2e_test.py OrvaneGaming.exe window_probe.exe

Screens are checked against the program's own off-screen rendering of the same states (--render-preview
stages a linking card before and after linking); the linked accounts carry the names of that staging,
so a linked row must look exactly like the preview's. Screenshots of each stage stay in
build/tests/e2e-shots/.
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from link_control import control
from window_support import TOOLS, Layout, Launcher, Shot, bright, error_ink, overlap, prefix_env

EXE, PROBE = sys.argv[1], sys.argv[2]
SHOTS = os.path.join(os.path.dirname(os.path.abspath(PROBE)), "e2e-shots")
ASSETS = os.path.join(os.path.dirname(os.path.abspath(EXE)), "assets")
SERVICE_HOST = os.environ["ORVANE_LINK_SERVICE_HOST"]
WINEPREFIX = os.environ["ORVANE_WINEPREFIX"]

# The staged accounts of the preview renderer's "linked" card.
STEAM_NAME, DISCORD_NAME = "Tu cuenta de Steam", "Tu cuenta de Discord"
SERVER = "rp.orvane.test:27016"
NEWS = {"id": 7, "title": "Noche de eventos", "published_at": "2026-11-06T20:00:00Z",
        "body": "Viernes a las 21:00.\nSábado a las 18:00.\nTrae a tu escuadrón."}
STEAM, DISCORD = 0, 1
# Long enough for any step on a loaded machine; the steps themselves take a tick to a few seconds.
DEADLINE = 30


# --- the link service's control port ---------------------------------------------------------------

def answer(method, path, **fields):
    control("POST", "/answer", dict(fields, method=method, path=path))


def link(provider, name):
    return control("POST", "/link", {"provider": provider, "display_name": name})


def events(since=0):
    return control("GET", f"/log?since={since}")["events"]


def log_mark():
    return control("GET", "/log?since=999999999")["next"]


def exchanges(since=0):
    """(request, response or None) pairs, in order."""
    log = events(since)
    responses = {e["request"]: e for e in log if e["event"] == "response"}
    return [(e, responses.get(e["seq"])) for e in log if e["event"] == "request"]


def bearer(request):
    """The fingerprint the service logged for the request's bearer token, or None."""
    value = dict(request["headers"]).get("Authorization", "")
    return value[len("Bearer "):] if value.startswith("Bearer ") else None


def fingerprint(token):
    return "sha256:" + hashlib.sha256(token.encode()).hexdigest()[:16]


def issued_tokens():
    """Every token the service issued or was shown, in clear: only the harness's file has them."""
    try:
        with open(os.environ["ORVANE_LINK_TOKEN_FILE"]) as f:
            return set(f.read().split())
    except FileNotFoundError:
        return set()


def authorisation_url(provider, since=0):
    """The URL the service's answer to the last link request gave."""
    given = [json.loads(response["body"])["url"] for request, response in exchanges(since)
             if request["method"] == "POST" and request["path"] == "/link/" + provider
             and response and response["status"] == 200]
    return given[-1] if given else None


# --- what the program leaves behind ----------------------------------------------------------------

class ProgramFolder:
    """A copy of the program with its pictures and a reports folder, and the logs of what it hands the
    shell, all in one temporary folder."""

    def __init__(self, test, parent=None):
        self.root = tempfile.mkdtemp(prefix="orvane-e2e-", dir=parent)
        test.addCleanup(shutil.rmtree, self.root, True)
        self.path = os.path.join(self.root, "OrvaneGaming")
        os.makedirs(os.path.join(self.path, "reports"))
        shutil.copy(EXE, self.path)
        shutil.copytree(ASSETS, os.path.join(self.path, "assets"))
        self.exe = os.path.join(self.path, "OrvaneGaming.exe")
        self.report = os.path.join(self.path, "reports", "link-click.json")
        self.session = os.path.join(self.path, "launcher-session.dat")
        self.urls = os.path.join(self.root, "urls.log")
        self.trace = os.path.join(self.root, "report-writes.txt")
        self.env = dict(prefix_env(), ORVANE_URL_LOG=self.urls)

    def opened(self, handler):
        if not os.path.exists(self.urls):
            return []
        with open(self.urls, encoding="utf-8") as f:
            return [e["url"] for e in map(json.loads, f) if e["handler"] == handler]

    def record(self):
        """The report as it stands: one line, the last event; None while it is being rewritten."""
        try:
            with open(self.report, encoding="utf-8") as f:
                text = f.read()
        except FileNotFoundError:
            return None
        if not text.endswith("\n"):
            return None
        lines = text.splitlines()
        assert len(lines) == 1, f"each event must replace the report, which holds {len(lines)} lines"
        return json.loads(lines[0])

    def session_bytes(self):
        with open(self.session, "rb") as f:
            return f.read()

    def written_records(self):
        """Every record the program wrote into the report, in order, from the system-call trace."""
        data = b""
        if os.path.exists(self.trace):
            with open(self.trace, encoding="ascii") as f:
                for m in re.finditer(r'p?write(?:64)?\(\d+, "((?:\\x[0-9a-f]{2})*)"', f.read()):
                    data += bytes.fromhex(m.group(1).replace("\\x", ""))
        return [json.loads(line) for line in data.decode("ascii").splitlines()]

    def traced(self):
        """strace with a filter in the kernel: only writes to the report stop the launcher."""
        return ["strace", "-f", "-qq", "--seccomp-bpf", "-e", "trace=write,pwrite64", "-e", "signal=none",
                "-xx", "-s", "4096", "-P", self.report, "-o", self.trace]


class Previews:
    """The program's own rendering of the linking card before (A) and after (B) linking, and of the news
    screen with its fallback texts."""

    _done = None

    @classmethod
    def get(cls, test):
        if cls._done is None:
            folder = ProgramFolder(test)
            done = subprocess.run([os.path.join(TOOLS, "wine-run"), folder.exe, "--render-preview"],
                                  env=prefix_env(), capture_output=True, timeout=120)
            test.assertEqual(done.returncode, 0, "the preview renderer failed")
            reports = os.path.join(folder.path, "reports")
            cls._done = cls()
            cls._done.layout = Layout(1420, 890)
            for name in ("linking", "linking-ready", "news"):
                picture = Shot.load(os.path.join(reports, f"preview-{name}.png"))
                setattr(cls._done, name.replace("-", "_"), picture)
        return cls._done


class LauncherCase(unittest.TestCase):
    """A fresh program folder (in folder_parent when set) and a reset service for each test, and ways to
    look at the window."""
    folder_parent = None

    def setUp(self):
        control("POST", "/reset", {"all": True})
        control("POST", "/config", {"server_address": SERVER, "news": [NEWS]})
        self.previews = Previews.get(self)
        self.folder = ProgramFolder(self, self.folder_parent)

    def start(self, *args, traced=False):
        app = Launcher(self, self.folder.env, self.folder.exe, PROBE, SHOTS, args,
                       wrapper=self.folder.traced() if traced else ())
        # The pointer rests where no control is, so nothing shows its hover colour.
        self.rest = (20, app.state()["client_h"] - 20)
        app.move(self.rest)
        return app

    def click(self, app, point):
        app.click(point)
        app.move(self.rest)

    # --- comparing the window with the program's own previews ----------------------------------------

    def same_as_preview(self, shot, layout, preview, part, preview_part=None):
        """The window's part (a Layout method's box) looks as the preview's part; preview_part names
        the preview's counterpart when it lies elsewhere on the card."""
        reference = getattr(self.previews, preview)
        box, ref_box = part(layout), (preview_part or part)(self.previews.layout)
        return shot.crop(box).matches(reference.crop(ref_box))

    def linked(self, layout, k):
        return lambda shot: self.same_as_preview(shot, layout, "linking_ready", lambda L: L.row(k))

    def live(self, layout, k):
        """Not linked, button live: the Steam row of the unlinked preview, detail and button."""
        return lambda shot: all(self.same_as_preview(shot, layout, "linking", lambda L: part(L, k),
                                                     lambda L: part(L, STEAM))
                                for part in (Layout.row_detail, Layout.link_button))

    def error_mask(self, shot, layout):
        return shot.crop(layout.error_line()).mask(error_ink)

    def shows_error(self, layout):
        return lambda shot: len(self.error_mask(shot, layout)) > 50

    def wait_screen(self, app, name, ready, what):
        """The first screenshot that shows what ready looks for; self.shown is when the window was
        last seen without it and first seen with it (time.time() at the start of each screenshot)."""
        checked = []

        def timed(shot):
            checked.append((shot.taken, ready(shot)))
            return checked[-1][1]

        shot = app.shot_when(name, timed, timeout=DEADLINE)
        self.assertTrue(checked[-1][1], f"the window never showed {what} (see {name}.png)")
        misses = [t for t, verdict in checked if not verdict]
        self.shown = (misses[-1] if misses else float("nan"), checked[-1][0])
        return shot

    def accept(self, provider, name):
        """The player accepts in the browser; returns when, on the service's clock and in the log."""
        mark = log_mark()
        link(provider, name)
        return time.time(), mark

    def seen(self, accepted):
        """Seconds from an acceptance to the next status answer, and to the last screenshot without and
        the first with it (the last screen wait)."""
        at, mark = accepted
        polls = [s["time"] for r, s in exchanges(mark)
                 if r["path"] == "/session" and s and s["status"] == 200]
        return (polls[0] - at if polls else float("nan")), self.shown[0] - at, self.shown[1] - at

    def link_both_accounts(self, mark):
        """Once the launcher started after log mark `mark` has its session and its first status, both
        accounts are linked to that session, as the player would in the browser; returns the session's
        fingerprint."""
        sessions = lambda: control("GET", "/state")["sessions"]
        session = self.wait(lambda: sessions() and sessions()[0]["session"], "the launcher's session")
        self.wait(lambda: [r for r, s in exchanges(mark) if r["path"] == "/session" and s and s["status"] == 200],
                  "the first status")
        for provider, name in (("steam", STEAM_NAME), ("discord", DISCORD_NAME)):
            control("POST", "/link", {"provider": provider, "session": session, "display_name": name})
        return session

    def wait(self, ready, what, timeout=DEADLINE):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            value = ready()
            if value:
                return value
            time.sleep(0.05)
        self.fail(f"timed out waiting for {what}")

    # --- the token ------------------------------------------------------------------------------------

    def assert_token_stays_with_the_service(self, records):
        tokens = issued_tokens()
        self.assertTrue(tokens)
        # The service itself shows them only as fingerprints.
        shown = json.dumps([control("GET", "/state"), events()])
        self.assertFalse([t for t in tokens if t in shown], "a token in clear in the service's log or state")
        fingerprints = {fingerprint(t) for t in tokens}
        self.assertLessEqual({s["session"] for s in control("GET", "/state")["sessions"]}, fingerprints)
        forms = [f(t) for t in tokens for f in (str.encode, lambda t: t.encode("utf-16-le"))]
        # The registry as the running wineserver holds it (its files are saved only now and then).
        registry = os.path.join(self.folder.root, "registry.reg")
        subprocess.run([os.path.join(TOOLS, "wine-run"), "regedit", "/E", "Z:" + registry.replace("/", "\\")],
                       env=prefix_env(), capture_output=True, timeout=60)
        self.assertTrue(os.path.getsize(registry) > 100000, "the registry could not be exported")
        written = [os.path.join(d, f) for d, _, files in os.walk(self.folder.root) for f in files]
        prefix = []
        for top in ("users", "ProgramData", os.path.join("windows", "temp")):
            prefix += [os.path.join(d, f) for d, _, files in os.walk(os.path.join(WINEPREFIX, "drive_c", top))
                       for f in files]
        for path in written + prefix:
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    data = f.read()
                self.assertFalse([t for t in forms if t in data], f"a session token is in {path}")
        self.assertTrue(records)
        for record in records:
            self.assertFalse([t for t in tokens if t in json.dumps(record)])
        carried = 0
        for request, _ in exchanges():
            # Only as the bearer: never in the path, the query, another header or the body.
            self.assertEqual(request["tokens_elsewhere"], [], request["target"])
            if bearer(request) is None:
                continue
            carried += 1
            self.assertEqual(dict(request["headers"]).get("Host"), SERVICE_HOST)
            self.assertIn(bearer(request), fingerprints)
        self.assertTrue(carried)


class EndToEnd(LauncherCase):
    @classmethod
    def setUpClass(cls):
        cls.started = time.monotonic()


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

        # The browser got exactly the page the service gave.
        steam_url = authorisation_url("steam")
        self.assertTrue(steam_url)
        self.wait(lambda: folder.opened("browser"), "the browser")
        self.assertEqual(folder.opened("browser"), [steam_url])
        shot = self.wait_screen(app, "1-steam-authorising", self.live(layout, STEAM),
                                "the Steam button live again")
        self.assertFalse(self.same_as_preview(shot, layout, "linking", Layout.status_row),
                         "the status line should tell the player to finish in the browser")

        # While the player is in the browser the status is polled every 3 s, not every 30 s.
        started = log_mark()
        polls = lambda: [r["time"] for r, _ in exchanges(started) if r["path"] == "/session"]
        self.wait(lambda: len(polls()) >= 2, "two status polls", 25)
        self.assertGreaterEqual(polls()[1] - polls()[0], 2.8)

        accepted = self.accept("steam", STEAM_NAME)
        self.wait_screen(app, "2-steam-linked", self.linked(layout, STEAM), "the Steam row linked")
        steam_seen = self.seen(accepted)
        self.wait_screen(app, "2-steam-linked", self.live(layout, DISCORD), "the Discord button live")

        # Discord the same way, by a real click on its button.
        mark = log_mark()
        self.click(app, layout.centre(layout.link_button(DISCORD)))
        discord_url = self.wait(lambda: authorisation_url("discord", mark), "the Discord authorisation URL")
        self.wait(lambda: len(folder.opened("browser")) == 2, "the browser, again")
        self.assertEqual(folder.opened("browser"), [steam_url, discord_url])
        records = folder.written_records()
        self.assertEqual([(r["stage"], r["control"], r["clicks"]) for r in records if r["stage"] in
                          ("mouse_up", "link_click")][2:], [("mouse_up", 61, 1), ("link_click", 61, 2)])
        app.shot("3-discord-authorising")
        accepted = self.accept("discord", DISCORD_NAME)
        ready = lambda shot: self.same_as_preview(shot, layout, "linking_ready", Layout.card)
        self.wait_screen(app, "4-ready", ready, "the card of both accounts linked, ready to continue")
        discord_seen = self.seen(accepted)
        for provider, (polled, before, after) in (("Steam", steam_seen), ("Discord", discord_seen)):
            print(f"\n{provider} accepted: the next status answer {polled:.1f} s later; not yet on screen at "
                  f"{before:.1f} s, on screen at {after:.1f} s", file=sys.stderr)

        # "CONTINUAR" leads home; "Jugar" hands Steam the connect URL of the service's server.
        self.click(app, layout.continue_button())
        home = self.wait_screen(app, "5-home", lambda shot: shot.accent_near(layout.tab_underline(0)), "home")
        footer = home.crop(layout.footer_line())
        self.assertEqual(folder.opened("steam"), [])
        self.click(app, layout.centre(layout.play_button()))
        self.wait(lambda: folder.opened("steam"), "the steam: handler")
        self.assertEqual(folder.opened("steam"), ["steam://run/4000//%2Bconnect%20rp.orvane.test%3A27016/"])
        self.wait_screen(app, "6-play", lambda shot: not shot.crop(layout.footer_line()).matches(footer),
                         "the Play result line")

        # The service's news, not the fallback, on the news screen.
        self.click(app, layout.tab_centre(1))
        news = self.wait_screen(app, "7-news", lambda shot: shot.accent_near(layout.tab_underline(1)), "news")
        fallback = self.previews.news
        self.assertLess(overlap(news.crop(layout.news_headline()).mask(bright),
                                fallback.crop(self.previews.layout.news_headline()).mask(bright)), 0.5)
        self.assertEqual(news.crop(layout.news_body()).text_lines(bright), 3)

        self.assert_token_stays_with_the_service(folder.written_records())
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)

        # Started again, the launcher goes on with its protected session: both accounts linked at once,
        # no new session, and no synthetic click, since Steam is linked.
        tokens = {fingerprint(t) for t in issued_tokens()}
        mark = log_mark()
        app = self.start("--test-steam-click", traced=True)
        self.wait_screen(app, "8-started-again", ready, "both accounts linked after a restart")
        asked = exchanges(mark)
        self.assertNotIn("/sessions", [r["path"] for r, _ in asked])
        self.assertLessEqual({bearer(r) for r, _ in asked if r["path"] == "/session"}, tokens)
        self.assertNotIn("mouse_up", [r["stage"] for r in folder.written_records()])
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)

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

    @classmethod
    def tearDownClass(cls):
        print(f"\nend-to-end tests took {time.monotonic() - cls.started:.0f} s", file=sys.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
