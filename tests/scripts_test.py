#!/usr/bin/env python3
"""The build scripts refuse a link service host that is not a DNS name before it reaches a build
folder's cache, and say why.

usage: scripts_test.py
"""
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOLS = os.path.join(ROOT, "tools")

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
                    out = run(os.path.join(TOOLS, "with-offline-service.sh"), *args)
                    self.assertEqual(out.returncode, 2, out.stderr)
                    self.assertFalse(os.path.exists(marker))

    def test_the_same_rule_accepts_real_names(self):
        for host in ["link.orvanegaming.com", "localhost", "a", "link-1.example.org", "x" * 63 + ".org"]:
            with self.subTest(host=host):
                out = subprocess.run(["bash", "-c", f'source "{TOOLS}/service-host.sh"; valid_host "$1"', "x", host],
                                     capture_output=True, text=True)
                self.assertEqual(out.returncode, 0, out.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
