#!/usr/bin/env python3
"""The program folder on a full disk, then on a read-only one: the session cannot be saved, the player
reads why, the session file already there stays as it was, no temporary file is left, and the window
keeps running and recovers once the folder can be written again. And the self-test on a full disk:
it fails, and no older PASS report survives it.

usage: with-small-folder.sh KIB with-own-wine.sh with-link-service.sh --host HOST small_disk_test.py
       OrvaneGaming.exe window_probe.exe error_line_reference.exe
"""
import errno
import json
import os
import subprocess
import sys
import unittest

from double_case import DoubleCase, control
from error_lines import ErrorLines
from window_support import TOOLS, Layout

REFERENCE = sys.argv[3]
SMALL = os.environ["ORVANE_SMALL_FOLDER"]


def fill(folder):
    """Writes a file until the filesystem refuses another byte; returns its path."""
    path = os.path.join(folder, "filler")
    with open(path, "wb", buffering=0) as f:
        for chunk in (1 << 20, 1 << 12, 1):
            try:
                while True:
                    f.write(b"\0" * chunk)
            except OSError as e:
                if e.errno != errno.ENOSPC:
                    raise
    return path


def write_refused(folder):
    """The errno with which a new file of one byte is refused in folder, or 0 when it is written."""
    probe = os.path.join(folder, "probe")
    try:
        with open(probe, "wb", buffering=0) as f:
            f.write(b"x")
            os.fsync(f.fileno())
    except OSError as e:
        return e.errno
    finally:
        if os.path.exists(probe):
            try:
                os.remove(probe)
            except OSError:
                pass
    return 0


def remount(mode):
    subprocess.run(["mount", "-o", f"remount,{mode}", SMALL], check=True)


class SmallDisk(DoubleCase):
    folder_parent = SMALL

    def start_window(self):
        # The plain window: the diagnostic modes' report could not be written here either.
        app = self.start()
        self.lines = ErrorLines(self, REFERENCE, app.state()["client_w"], app.state()["client_h"])
        self.unlinked = lambda shot: self.same_as_preview(shot, app.layout, "linking", Layout.card)
        return app

    def leftovers(self):
        return sorted(n for n in os.listdir(self.folder.path) if ".tmp." in n)

    def assert_refused_and_running(self, app, name, before):
        """The save refused: the text, the file as it was, nothing left, the window alive."""
        stat = os.stat(self.folder.session)
        self.wait_screen(app, name, self.lines.showing("not_saved"), "the text of the unsaved session")
        self.assertEqual(self.folder.session_bytes(), before)
        self.assertEqual(os.stat(self.folder.session).st_mtime_ns, stat.st_mtime_ns)
        self.assertEqual(self.leftovers(), [])
        self.assertIsNone(app.process.poll(), "the launcher ended")
        self.assertIsNotNone(app.state(), "the window does not answer")

    def recover(self, app, name, before):
        self.click(app, app.layout.centre(app.layout.retry_button()))
        self.wait_screen(app, name, self.unlinked, "the unlinked card without the error")
        self.assertNotEqual(self.folder.session_bytes(), before)
        self.assertEqual(self.leftovers(), [])
        self.assertTrue(control("GET", "/state")["sessions"])
        app.click(app.layout.close_button())
        self.assertEqual(app.exit_code(), 0)

    def test_full_disk(self):
        # A session file the launcher cannot use (another machine's), so it asks for a new session.
        with open(self.folder.session, "wb") as f:
            f.write(os.urandom(230))
        before = self.folder.session_bytes()
        filler = fill(SMALL)
        self.addCleanup(lambda: os.path.exists(filler) and os.remove(filler))
        self.assertEqual(write_refused(self.folder.path), errno.ENOSPC, "the disk is not full")

        app = self.start_window()
        self.assert_refused_and_running(app, "disk-full", before)

        os.remove(filler)
        self.recover(app, "disk-full-recovered", before)

    def test_read_only_folder(self):
        # A session saved while the folder could be written, which the service then forgets.
        app = self.start_window()
        self.wait_screen(app, "read-only-before", self.unlinked, "the unlinked card")
        self.wait(lambda: os.path.exists(self.folder.session), "the session file")
        app.click(app.layout.close_button())
        self.assertEqual(app.exit_code(), 0)
        before = self.folder.session_bytes()
        control("POST", "/expire", {})

        remount("ro")
        self.addCleanup(remount, "rw")
        self.assertEqual(write_refused(self.folder.path), errno.EROFS, "the folder can still be written")
        app = self.start_window()
        # The 401 asks for the file to go; it cannot, and the new session cannot be saved either.
        self.assert_refused_and_running(app, "read-only", before)

        remount("rw")
        self.recover(app, "read-only-recovered", before)

    def test_self_test_on_full_disk(self):
        """A self-test that cannot write fails, and never leaves an older PASS report behind."""
        reports = os.path.join(self.folder.path, "reports")
        report = os.path.join(reports, "self-test.json")

        def self_test():
            return subprocess.run([os.path.join(TOOLS, "wine-run"), self.folder.exe, "--self-test"],
                                  env=self.folder.env, capture_output=True, timeout=120).returncode

        # The folder's own PASS report, written while the disk had room.
        self.assertEqual(self_test(), 0)
        with open(report, encoding="ascii") as f:
            self.assertEqual(json.loads(f.read())["status"], "PASS")
        filler = os.path.join(SMALL, "filler")
        self.addCleanup(lambda: os.path.exists(filler) and os.remove(filler))

        # With the PASS report there, the space its removal frees may let the run write its own verdict,
        # whole; with no report there, nothing can be written and nothing is left, not even an empty
        # report.
        for previous in ("PASS", None):
            with self.subTest(previous=previous):
                if previous is None and os.path.exists(report):
                    os.remove(report)
                fill(SMALL)
                self.assertEqual(write_refused(self.folder.path), errno.ENOSPC, "the disk is not full")
                self.assertEqual(self_test(), 1)
                names = sorted(os.listdir(reports))
                self.assertIn(names, ([], ["self-test.json"]) if previous else ([],))
                if not names:
                    continue
                with open(report, encoding="ascii") as f:
                    text = f.read()
                self.assertEqual(text.count("\n"), 1, text)
                verdict = json.loads(text)
                print(f"\nself-test on the full disk after a PASS report: {verdict['status']}, "
                      f"{verdict['checks']} checks, {verdict['failures']} failed")
                self.assertEqual(verdict["status"], "FAIL")
                self.assertGreaterEqual(verdict["failures"], 1)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
