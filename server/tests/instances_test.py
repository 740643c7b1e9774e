#!/usr/bin/env python3
"""Two orvane-link-service instances behind one round-robin address, sharing one PostgreSQL: links
started on one complete on the other, a state is spent once across both, a logout reaches both, and
rate limits hold per instance. Runs under with-postgres.sh and with-fake-providers.sh:

  with-postgres.sh with-fake-providers.sh python3 instances_test.py BINARY
"""
import concurrent.futures
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import service_harness as h  # noqa: E402

BINARY = None


class Instances(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="orvane-instances.")
        database = os.environ["ORVANE_TEST_POSTGRES"]
        self.instances = [h.Instance(BINARY, self.folder.name, database, name, sessions_per_minute=5)
                          for name in ("a", "b")]
        for instance in self.instances:
            instance.start()
        self.a, self.b = (instance.port for instance in self.instances)
        self.front = h.RoundRobinFront([self.a, self.b])

    def tearDown(self):
        self.front.close()
        for instance in self.instances:
            instance.stop()
        self.folder.cleanup()

    def test_a_link_started_on_one_instance_completes_on_the_other_and_its_state_is_spent_for_both(self):
        token = h.new_session(self.a)
        query = h.steam_callback(self.a, token, "76561198000000101")
        status, page = h.complete(self.b, query)
        self.assertEqual(status, 200, page)
        self.assertIn("vinculada", page)
        for port in (self.a, self.b):
            status, document = h.session_status(port, token)
            self.assertEqual(status, 200)
            self.assertEqual(document["steam"]["id"], "76561198000000101")
        for port in (self.a, self.b):
            status, page = h.complete(port, query)
            self.assertEqual(status, 400, page)
            self.assertIn("Enlace caducado o ya usado", page)

    def test_the_same_callback_on_both_instances_at_once_links_once(self):
        for round_ in range(4):
            token = h.new_session(self.b)
            query = h.steam_callback(self.b, token, f"7656119800000020{round_}")
            with concurrent.futures.ThreadPoolExecutor(2) as pool:
                statuses = sorted(s for s, _ in pool.map(lambda port: h.complete(port, query), (self.a, self.b)))
            self.assertEqual(statuses, [200, 400])

    def test_links_through_the_round_robin_front_all_complete_and_logout_reaches_every_instance(self):
        tokens = [h.new_session(self.front.port) for _ in range(4)]
        for i, token in enumerate(tokens):
            query = h.steam_callback(self.front.port, token, f"7656119800000030{i}")
            status, page = h.complete(self.front.port, query)
            self.assertEqual(status, 200, page)
        for i, token in enumerate(tokens):
            for _ in range(2):  # one poll lands on each instance
                status, document = h.session_status(self.front.port, token)
                self.assertEqual((status, document["steam"]["id"]), (200, f"7656119800000030{i}"))
        self.assertEqual(h.call(self.a, "POST", "/logout", tokens[0])[0], 200)
        self.assertEqual(h.session_status(self.b, tokens[0])[0], 401)
        # Every call above went through the front: 4 sessions, 4 × (link, callback), 8 polls.
        self.assertEqual(self.front.turn, 4 + 4 * 2 + 8)

    def test_rate_limits_are_kept_per_instance(self):
        # sessions_per_minute = 5 on each: behind the front a client gets 5 per instance, then 429 on both.
        statuses = [h.call(self.front.port, "POST", "/sessions")[0] for _ in range(12)]
        self.assertEqual(statuses[:10], [201] * 10, statuses)
        self.assertEqual(statuses[10:], [429, 429])


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=1)
