#!/usr/bin/env python3
"""The players' zip as they receive it: its entries, its guide, and the launcher run under Wine from a
fresh extraction (preview and self-test), leaving nothing but reports behind.

usage: package_test.py DIST_DIR VERSION SOURCE_DIR BUILD_DIR
"""
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
DIST, VERSION, SOURCE_DIR, BUILD_DIR = sys.argv[1:5]
ZIP = os.path.join(DIST, f"OrvaneGaming-{VERSION}-win64.zip")
PICTURES = ("vexil-squad.jpg", "galactic-battle.jpg", "orvane-ground.jpg")
ENTRIES = (["OrvaneGaming/", "OrvaneGaming/OrvaneGaming.exe", "OrvaneGaming/LEEME.txt", "OrvaneGaming/assets/"]
           + ["OrvaneGaming/assets/" + p for p in PICTURES] + ["OrvaneGaming/reports/"])
PREVIEWS = {"preview.png", "preview-compact.png", "preview-small.png", "preview-scene-2.png",
            "preview-scene-3.png", "preview-news.png", "preview-news-compact.png", "preview-community.png",
            "preview-transition.png", "preview-linking.png", "preview-linking-compact.png",
            "preview-linking-ready.png"}


def pe_timestamp(exe):
    with open(exe, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    return struct.unpack_from("<I", data, pe + 8)[0]


class Package(unittest.TestCase):
    def test_sums_name_the_zip(self):
        with open(os.path.join(DIST, "SHA256SUMS")) as f:
            lines = f.read().splitlines()
        with open(ZIP, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        self.assertEqual(lines, [f"{digest}  OrvaneGaming-{VERSION}-win64.zip"])

    def test_entries_in_a_fixed_order_with_one_date_and_fixed_modes(self):
        with zipfile.ZipFile(ZIP) as archive:
            infos = archive.infolist()
        self.assertEqual([i.filename for i in infos], ENTRIES)
        self.assertEqual(len({i.date_time for i in infos}), 1)
        for info in infos:
            mode = info.external_attr >> 16
            self.assertEqual(mode, 0o40755 if info.is_dir() else 0o100644, info.filename)
            self.assertEqual(info.extra, b"", info.filename)

    def test_guide_in_spanish_for_notepad(self):
        with zipfile.ZipFile(ZIP) as archive:
            data = archive.read("OrvaneGaming/LEEME.txt")
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "every line ends in CR LF")
        text = data.decode("utf-8")
        for needed in ("OrvaneGaming.exe", "launcher-session.dat", "--self-test", "reports\\self-test.json",
                       "reports", "Wine", "Proton", "Steam Deck", "OrvaneGaming.ini", "background=",
                       f"OrvaneGaming {VERSION}", '"CERRAR SESIÓN"', '"CONFIRMAR CIERRE"'):
            self.assertIn(needed, text)

    def test_exe_is_the_version_named_and_carries_no_build_folder_or_link_time(self):
        with zipfile.ZipFile(ZIP) as archive:
            exe = archive.read("OrvaneGaming/OrvaneGaming.exe")
        self.assertIn(f"OrvaneGaming {VERSION}".encode("utf-16-le"), exe)
        folder = tempfile.mkdtemp(prefix="orvane-package-exe-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        path = os.path.join(folder, "OrvaneGaming.exe")
        with open(path, "wb") as f:
            f.write(exe)
        self.assertEqual(pe_timestamp(path), 0)
        for leaked in {SOURCE_DIR, BUILD_DIR, os.path.dirname(os.path.dirname(DIST)), ROOT, "/work/", "/tmp/"}:
            for form in (leaked.encode(), leaked.encode("utf-16-le")):
                self.assertNotIn(form, exe, leaked)


class ExtractedAndRun(unittest.TestCase):
    """A player's first minutes: unzip into a new folder, then what support would ask them to run."""

    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="orvane-player-")
        self.addCleanup(shutil.rmtree, self.top, ignore_errors=True)
        done = subprocess.run(["unzip", "-q", ZIP, "-d", self.top], capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.folder = os.path.join(self.top, "OrvaneGaming")
        self.reports = os.path.join(self.folder, "reports")

    def run_exe(self, argument):
        done = subprocess.run([WINE_RUN, os.path.join(self.folder, "OrvaneGaming.exe"), argument],
                              cwd=self.folder, capture_output=True, timeout=120)
        return done.returncode

    def files(self):
        return sorted(os.path.relpath(os.path.join(d, f), self.folder)
                      for d, _, names in os.walk(self.folder) for f in names)

    def test_extracted_folder_as_shipped(self):
        self.assertEqual(os.listdir(self.reports), [])
        self.assertEqual(self.files(), ["LEEME.txt", "OrvaneGaming.exe"] + sorted("assets/" + p for p in PICTURES))

    def test_preview_then_self_test(self):
        shipped = self.files()
        self.assertEqual(self.run_exe("--render-preview"), 0)
        self.assertEqual(set(os.listdir(self.reports)), PREVIEWS)
        for name in PREVIEWS:
            with open(os.path.join(self.reports, name), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n", name)

        self.assertEqual(self.run_exe("--self-test"), 0)
        with open(os.path.join(self.reports, "self-test.json"), "rb") as f:
            report = json.loads(f.read())
        self.assertEqual((report["status"], report["checks"], report["failures"]), ("PASS", 340, 0))
        self.assertTrue(report["scene_resource_loaded"])
        # Only reports changed: no configuration file, no session, nothing left by the self-test.
        self.assertEqual([f for f in self.files() if not f.startswith("reports/")], shipped)
        self.assertEqual(set(os.listdir(self.reports)), PREVIEWS | {"self-test.json"})


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
