"""The real orvane-link-service over TLS on loopback, under its bounds (docs/running-the-service.md,
"Bounds"): each connection cap at the bound and one past it while a player's GET /config is answered, the
handshake and request deadlines, the TLS 1.2 suites it agrees to, and a log that is JSON from its first
line to its last and names the client of every refused request. The caps are lowered through the
configuration, so a few hundred connections at most reach them; the floods are tools/attack-runs.sh.

    python3 edge_bounds_test.py PATH/TO/orvane-link-service
"""
import http.client
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

import service_harness as h

BINARY = None
PLAYER = "127.0.0.2"


def silent(port, source):
    """A connection that never sends a byte."""
    return socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))


def refused_at_once(port, source, seconds=2):
    """True when the service closes a new connection from source within `seconds`, unanswered (the reset
    may come before connect() even returns)."""
    try:
        s = silent(port, source)
    except ConnectionResetError:
        return True
    with s:
        s.settimeout(seconds)
        try:
            return s.recv(1) == b""
        except ConnectionResetError:
            return True
        except socket.timeout:
            return False


def seconds_until_closed(s, longest=20):
    started = time.monotonic()
    s.settimeout(longest)
    try:
        while s.recv(4096):
            pass
    except (ConnectionResetError, ssl.SSLError):
        pass
    return time.monotonic() - started


def wait_for(what, check, seconds=20):
    deadline = time.monotonic() + seconds
    while not check():
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {seconds} s for {what}")
        time.sleep(0.05)


def tls_socket(port, source, ca):
    context = ssl.create_default_context(cafile=ca)
    return context.wrap_socket(silent(port, source), server_hostname="localhost")


def raw_status(port, source, ca, data):
    """The status the service answers to raw bytes over TLS; the connection is read until it closes."""
    with tls_socket(port, source, ca) as s:
        s.sendall(data)
        reply = b""
        try:
            while chunk := s.recv(65536):
                reply += chunk
        except (ssl.SSLError, ConnectionResetError):
            pass
    return int(reply.split(b" ", 2)[1])


class Bounds(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="orvane-bounds.")
        self.addCleanup(self.folder.cleanup)

    def start(self, extra="", descriptors=None, key="ec", name="edge"):
        tls = h.make_certificate(self.folder.name, name, key)
        service = h.Instance(BINARY, self.folder.name, os.path.join(self.folder.name, name + ".sqlite"), name,
                             extra=extra, tls=tls, metrics=True, descriptors=descriptors).start()
        self.addCleanup(service.stop)
        return service

    def player(self, service):
        """A player's kept-alive TLS connection from its own address."""
        connection = http.client.HTTPSConnection("127.0.0.1", service.port, timeout=10, source_address=(PLAYER, 0),
                                                 context=ssl.create_default_context(cafile=service.ca))
        self.addCleanup(connection.close)
        return connection

    def get_config(self, connection):
        connection.request("GET", h.BASE + "/config", headers={"Host": h.PUBLIC_HOST})
        response = connection.getresponse()
        response.read()
        return response.status

    def test_each_connection_cap_at_its_bound_and_one_past_it(self):
        cases = [
            # cap met, configuration, descriptors (soft, hard), silent connections held, the one past from
            ("max_connections_per_address", "max_connections_per_address = 8\nhandshake_seconds = 30\n", None,
             [("127.0.3.1", 8)], "127.0.3.1"),
            # The player's connection is the last one under the total.
            ("max_connections", "max_connections = 20\nmax_connections_per_address = 8\nhandshake_seconds = 30\n",
             None, [("127.0.4.1", 8), ("127.0.4.2", 8), ("127.0.4.3", 3)], "127.0.4.9"),
            # Sized from the descriptors alone: 400 of them less the 64 kept back is 336.
            ("max_connections", "handshake_seconds = 30\n", (128, 400),
             [(f"127.0.5.{i}", 56) for i in range(1, 6)] + [("127.0.5.6", 55)], "127.0.5.99"),
        ]
        for i, (cap, extra, descriptors, plan, past_from) in enumerate(cases):
            with self.subTest(cap=cap, descriptors=descriptors):
                service = self.start(extra, descriptors, name=f"cap{i}")
                held = [silent(service.port, source) for source, count in plan for _ in range(count)]
                opened = lambda: service.scrape()["orvane_connections_open"]
                wait_for(f"{len(held)} connections held", lambda: opened() == len(held))
                player = self.player(service)
                self.assertEqual(self.get_config(player), 200)
                if cap == "max_connections":
                    self.assertEqual(service.scrape()['orvane_bound{name="max_connections"}'], len(held) + 1)
                self.assertTrue(refused_at_once(service.port, past_from), "the one past the cap is closed at once")
                metrics = service.scrape()
                self.assertEqual(metrics[f'orvane_connections_refused_total{{cap="{cap}"}}'], 1)
                self.assertEqual(metrics["orvane_connections_open"], len(held) + 1)
                self.assertEqual(self.get_config(player), 200)
                if descriptors:
                    self.assertEqual(metrics["process_max_fds"], descriptors[1])
                    started = next(line for line in service.log_lines() if line.get("event") == "descriptors")
                    self.assertEqual((started["started_with"], started["limit"]), descriptors)
                # Once the flood is gone, the places are given back.
                for s in held:
                    s.close()
                player.close()
                wait_for("every connection let go", lambda: opened() == 0)
                self.assertEqual(h.call(service.port, "GET", "/config", source=past_from, ca=service.ca)[0], 200)

    def test_the_handshake_and_request_deadlines_cut_each_phase(self):
        service = self.start("handshake_seconds = 1\nrequest_seconds = 3\n")
        cases = [
            # name, how the connection begins, the counter it adds to, cut after at least / at most (s)
            ("silent", lambda: silent(service.port, "127.0.7.1"), "orvane_handshake_timeouts_total", 0.5, 2.5),
            ("a handshake begun and left", lambda: self._begun_handshake(service), "orvane_handshake_timeouts_total",
             0.5, 2.5),
            ("handshake done, no request", lambda: tls_socket(service.port, "127.0.7.3", service.ca),
             "orvane_request_timeouts_total", 2.5, 5),
            ("half a request", lambda: self._half_request(service), "orvane_request_timeouts_total", 2.5, 5),
        ]
        for name, begin, counter, at_least, at_most in cases:
            with self.subTest(name):
                before = service.scrape()[counter]
                with begin() as s:
                    elapsed = seconds_until_closed(s)
                self.assertGreaterEqual(elapsed, at_least)
                self.assertLessEqual(elapsed, at_most)
                self.assertEqual(service.scrape()[counter], before + 1)
                self.assertEqual(h.call(service.port, "GET", "/config", source=PLAYER, ca=service.ca)[0], 200)

    @staticmethod
    def _begun_handshake(service):
        s = silent(service.port, "127.0.7.2")
        s.sendall(b"\x16\x03\x01\x02\x00")  # the first bytes of a ClientHello, never the rest
        return s

    @staticmethod
    def _half_request(service):
        s = tls_socket(service.port, "127.0.7.4", service.ca)
        s.sendall(f"GET {h.BASE}/config HTTP/1.1\r\nHost: {h.PUBLIC_HOST}\r\n".encode())
        return s

    def test_connections_cost_little_while_silent_and_their_memory_comes_back(self):
        service = self.start()
        opened = lambda: service.scrape()["orvane_connections_open"]
        resident = lambda: service.scrape()["process_resident_memory_bytes"]
        resting = resident()
        # Silent: no TLS stream nor buffer is made for a connection that has sent nothing.
        held = [silent(service.port, f"127.0.8.{1 + i // 50}") for i in range(300)]
        wait_for("the silent connections held", lambda: opened() == 300)
        self.assertLess((resident() - resting) / 300, 8 * 1024)
        for s in held:
            s.close()
        # Through the handshake, each costs tens of KiB, given back once they are gone.
        held = [tls_socket(service.port, f"127.0.8.{10 + i // 50}", service.ca) for i in range(300)]
        wait_for("the TLS connections held", lambda: opened() == 300)
        self.assertGreater(resident() - resting, 300 * 16 * 1024)
        for s in held:
            s.close()
        wait_for("every connection let go", lambda: opened() == 0)
        wait_for("the memory given back", lambda: resident() - resting < 4 << 20)
        self.assertEqual(h.call(service.port, "GET", "/config", source=PLAYER, ca=service.ca)[0], 200)

    def test_tls_1_2_only_with_ecdhe_and_an_aead_cipher(self):
        services = {"rsa": self.start(key="rsa", name="rsa"), "ec": self.start(key="ec", name="ec")}
        cases = [
            # certificate key, s_client arguments, the suite agreed on (None: refused)
            ("rsa", ["-tls1_2", "-cipher", "AES128-SHA"], None),
            ("rsa", ["-tls1_2", "-cipher", "AES256-GCM-SHA384"], None),  # RSA key exchange
            ("rsa", ["-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA"], None),  # CBC with SHA-1
            ("rsa", ["-tls1_2", "-cipher", "ECDHE-RSA-AES256-SHA384"], None),  # CBC
            ("rsa", ["-tls1_2", "-cipher", "DHE-RSA-AES128-GCM-SHA256"], None),
            ("rsa", ["-tls1_2", "-cipher", "ECDHE-RSA-AES128-GCM-SHA256"], "ECDHE-RSA-AES128-GCM-SHA256"),
            ("rsa", ["-tls1_2", "-cipher", "ECDHE-RSA-AES256-GCM-SHA384"], "ECDHE-RSA-AES256-GCM-SHA384"),
            ("rsa", ["-tls1_2", "-cipher", "ECDHE-RSA-CHACHA20-POLY1305"], "ECDHE-RSA-CHACHA20-POLY1305"),
            ("ec", ["-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-GCM-SHA256"], "ECDHE-ECDSA-AES128-GCM-SHA256"),
            ("ec", ["-tls1_2", "-cipher", "ECDHE-ECDSA-CHACHA20-POLY1305"], "ECDHE-ECDSA-CHACHA20-POLY1305"),
            ("ec", ["-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-SHA"], None),
            ("ec", ["-tls1_3"], "TLS_AES_256_GCM_SHA384"),
        ]
        for key, arguments, agreed in cases:
            with self.subTest(key=key, arguments=arguments):
                answer = subprocess.run(
                    ["openssl", "s_client", "-connect", f"127.0.0.1:{services[key].port}", "-servername", "localhost",
                     *arguments], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
                output = answer.stdout + answer.stderr
                if agreed:
                    self.assertIn(f"Cipher is {agreed}", output)
                else:
                    # Refused by the service's alert, not for want of the suite in the client.
                    self.assertIn("alert handshake failure", output)

    def test_the_log_is_json_to_its_last_line_and_names_every_refused_client(self):
        service = self.start("max_connections_per_address = 2\n")
        requests = [
            ("127.0.6.1", None, 200),
            ("127.0.6.2", f"GET {h.BASE}/config HTTP/1.1\r\n\r\n".encode(), 400),  # no Host
            ("127.0.6.3", f"GET {h.BASE}/config HTTP/1.1\r\nHost: x\r\nX-Pad: {'p' * 9000}\r\n\r\n".encode(), 431),
            ("127.0.6.4", b"HELLO THERE\r\n\r\n", 400),
        ]
        for source, data, status in requests:
            if data is None:
                self.assertEqual(h.call(service.port, "GET", "/config", source=source, ca=service.ca)[0], status)
            else:
                self.assertEqual(raw_status(service.port, source, service.ca, data), status)
        held = [silent(service.port, "127.0.6.5") for _ in range(2)]
        self.assertTrue(refused_at_once(service.port, "127.0.6.5"))
        service.stop()
        for s in held:
            s.close()
        lines = service.log_lines()  # raises on a line that is not JSON
        answered = [line for line in lines if "status" in line]
        # The first is the harness's own GET /config, waiting for the service to answer.
        self.assertEqual([(line["client"], line["status"]) for line in answered],
                         [("127.0.0.1", 200)] + [(source, status) for source, _, status in requests])
        events = [line["event"] for line in lines if "event" in line]
        self.assertEqual(events, ["descriptors", "serving", "metrics", "connections", "stopped"])
        self.assertEqual(len(lines), len(answered) + len(events), "every line a request's or an event's")
        summary = next(line for line in lines if line.get("event") == "connections")
        self.assertEqual(summary["refused_per_address"], 1)
        serving = next(line for line in lines if line.get("event") == "serving")
        self.assertEqual((serving["max_connections_per_address"], serving["handshake_seconds"]), (2, 5))
        self.assertEqual(subprocess.run(["jq", "-e", ".time", service.out], capture_output=True).returncode, 0)
        with open(service.err) as f:
            self.assertEqual(f.read(), "")


class PlayerAllowances(unittest.TestCase):
    """The allowances of the players' requests, on the real program over TLS: each at its bound (lowered
    through the configuration), one past it, and another player answered meanwhile."""

    def test_each_allowance_at_its_bound_and_one_past_it(self):
        outsider, player = "127.0.6.1", "127.0.7.1"
        cases = [
            # name, settings, bound, the n-th request from a source
            ("open states of one session", {}, 5,
             lambda s, source, n: s.call("POST", "/link/steam", source, s.session(source, fresh=source != outsider))),
            ("links_per_minute", {"links_per_minute": 7}, 7,
             lambda s, source, n: s.call("POST", "/link/steam", source, s.session(source, fresh=n % 5 == 0))),
            ("callbacks_per_minute", {"callbacks_per_minute": 4}, 4,
             lambda s, source, n: s.call("GET", "/callback/steam", source, query="state=" + "Q" * 43)),
            ("sessions_per_minute", {}, 3, lambda s, source, n: s.call("POST", "/sessions", source)),
        ]
        for name, settings, bound, request in cases:
            with self.subTest(name):
                service = self.Service(self, name.split()[0], settings)
                for n in range(bound):
                    self.assertNotEqual(request(service, outsider, n), 429, n)
                self.assertEqual(request(service, outsider, bound), 429)
                self.assertEqual(service.call("GET", "/config", player), 200)
                self.assertNotEqual(request(service, player, 0), 429)

    class Service:
        """A service of the case's own, with the sessions its requests use."""

        def __init__(self, test, name, settings):
            folder = tempfile.TemporaryDirectory(prefix="orvane-allowances.")
            test.addCleanup(folder.cleanup)
            self.instance = h.Instance(BINARY, folder.name, os.path.join(folder.name, "links.sqlite"), name,
                                       sessions_per_minute=3, tls=h.make_certificate(folder.name),
                                       settings=settings).start()
            test.addCleanup(self.instance.stop)
            self.sessions = {}

        def call(self, method, path, source, token=None, query=""):
            return h.call(self.instance.port, method, path, token, query=query, source=source)[0]

        def session(self, source, fresh):
            if fresh or source not in self.sessions:
                self.sessions[source] = h.new_session(self.instance.port, source=source)
            return self.sessions[source]


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
