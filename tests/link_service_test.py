#!/usr/bin/env python3
"""The project's own link service, as later tests and the demo rely on it: its documents, status codes
and control commands. Runs inside tools/with-link-service.sh (no Wine needed for the client side).

usage: with-link-service.sh python3 link_service_test.py
"""
import hashlib
import http.client
import json
import os
import re
import ssl
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVICE = os.path.join(ROOT, "tools", "link-service", "link_service.py")
HOST = os.environ["ORVANE_LINK_SERVICE_HOST"]
BASE = "/orvane-launcher/v1/9e3f51d0"
TOKEN = re.compile(r"^[A-Za-z0-9_-]{43}$")
TIMESTAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")


def call(method, path, token=None, body=None, headers=None):
    """One request over TLS to the service host, verified against the test CA. A path starting with
    "//" is sent as it stands (less one slash), others below the base path."""
    context = ssl.create_default_context(cafile=os.environ["ORVANE_LINK_CA"])
    connection = http.client.HTTPSConnection(HOST, 443, context=context, timeout=10)
    all_headers = {"Accept": "application/json", "Content-Type": "application/json"}
    if token:
        all_headers["Authorization"] = "Bearer " + token
    all_headers.update(headers or {})
    if body is None and method == "POST":
        body = b"{}"
    target = path[1:] if path.startswith("//") else BASE + path
    connection.request(method, target, body=body, headers=all_headers)
    response = connection.getresponse()
    data = response.read()
    connection.close()
    document = json.loads(data) if data else None
    return response.status, response.getheader("Content-Type"), document


def control(*args):
    done = subprocess.run([sys.executable, SERVICE, *args], capture_output=True, text=True, timeout=20)
    return done.returncode, done.stdout


def fingerprint(token):
    return "sha256:" + hashlib.sha256(token.encode()).hexdigest()[:16]


class LinkService(unittest.TestCase):
    def setUp(self):
        control("reset")

    def new_session(self):
        status, _, document = call("POST", "/sessions")
        self.assertEqual(status, 201)
        return document["token"]

    def test_documents_follow_the_contract(self):
        status, content_type, config = call("GET", "/config")
        self.assertEqual((status, content_type), (200, "application/json"))
        self.assertEqual(set(config), {"server_address", "community_url", "require_linking", "discord_enabled",
                                       "news"})
        self.assertLessEqual(len(config["news"]), 25)
        for item in config["news"]:
            self.assertIsInstance(item["id"], int)
            self.assertGreater(item["id"], 0)

        tokens = {self.new_session() for _ in range(5)}
        self.assertEqual(len(tokens), 5)
        for token in tokens:
            self.assertRegex(token, TOKEN)
        status, _, session = call("POST", "/sessions")
        self.assertRegex(session["expires_at"], TIMESTAMP)

        status, _, state = call("GET", "/session", token=session["token"])
        self.assertEqual(status, 200)
        self.assertEqual(state, {"steam": None, "discord": None, "ready": False,
                                 "expires_at": session["expires_at"]})

    def test_status_codes(self):
        token = self.new_session()
        cases = [
            ("unknown path", "GET", "/admin", None, None, 404),
            ("path outside the base", "GET", "//config", None, None, 404),
            ("query on an endpoint", "GET", "/session?token=" + token, token, None, 404),
            ("wrong method", "POST", "/config", None, None, 405),
            ("DELETE of sessions", "DELETE", "/sessions", None, None, 405),
            ("no token", "GET", "/session", None, None, 401),
            ("unknown token", "GET", "/session", "u" * 43, None, 401),
            ("body too large", "POST", "/sessions", None, b"{" + b" " * 5000 + b"}", 413),
            ("body not a JSON object", "POST", "/sessions", None, b"[1]", 400),
            ("Discord before Steam", "POST", "/link/discord", token, None, 400),
            ("logout without a session", "POST", "/logout", None, None, 401),
        ]
        for what, method, path, bearer, body, expected in cases:
            with self.subTest(what):
                status, content_type, document = call(method, path, token=bearer, body=body)
                self.assertEqual(status, expected)
                self.assertEqual(content_type, "application/json")
                self.assertIn("error", document)

    def test_link_road_through_the_control_commands(self):
        token = self.new_session()
        self.assertEqual(control("link", "steam")[0], 1, "nothing awaits a link yet")
        status, _, link = call("POST", "/link/steam", token=token)
        self.assertEqual(status, 200)
        self.assertTrue(link["url"].startswith("https://steamcommunity.com/openid/login?openid.ns="))
        self.assertIn("openid.mode=checkid_setup", link["url"])
        self.assertNotIn(token, link["url"])
        # The log keeps each answer beside its request, so a test can see what a client was given.
        log = json.loads(control("log")[1])["events"]
        response = [e for e in log if e["event"] == "response"][-1]
        request = [e for e in log if e["seq"] == response["request"]][0]
        self.assertEqual((request["method"], request["path"]), ("POST", "/link/steam"))
        self.assertEqual((response["status"], json.loads(response["body"])), (200, link))
        code, out = control("link", "steam", "--name", "Gordon")
        self.assertEqual(code, 0)
        self.assertEqual(json.loads(out)["session"], fingerprint(token))

        status, _, link = call("POST", "/link/discord", token=token)
        self.assertEqual(status, 200)
        self.assertTrue(link["url"].startswith("https://discord.com/oauth2/authorize?response_type=code"))
        state = re.search(r"[?&]state=([^&]+)", link["url"]).group(1)
        self.assertEqual(control("link", "discord", "--state=" + state, "--id", "123456789012345678")[0], 0)

        status, _, document = call("GET", "/session", token=token)
        self.assertEqual(document["steam"]["display_name"], "Gordon")
        self.assertRegex(document["steam"]["id"], r"^7656119\d{10}$")
        self.assertEqual(document["discord"]["id"], "123456789012345678")
        self.assertTrue(document["ready"])
        self.assertEqual(call("POST", "/link/steam", token=token)[0], 409)

        self.assertEqual(control("expire", "--session=" + token)[0], 0)
        self.assertEqual(call("GET", "/session", token=token)[0], 401)

    def test_untrusted_certificate_until_reset(self):
        self.assertEqual(control("tls", "untrusted")[0], 0)
        with self.assertRaises(ssl.SSLCertVerificationError):
            call("GET", "/config")
        control("reset")
        self.assertEqual(call("GET", "/config")[0], 200)
        log = json.loads(control("log")[1])["events"]
        self.assertEqual([e["certificate"] for e in log if e["event"] == "connection"][-2:], ["untrusted", "trusted"])

    def test_chosen_answers_and_configuration(self):
        self.assertEqual(control("answer", "GET", "/config", "--status", "429", "--body", '{"error":"slow"}',
                                 "--times", "1")[0], 0)
        self.assertEqual(call("GET", "/config")[:2], (429, "application/json"))
        self.assertEqual(call("GET", "/config")[0], 200, "the chosen answer was for one request only")

        control("answer", "GET", "/config", "--no-content-type", "--body", "{}", "--times", "1")
        self.assertEqual(call("GET", "/config")[1], None)

        control("answer", "*", "*", "--status", "503", "--times", "2")
        self.assertEqual(call("POST", "/sessions")[0], 503)
        self.assertEqual(call("GET", "/session")[0], 503)

        control("answer", "GET", "/config", "--drop", "--times", "1")
        with self.assertRaises((http.client.HTTPException, ConnectionError)):
            call("GET", "/config")

        self.assertEqual(control("config", "discord_enabled=false")[0], 0)
        token = self.new_session()
        call("POST", "/link/steam", token=token)
        control("link", "steam")
        self.assertEqual(call("POST", "/link/discord", token=token)[0], 503)
        self.assertFalse(call("GET", "/config")[2]["discord_enabled"])
        # Without Discord, Steam alone makes the player ready; with it, Discord is needed again.
        self.assertTrue(call("GET", "/session", token=token)[2]["ready"])
        control("config", "discord_enabled=true")
        self.assertFalse(call("GET", "/session", token=token)[2]["ready"])

        code, out = control("log", "--since", "0")
        self.assertEqual(code, 0)
        self.assertTrue(any(e["event"] == "chosen-answer" for e in json.loads(out)["events"]))

    def test_tokens_never_in_clear_in_the_log_or_the_state(self):
        since = json.loads(control("log", "--since", "999999999")[1])["next"]
        token = self.new_session()
        call("GET", "/session", token=token)
        call("GET", "/session?token=" + token, token=token)
        call("POST", "/link/steam", token=token, body=json.dumps({"note": token}).encode())
        control("answer", "POST", "/sessions", "--status", "201", "--times", "1",
                "--body", json.dumps({"token": "c" * 43, "expires_at": "2026-10-09T17:00:00Z"}))
        self.assertEqual(call("POST", "/sessions")[2]["token"], "c" * 43)
        self.assertEqual(control("link", "steam", "--session", fingerprint(token))[0], 0)

        log, state = json.loads(control("log", "--since", str(since))[1]), json.loads(control("state")[1])
        for shown in (log, state):
            text = json.dumps(shown)
            self.assertNotIn(token, text)
            self.assertNotIn("c" * 43, text)
        self.assertIn(fingerprint(token), [s["session"] for s in state["sessions"]])
        requests = [e for e in log["events"] if e["event"] == "request"]
        self.assertEqual([dict(r["headers"]).get("Authorization") for r in requests],
                         [None, "Bearer " + fingerprint(token), "Bearer " + fingerprint(token),
                          "Bearer " + fingerprint(token), None])
        # Where else a token travelled is said, by fingerprint: the query, then the body.
        self.assertEqual([r["tokens_elsewhere"] for r in requests],
                         [[], [], [fingerprint(token)], [fingerprint(token)], []])
        issued = [json.loads(e["body"]) for e in log["events"] if e["event"] == "response" and '"token"' in e["body"]]
        self.assertEqual([d["token"] for d in issued], [fingerprint(token), fingerprint("c" * 43)])
        with open(os.environ["ORVANE_LINK_TOKEN_FILE"]) as f:
            self.assertLessEqual({token, "c" * 43}, set(f.read().split()))
        self.assertEqual(os.stat(os.environ["ORVANE_LINK_TOKEN_FILE"]).st_mode & 0o777, 0o600)

    def test_refuses_addresses_beyond_loopback(self):
        cases = [("service on every address", [], ["--listen", "0.0.0.0:8443"]),
                 ("service on a routable address", [], ["--listen", "192.0.2.10:8443"]),
                 ("control on every address", ["--control", "0.0.0.0:0"], ["--listen", "127.0.0.1:0"])]
        ca = os.environ["ORVANE_LINK_CA"]
        for what, control_option, options in cases:
            with self.subTest(what):
                done = subprocess.run([sys.executable, SERVICE, *control_option, "serve", "--cert", ca, "--key", ca,
                                       *options],
                                      capture_output=True, text=True, timeout=20)
                self.assertEqual(done.returncode, 2)
                self.assertIn("loopback", done.stderr)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
