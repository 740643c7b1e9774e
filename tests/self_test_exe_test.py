#!/usr/bin/env python3
"""The --self-test mode of the real exe under Wine, each case in a fresh staged program folder.

usage: self_test_exe_test.py OrvaneGaming.exe STAGED_ASSETS
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
EXE, ASSETS = sys.argv[1], sys.argv[2]
PICTURES = ("vexil-squad.jpg", "galactic-battle.jpg", "orvane-ground.jpg")
KEYS = ["status", "checks", "failures", "gui_started", "steam_started", "game_started", "server_contacted",
        "scene_resource_loaded", "configuration_round_trip_tested", "atomic_replacement_and_busy_refusal_tested",
        "actual_user_configuration_modified", "carousel_autoplay_crossfade_wrap_pause_and_fallback_tested",
        "compact_layout_hit_targets_tested"]
ALWAYS_FALSE = ("gui_started", "steam_started", "game_started", "server_contacted",
                "actual_user_configuration_modified")
ALWAYS_TRUE = [k for k in KEYS if k.endswith("_tested")]
PENDING = "self-test-configuration.ini.pending"
OPENED = re.compile(r'NtCreateFile .*?name=L"\\\\\?\?\\\\(.*?)"')


class Program:
    """A temp copy of the staged program: the exe, optionally its pictures and its reports folder, and a
    player's configuration file that the mode must leave alone."""

    INI = "\ufeff[launcher]\r\nserver=192.0.2.1:27015\r\nbackground=orvane-ground.jpg\r\n".encode("utf-16-le")

    def __init__(self, pictures=True, reports=True):
        self.path = tempfile.mkdtemp(prefix="orvane-selftest-")
        shutil.copy(EXE, self.path)
        self.exe = os.path.join(self.path, "OrvaneGaming.exe")
        self.reports = os.path.join(self.path, "reports")
        self.ini = os.path.join(self.path, "OrvaneGaming.ini")
        if pictures:
            os.makedirs(os.path.join(self.path, "assets"))
            for name in PICTURES:
                shutil.copy(os.path.join(ASSETS, name), os.path.join(self.path, "assets"))
        if reports:
            os.makedirs(self.reports)
        with open(self.ini, "wb") as f:
            f.write(self.INI)

    def run(self, args=("--self-test",), wrap=(), trace=False):
        """Returns (exit code, seconds, Windows paths opened when traced)."""
        env = dict(os.environ, ORVANE_WINEDEBUG="trace+file") if trace else dict(os.environ)
        started = time.monotonic()
        done = subprocess.run([*wrap, WINE_RUN, self.exe, *args], env=env, capture_output=True, timeout=60)
        seconds = time.monotonic() - started
        text = done.stderr.decode("utf-8", "replace")
        return done.returncode, seconds, [m.group(1).replace("\\\\", "\\") for m in OPENED.finditer(text)]

    def report_path(self):
        return os.path.join(self.reports, "self-test.json")

    def close(self):
        shutil.rmtree(self.path, ignore_errors=True)


class SelfTestExe(unittest.TestCase):
    def program(self, **kwargs):
        program = Program(**kwargs)
        self.addCleanup(program.close)
        return program

    def read_report(self, program):
        """The report, parsed, after checking it is one line with the keys in their order."""
        with open(program.report_path(), "rb") as f:
            text = f.read().decode("ascii")
        self.assertTrue(text.endswith("\n"), text)
        self.assertEqual(text.count("\n"), 1, text)
        pairs = json.loads(text, object_pairs_hook=lambda p: p)
        self.assertEqual([k for k, _ in pairs], KEYS)
        report = dict(pairs)
        for key in ALWAYS_FALSE:
            self.assertIs(report[key], False, key)
        for key in ALWAYS_TRUE:
            self.assertIs(report[key], True, key)
        self.assertIs(type(report["checks"]), int)
        self.assertIs(type(report["failures"]), int)
        self.assertEqual(report["status"], "PASS" if report["failures"] == 0 else "FAIL")
        return report

    def test_clean_installation_passes_and_leaves_only_its_report(self):
        program = self.program()
        code, seconds, _ = program.run()
        print(f"\nclean --self-test run, whole process under Wine: {seconds * 1000:.0f} ms")
        report = self.read_report(program)
        self.assertEqual((report["status"], report["checks"], report["failures"]), ("PASS", 340, 0))
        self.assertIs(report["scene_resource_loaded"], True)
        self.assertEqual(code, 0)
        self.assertEqual(os.listdir(program.reports), ["self-test.json"])
        with open(program.ini, "rb") as f:
            self.assertEqual(f.read(), Program.INI)

    def test_the_mode_never_opens_the_players_configuration(self):
        # Start-up reads the background before any mode is chosen; the self-test adds no opening of its own.
        program = self.program()
        def ini_opens(args):
            code, _, opened = program.run(args, trace=True)
            return code, [p for p in opened if os.path.basename(p.replace("\\", "/")) == "OrvaneGaming.ini"]
        code, start_up = ini_opens(["--unknown"])
        self.assertEqual(code, 64)
        self.assertTrue(start_up)
        code, self_test = ini_opens(["--self-test"])
        self.assertEqual(code, 0)
        self.assertEqual(self_test, start_up)

    def test_leftover_pending_file_fails_the_first_write_and_is_kept(self):
        program = self.program()
        pending = os.path.join(program.reports, PENDING)
        with open(pending, "wb") as f:
            f.write(b"interrupted")
        code, _, _ = program.run()
        report = self.read_report(program)
        self.assertEqual((report["status"], report["checks"], report["failures"]), ("FAIL", 328, 1))
        self.assertEqual(code, 1)
        with open(pending, "rb") as f:
            self.assertEqual(f.read(), b"interrupted")
        self.assertEqual(sorted(os.listdir(program.reports)), [PENDING, "self-test.json"])

    def test_without_pictures_the_carousel_checks_fail_without_a_crash(self):
        program = self.program(pictures=False)
        code, _, _ = program.run()
        report = self.read_report(program)
        self.assertEqual(code, 1)
        self.assertEqual(report["checks"], 340)
        # 60 carousel-button hits, 2 scene loads, and the carousel's timing.
        self.assertGreaterEqual(report["failures"], 72)
        self.assertIs(report["scene_resource_loaded"], True)  # the built-in picture

    def test_no_reports_folder_means_no_report_and_failure(self):
        program = self.program(reports=False)
        code, _, _ = program.run()
        self.assertEqual(code, 1)
        self.assertFalse(os.path.exists(program.reports))

    @unittest.skipUnless(shutil.which("chattr"), "needs chattr")
    def test_unwritable_reports_folder_means_no_report_and_failure(self):
        program = self.program()
        # Root ignores file modes, and Wine's files are opened by the wineserver, outside any mount
        # namespace of the test: the immutable attribute binds every process, root included.
        if subprocess.run(["chattr", "+i", program.reports], capture_output=True).returncode != 0:
            self.skipTest("the file system has no immutable attribute")
        self.addCleanup(subprocess.run, ["chattr", "-i", program.reports])
        code, _, _ = program.run()
        self.assertEqual(code, 1)
        self.assertEqual(os.listdir(program.reports), [])

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
