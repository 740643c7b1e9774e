#!/usr/bin/env python3
"""The build scripts refuse a link service host that is not a DNS name before it reaches a build
folder's cache, and say why; the demo's browser never leaves https or this machine.

usage: scripts_test.py
"""
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOLS = os.path.join(ROOT, "tools")
sys.path.insert(0, os.path.join(TOOLS, "shell-handler"))
import player_browser  # noqa: E402

BAD_HOSTS = ["", "a b", "link.example.org;touch x", "-link.example.org", "link-.example.org", "link..org",
             "link.example.org/", "x" * 64 + ".org", ".".join(["a" * 63] * 4) + ".org", "lînk.org"]


def run(*args, cwd=None):
    return subprocess.run(["bash", *args], cwd=cwd, capture_output=True, text=True, timeout=60,
                          stdin=subprocess.DEVNULL)


class HostOption(unittest.TestCase):
    def test_package_refuses_a_missing_or_malformed_host_before_configuring(self):
        for host in [None] + BAD_HOSTS:
            with self.subTest(host=host), tempfile.TemporaryDirectory() as work:
                build = os.path.join(work, "build")
                args = ["--build-dir", build, "--out", os.path.join(work, "dist"), "--host"]
                out = run(os.path.join(TOOLS, "package.sh"), *(args if host is None else args + [host]))
                self.assertEqual(out.returncode, 2, out.stderr)
                self.assertIn("usage" if host is None else "DNS name", out.stderr)
                self.assertFalse(os.path.exists(os.path.join(build, "CMakeCache.txt")))

    def test_service_wrappers_refuse_a_malformed_host_and_run_nothing(self):
        with tempfile.TemporaryDirectory() as work:
            marker = os.path.join(work, "ran")
            for host in BAD_HOSTS + [None]:
                with self.subTest(host=host):
                    args = ["--host"] + ([] if host is None else [host, "touch", marker])
                    for wrapper in ("with-offline-service.sh", "with-real-service.sh"):
                        out = run(os.path.join(TOOLS, wrapper), *args)
                        self.assertEqual(out.returncode, 2, out.stderr)
                        self.assertFalse(os.path.exists(marker))

    def test_the_same_rule_accepts_real_names(self):
        for host in ["link.orvanegaming.com", "localhost", "a", "link-1.example.org", "x" * 63 + ".org"]:
            with self.subTest(host=host):
                out = subprocess.run(["bash", "-c", f'source "{TOOLS}/service-host.sh"; valid_host "$1"', "x", host],
                                     capture_output=True, text=True)
                self.assertEqual(out.returncode, 0, out.stderr)


class Redirecting(http.server.BaseHTTPRequestHandler):
    """/to?URL answers 302 to URL; anything else a small page."""

    def log_message(self, *args):
        pass

    def do_GET(self):
        path, _, target = self.path.partition("?")
        self.send_response(302 if path == "/to" else 200)
        if path == "/to":
            self.send_header("Location", target)
        body = b"<title>Fin del camino</title><p>Hola</p>"
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class PlayerBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        key, cert = os.path.join(cls.work, "key.pem"), os.path.join(cls.work, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Redirecting)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        cls.server.socket = context.wrap_socket(cls.server.socket, server_side=True)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.base = f"https://127.0.0.1:{cls.server.server_address[1]}"
        os.environ["ORVANE_LINK_CA"] = cert

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        subprocess.run(["rm", "-rf", cls.work])

    def test_follows_https_on_this_machine_to_the_page_it_ends_on(self):
        page = player_browser.follow(f"{self.base}/to?{self.base}/end")
        self.assertEqual((page.status, page.title, page.text, page.url), (200, "Fin del camino", "Hola",
                                                                          f"{self.base}/end"))
        self.assertEqual(page.hops, [f"{self.base}/end"])

    def test_never_leaves_https_or_this_machine(self):
        for url in ("http://127.0.0.1/", "https://192.0.2.1/", f"{self.base}/to?https://192.0.2.1/",
                    f"{self.base}/to?http://127.0.0.1:1/", "javascript:alert(1)"):
            with self.subTest(url=url):
                with self.assertRaises(ValueError):
                    player_browser.follow(url, timeout=5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
