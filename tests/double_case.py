"""What the window tests against the link service's test double (tools/link-service) share: its control
port, its log of exchanges, the tokens it issued, and a test case that resets it before each test."""
import hashlib
import json
import os
import subprocess

from e2e_support import DISCORD_NAME, SERVICE_HOST, STEAM_NAME, WINEPREFIX, LauncherCase
from link_control import control
from window_support import TOOLS, prefix_env

SERVER = "rp.orvane.test:27016"
NEWS = {"id": 7, "title": "Noche de eventos", "published_at": "2026-11-06T20:00:00Z",
        "body": "Viernes a las 21:00.\nSábado a las 18:00.\nTrae a tu escuadrón."}


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


class DoubleCase(LauncherCase):
    """A launcher against the test double, reset before each test (its sessions, answers and settings)."""

    def setUp(self):
        control("POST", "/reset", {"all": True})
        control("POST", "/config", {"server_address": SERVER, "news": [NEWS]})
        super().setUp()

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
