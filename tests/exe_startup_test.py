#!/usr/bin/env python3
"""Start-up of the real exe under Wine: exit codes, and what it reads before it decides.

usage: exe_startup_test.py OrvaneGaming.exe STAGED_ASSETS

Wine's file trace (NtCreateFile with the Windows path) shows which files the program opened, in order.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
EXE, ASSETS = sys.argv[1], sys.argv[2]
PICTURES = ("vexil-squad.jpg", "galactic-battle.jpg", "orvane-ground.jpg")
OPENED = re.compile(r'NtCreateFile .*?name=L"\\\\\?\?\\\\(.*?)"')


def run(exe, args, cwd=None, trace=True):
    """Runs the exe; returns (exit code, Windows paths it opened, in order, when traced)."""
    env = dict(os.environ, ORVANE_WINEDEBUG="trace+file") if trace else dict(os.environ)
    done = subprocess.run([WINE_RUN, exe, *args], cwd=cwd, env=env, capture_output=True, timeout=60)
    text = done.stderr.decode("utf-8", "replace")
    opened = [m.group(1).replace("\\\\", "\\") for m in OPENED.finditer(text)]
    return done.returncode, opened


def prefix():
    return os.environ.get("ORVANE_WINEPREFIX", os.path.join(ROOT, "build", "wineprefix"))


class ProgramFolder:
    """A copy of the program with its pictures and an INI naming a background."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="orvane-exe-")
        shutil.copy(EXE, self.path)
        os.makedirs(os.path.join(self.path, "assets"))
        for name in PICTURES:
            shutil.copy(os.path.join(ASSETS, name), os.path.join(self.path, "assets"))
        ini = "\ufeff[launcher]\r\nbackground=orvane-ground.jpg\r\n"
        with open(os.path.join(self.path, "OrvaneGaming.ini"), "wb") as f:
            f.write(ini.encode("utf-16-le"))

    def close(self):
        shutil.rmtree(self.path, ignore_errors=True)


class DriveLetter:
    """Maps a free Wine drive letter to a folder for as long as the test needs it."""

    def __init__(self, folder):
        devices = os.path.join(prefix(), "dosdevices")
        for letter in "qrstuvwxy":
            link = os.path.join(devices, letter + ":")
            try:
                os.symlink(folder, link)
            except FileExistsError:
                continue
            self.letter, self.link = letter.upper(), link
            return
        raise RuntimeError("no free drive letter")

    def close(self):
        os.remove(self.link)


class ExeStartup(unittest.TestCase):
    def setUp(self):
        self.program = ProgramFolder()
        self.addCleanup(self.program.close)
        self.exe = os.path.join(self.program.path, "OrvaneGaming.exe")

    def test_bad_command_lines_exit_64_after_reading_config_and_pictures(self):
        for args in (["--SELF-TEST"], ["-self-test"], ["--self-test", "extra"], ["--unknown"], [""]):
            with self.subTest(args=args):
                code, opened = run(self.exe, args)
                self.assertEqual(code, 64)
                names = [os.path.basename(p.replace("\\", "/")) for p in opened]
                self.assertIn("OrvaneGaming.ini", names)
                ini = names.index("OrvaneGaming.ini")
                # The configured background first, then the fixed names: loading ran in full.
                self.assertEqual([n for n in names[ini:] if n.endswith(".jpg")],
                                 ["orvane-ground.jpg", "vexil-squad.jpg", "galactic-battle.jpg"])

    def test_self_test_without_reports_folder_never_reports_success(self):
        code, _ = run(self.exe, ["--self-test"])
        self.assertEqual(code, 1)

    def test_render_preview_writes_the_series_into_reports(self):
        code, _ = run(self.exe, ["--render-preview"], trace=False)
        self.assertEqual(code, 3)  # no reports folder: every save fails
        reports = os.path.join(self.program.path, "reports")
        os.makedirs(reports)
        code, _ = run(self.exe, ["--render-preview"], trace=False)
        self.assertEqual(code, 0)
        self.assertEqual(len([f for f in os.listdir(reports) if f.endswith(".png")]), 12)

    def test_drive_root_is_the_program_folder(self):
        drive = DriveLetter(self.program.path)
        self.addCleanup(drive.close)
        os.makedirs(os.path.join(self.program.path, "sub"))
        # Started from a sub-folder of that drive: the drive's current folder must not leak in.
        code, opened = run(f"{drive.letter}:\\OrvaneGaming.exe", ["--unknown"],
                           cwd=os.path.join(self.program.path, "sub"))
        self.assertEqual(code, 64)
        root = drive.letter + ":\\"
        self.assertIn(root + "OrvaneGaming.ini", opened)
        for name in ("orvane-ground.jpg", "vexil-squad.jpg"):
            self.assertIn(root + "assets\\" + name, opened)
        self.assertFalse([p for p in opened if p.startswith(root + "sub\\assets")], opened)


class ExeFormat(unittest.TestCase):
    """A 64-bit GUI program for Windows 6.0 that stands alone: system DLLs only, no resources."""

    SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "ole32.dll", "shell32.dll",
                   "shlwapi.dll", "crypt32.dll", "winhttp.dll", "msvcrt.dll", "advapi32.dll", "msimg32.dll",
                   # Whether the window can be seen: cloaking, and session notifications (Vista has both).
                   "dwmapi.dll", "wtsapi32.dll",
                   # What screen readers are handed (Active Accessibility and its BSTRs and VARIANTs).
                   "oleacc.dll", "oleaut32.dll"}

    def test_headers_imports_and_sections(self):
        def objdump(flag):
            return subprocess.run(["x86_64-w64-mingw32-objdump", flag, EXE], capture_output=True, text=True,
                                  check=True).stdout
        headers, sections = objdump("-p"), objdump("-h")
        self.assertIn("(PE32+)", headers[:2000])
        self.assertRegex(headers, r"Subsystem\s+00000002")
        self.assertRegex(headers, r"MajorSubsystemVersion\s+6")
        self.assertRegex(headers, r"Entry 2 0+ 0+ Resource Directory")
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)}
        self.assertTrue(dlls)
        self.assertLessEqual(dlls, self.SYSTEM_DLLS)
        names = set(re.findall(r"^\s*\d+ (\.\w+)", sections, re.M))
        self.assertIn(".text", names)
        self.assertNotIn(".rsrc", names)

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
