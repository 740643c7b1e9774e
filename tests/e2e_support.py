"""What the window tests of linking share: a program folder of their own, the program's previews of the
linking card, and a test case that starts the launcher and compares its window with those previews.

Used by e2e_test.py (the real link service) and service_faults_test.py (the misbehaving double).
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

from window_support import TOOLS, Layout, Launcher, Shot, error_ink, prefix_env

EXE, PROBE = sys.argv[1], sys.argv[2]
SHOTS = os.path.join(os.path.dirname(os.path.abspath(PROBE)), "e2e-shots")
ASSETS = os.path.join(os.path.dirname(os.path.abspath(EXE)), "assets")
SERVICE_HOST = os.environ["ORVANE_LINK_SERVICE_HOST"]
WINEPREFIX = os.environ["ORVANE_WINEPREFIX"]

# The staged accounts of the preview renderer's "linked" card.
STEAM_NAME, DISCORD_NAME = "Tu cuenta de Steam", "Tu cuenta de Discord"
STEAM, DISCORD = 0, 1
# Long enough for any step on a loaded machine; the steps themselves take a tick to a few seconds.
DEADLINE = 30


# --- what the program leaves behind ----------------------------------------------------------------

class ProgramFolder:
    """A copy of the program with its pictures and a reports folder, and the logs of what it hands the
    shell, all in one temporary folder."""

    def __init__(self, test, parent=None):
        self.root = tempfile.mkdtemp(prefix="orvane-e2e-", dir=parent)
        test.addCleanup(shutil.rmtree, self.root, True)
        self.path = os.path.join(self.root, "OrvaneGaming")
        os.makedirs(os.path.join(self.path, "reports"))
        shutil.copy(EXE, self.path)
        shutil.copytree(ASSETS, os.path.join(self.path, "assets"))
        self.exe = os.path.join(self.path, "OrvaneGaming.exe")
        self.report = os.path.join(self.path, "reports", "link-click.json")
        self.session = os.path.join(self.path, "launcher-session.dat")
        self.urls = os.path.join(self.root, "urls.log")
        self.trace = os.path.join(self.root, "report-writes.txt")
        self.env = dict(prefix_env(), ORVANE_URL_LOG=self.urls)

    def opened(self, handler):
        if not os.path.exists(self.urls):
            return []
        with open(self.urls, encoding="utf-8") as f:
            return [e["url"] for e in map(json.loads, f) if e["handler"] == handler]

    def record(self):
        """The report as it stands: one line, the last event; None while it is being rewritten."""
        try:
            with open(self.report, encoding="utf-8") as f:
                text = f.read()
        except FileNotFoundError:
            return None
        if not text.endswith("\n"):
            return None
        lines = text.splitlines()
        assert len(lines) == 1, f"each event must replace the report, which holds {len(lines)} lines"
        return json.loads(lines[0])

    def session_bytes(self):
        with open(self.session, "rb") as f:
            return f.read()

    def written_records(self):
        """Every record the program wrote into the report, in order, from the system-call trace."""
        data = b""
        if os.path.exists(self.trace):
            with open(self.trace, encoding="ascii") as f:
                for m in re.finditer(r'p?write(?:64)?\(\d+, "((?:\\x[0-9a-f]{2})*)"', f.read()):
                    data += bytes.fromhex(m.group(1).replace("\\x", ""))
        return [json.loads(line) for line in data.decode("ascii").splitlines()]

    def traced(self):
        """strace with a filter in the kernel: only writes to the report stop the launcher."""
        return ["strace", "-f", "-qq", "--seccomp-bpf", "-e", "trace=write,pwrite64", "-e", "signal=none",
                "-xx", "-s", "4096", "-P", self.report, "-o", self.trace]


class Previews:
    """The program's own rendering of the linking card before (A) and after (B) linking, and of the news
    screen with its fallback texts."""

    _done = None

    @classmethod
    def get(cls, test):
        if cls._done is None:
            folder = ProgramFolder(test)
            done = subprocess.run([os.path.join(TOOLS, "wine-run"), folder.exe, "--render-preview"],
                                  env=prefix_env(), capture_output=True, timeout=120)
            test.assertEqual(done.returncode, 0, "the preview renderer failed")
            reports = os.path.join(folder.path, "reports")
            cls._done = cls()
            cls._done.layout = Layout(1420, 890)
            for name in ("linking", "linking-ready", "news"):
                picture = Shot.load(os.path.join(reports, f"preview-{name}.png"))
                setattr(cls._done, name.replace("-", "_"), picture)
        return cls._done


class LauncherCase(unittest.TestCase):
    """A fresh program folder (in folder_parent when set) and a reset service for each test, and ways to
    look at the window."""
    folder_parent = None

    def setUp(self):
        self.previews = Previews.get(self)
        self.folder = ProgramFolder(self, self.folder_parent)

    def start(self, *args, traced=False):
        app = Launcher(self, self.folder.env, self.folder.exe, PROBE, SHOTS, args,
                       wrapper=self.folder.traced() if traced else ())
        # The pointer rests where no control is, so nothing shows its hover colour.
        self.rest = (20, app.state()["client_h"] - 20)
        app.move(self.rest)
        return app

    def click(self, app, point):
        app.click(point)
        app.move(self.rest)

    # --- comparing the window with the program's own previews ----------------------------------------

    def same_as_preview(self, shot, layout, preview, part, preview_part=None):
        """The window's part (a Layout method's box) looks as the preview's part; preview_part names
        the preview's counterpart when it lies elsewhere on the card."""
        reference = getattr(self.previews, preview)
        box, ref_box = part(layout), (preview_part or part)(self.previews.layout)
        return shot.crop(box).matches(reference.crop(ref_box))

    def linked(self, layout, k):
        return lambda shot: self.same_as_preview(shot, layout, "linking_ready", lambda L: L.row(k))

    def live(self, layout, k):
        """Not linked, button live: the Steam row of the unlinked preview, detail and button."""
        return lambda shot: all(self.same_as_preview(shot, layout, "linking", lambda L: part(L, k),
                                                     lambda L: part(L, STEAM))
                                for part in (Layout.row_detail, Layout.link_button))

    def error_mask(self, shot, layout):
        return shot.crop(layout.error_line()).mask(error_ink)

    def shows_error(self, layout):
        return lambda shot: len(self.error_mask(shot, layout)) > 50

    def wait_screen(self, app, name, ready, what):
        """The first screenshot that shows what ready looks for; self.shown is when the window was
        last seen without it and first seen with it (time.time() at the start of each screenshot)."""
        checked = []

        def timed(shot):
            checked.append((shot.taken, ready(shot)))
            return checked[-1][1]

        shot = app.shot_when(name, timed, timeout=DEADLINE)
        self.assertTrue(checked[-1][1], f"the window never showed {what} (see {name}.png)")
        misses = [t for t, verdict in checked if not verdict]
        self.shown = (misses[-1] if misses else float("nan"), checked[-1][0])
        return shot

    def wait(self, ready, what, timeout=DEADLINE):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            value = ready()
            if value:
                return value
            time.sleep(0.05)
        self.fail(f"timed out waiting for {what}")


def main():
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
