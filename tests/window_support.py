"""Driving the real launcher window under Wine on a virtual X display: start it, read it through Win32
(the window probe), act on it with xdotool and look at screenshots at the layout's own points."""
import math
import os
import signal
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOLS = os.path.join(ROOT, "tools")
ACCENT = (0xE8, 0x4B, 0x3D)


def prefix_env(prefix=None):
    env = dict(os.environ)
    if prefix:
        env["ORVANE_WINEPREFIX"] = prefix
    return env


def display_of(env):
    out = subprocess.run(["bash", "-c", f'source "{TOOLS}/wine-env.sh"; echo "${{DISPLAY:-}}"'],
                         env=env, capture_output=True, text=True, check=True)
    return out.stdout.strip()


def close_to(pixel, colour, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, colour))


class Layout:
    """Design-unit geometry of the client area, scaled as the program scales it on a screen of that DPI
    factor (1 at 96 DPI). Rectangles are given as (x, y, w, h) in design units and returned as pixel
    boxes (left, top, right, bottom)."""

    def __init__(self, width, height, factor=1.0):
        self.s = min(width / 960, height / 640, factor)
        self.W = math.ceil(width / self.s)
        self.H = math.ceil(height / self.s)
        # Origin of the linking card.
        self.X = (self.W - 700) * 0.5
        self.Y = (self.H - 464) * 0.5 + 20

    def px(self, x, y):
        return int(x * self.s), int(y * self.s)

    def box(self, x, y, w, h):
        return self.px(x, y) + self.px(x + w, y + h)

    @staticmethod
    def centre(box):
        return (box[0] + box[2]) // 2, (box[1] + box[3]) // 2

    def tab(self, k):
        return self.box(self.W / 2 - 156 + 104 * k, 48, 100, 44)

    def tab_centre(self, k):
        return self.px(self.W / 2 - 156 + 104 * k + 50, 70)

    def tab_underline(self, k):
        return self.px(self.W / 2 - 156 + 104 * k + 50, 92)

    def dot_bar(self, i):
        # Right end of a scene dot's bar, which the progress fill reaches last.
        return self.px(self.W - 372 + 30 * i + 22, self.H - 62 + 13)

    def close_button(self):
        return self.px(self.W - 21, 16)

    def maximise_button(self):
        return self.px(self.W - 63, 16)

    def play_button(self):
        return self.box(64, self.H - 168, 222, 52)

    def footer_line(self):
        return self.box(66, self.H - 59, self.W - 494, 26)

    def news_headline(self):
        return self.box(88, 270, self.W - 512, 60)

    def news_body(self):
        return self.box(88, 340, self.W - 512, self.H - 568)

    # The linking card, in design units from its origin.
    def card_part(self, x, y, w, h):
        return self.box(self.X + x, self.Y + y, w, h)

    def card(self):
        return self.card_part(0, 0, 700, 430)

    def row(self, k):
        """Steam (0) or Discord (1) row: panel, logo, name, detail and button."""
        return self.card_part(40, 138 + 98 * k, 620, 86)

    def row_detail(self, k):
        return self.card_part(106, 138 + 98 * k + 41, 358, 28)

    def link_button(self, k):
        return self.card_part(476, 159 + 98 * k, 184, 44)

    def status_row(self):
        """The status line, or the error line and the retry link in its place."""
        return self.card_part(40, 321, 620, 30)

    def error_line(self):
        return self.card_part(40, 321, 440, 29)

    def retry_button(self):
        return self.card_part(488, 324, 172, 27)

    def continue_button(self):
        return self.centre(self.card_part(40, 355, 620, 50))

    def auto_click_point(self):
        """Where the --test-steam-click mode releases the mouse: the Steam button's centre, truncated as
        the program truncates it."""
        return int((self.X + 476 + 92) * self.s), int((self.Y + 159 + 22) * self.s)


class Shot:
    """An RGB picture (rows of 8-bit triples), from a screenshot or a PNG."""

    def __init__(self, raw, width, height):
        self.raw, self.width, self.height = raw, width, height

    @classmethod
    def load(cls, path):
        size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True,
                              check=True).stdout.split()
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
        return cls(raw, int(size[0]), int(size[1]))

    def at(self, point):
        x, y = point
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def crop(self, box):
        left, top, right, bottom = box
        rows = [self.raw[(y * self.width + left) * 3:(y * self.width + right) * 3] for y in range(top, bottom)]
        return Shot(b"".join(rows), right - left, bottom - top)

    def without(self, box):
        """A copy with box painted black: a part left out of a comparison."""
        left, top, right, bottom = box
        raw = bytearray(self.raw)
        for y in range(top, bottom):
            raw[(y * self.width + left) * 3:(y * self.width + right) * 3] = bytes((right - left) * 3)
        return Shot(bytes(raw), self.width, self.height)

    def accent_near(self, point, rows=3):
        """An accent-coloured stroke within a few rows of point (lines are 2 units thick)."""
        x, y = point
        return any(close_to(self.at((x, y + d)), ACCENT) for d in range(-rows, rows + 1))

    def lighter_edges(self, band=4, inset=12, tolerance=24):
        """Edge lines that are lighter than the window's own drawing a little further in: a system-drawn
        frame shows as a light or grey line along a whole side of the dark window, where the picture's
        details would only lighten single pixels. Gives (side, depth, edge, inside) median lightness."""
        def median_lightness(points):
            values = sorted(sum(self.at(p)) / 3 for p in points)
            return values[len(values) // 2]

        w, h = self.width, self.height
        sides = {
            "top": lambda d: [(x, d) for x in range(w)],
            "bottom": lambda d: [(x, h - 1 - d) for x in range(w)],
            "left": lambda d: [(d, y) for y in range(h)],
            "right": lambda d: [(w - 1 - d, y) for y in range(h)],
        }
        found = []
        for side, line in sides.items():
            for d in range(band):
                edge, inside = median_lightness(line(d)), median_lightness(line(d + inset))
                if edge > inside + tolerance:
                    found.append((side, d, edge, inside))
        return found

    def current_dot(self, layout, count=3):
        """Index of the bright (current) scene dot; the others are faint grey."""
        bright = [i for i in range(count) if max(self.at(layout.dot_bar(i))) > 150]
        return bright[0] if len(bright) == 1 else None

    def differing(self, other, threshold=48):
        """Share of pixels where a channel differs from other's by more than threshold. The card lets a
        little of the moving scene through, so backgrounds differ by a few levels; text and fills that
        differ show up as whole glyphs."""
        assert (self.width, self.height) == (other.width, other.height)
        a, b = self.raw, other.raw
        count = sum(1 for i in range(0, len(a), 3)
                    if abs(a[i] - b[i]) > threshold or abs(a[i + 1] - b[i + 1]) > threshold
                    or abs(a[i + 2] - b[i + 2]) > threshold)
        return count / (self.width * self.height)

    def matches(self, other, share=0.004):
        return self.differing(other) <= share

    def mask(self, inked):
        """Pixel indexes for which inked(r, g, b) holds."""
        raw = self.raw
        return frozenset(i // 3 for i in range(0, len(raw), 3) if inked(raw[i], raw[i + 1], raw[i + 2]))

    def text_lines(self, inked):
        """Number of separate bands of rows that hold inked pixels."""
        bands, inside = 0, False
        for y in range(self.height):
            row = self.raw[y * self.width * 3:(y + 1) * self.width * 3]
            hit = any(inked(row[i], row[i + 1], row[i + 2]) for i in range(0, len(row), 3))
            bands += hit and not inside
            inside = hit
        return bands


def overlap(a, b):
    """Intersection over union of two masks; 1 for two empty masks."""
    return len(a & b) / len(a | b) if a or b else 1.0


def error_ink(r, g, b):
    """The error line's salmon text (#FCA799) and its anti-aliased edges, never the dark card."""
    return r > 110 and r > b + 35 and r > g + 20


def bright(r, g, b):
    """Light text on the dark card and panels."""
    return r + g + b > 330


class Launcher:
    """One running launcher; always ended, whatever the test did. wrapper is a command the Wine
    process runs under (strace, for example); the launcher is then its child."""

    def __init__(self, test, env, exe, probe, shots, args=(), wrapper=(), factor=1.0, log=subprocess.DEVNULL):
        self.test, self.env, self.probe_exe, self.shots, self.factor = test, env, probe, shots, factor
        self.display = display_of(env)
        self.wrapped = bool(wrapper)
        self.process = subprocess.Popen([*wrapper, os.path.join(TOOLS, "wine-run"), exe, *args], env=env,
                                        stdout=log, stderr=log)
        test.addCleanup(self.end)
        self.wait_for(lambda st: st["recreations"] >= 1, "the first painted frame")
        self.layout = self.layout_now()

    def layout_now(self):
        st = self.state()
        return Layout(st["client_w"], st["client_h"], self.factor)

    def end(self):
        if self.process.poll() is not None:
            return
        if self.wrapped:
            # Ending the wrapper would only detach it; the launcher is the process to end.
            for pid in self.children():
                os.kill(pid, signal.SIGKILL)
        else:
            self.process.kill()
        self.process.wait(10)

    def children(self):
        try:
            with open(f"/proc/{self.process.pid}/task/{self.process.pid}/children") as f:
                return [int(pid) for pid in f.read().split()]
        except OSError:
            return []

    def probe(self, *args):
        return subprocess.run([os.path.join(TOOLS, "wine-run"), self.probe_exe, *map(str, args)], env=self.env,
                              capture_output=True, text=True, timeout=30)

    def state(self):
        out = self.probe("state")
        self.last_probe = out
        if out.returncode != 0:
            return None
        keys = ("left", "top", "width", "height", "client_x", "client_y", "client_w", "client_h",
                "iconic", "zoomed", "foreground", "recreations", "ticks", "paints", "timer_ms", "shown",
                "link_wakes")
        return dict(zip(keys, map(int, out.stdout.split())))

    def poll_state(self, ready, what, timeout):
        """The first Win32 state for which ready holds, or None after timeout seconds."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            st = self.state()
            if st and ready(st):
                return st
            if self.process.poll() is not None:
                self.test.fail(f"launcher exited with {self.process.returncode} waiting for {what}")
            time.sleep(0.2)
        return None

    def wait_for(self, ready, what, timeout=20):
        return self.poll_state(ready, what, timeout) or self.test.fail(f"timed out waiting for {what}")

    def click_until_state(self, point, ready, what, tries=3, timeout=8):
        """As click_until, judged by Win32's state of the window (a toggle such as maximise: a click is
        repeated only after the first one had time to show)."""
        for _ in range(tries):
            self.click(point)
            st = self.poll_state(ready, what, timeout)
            if st:
                return st
        self.test.fail(f"{what}: not seen after {tries} clicks")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=dict(self.env, DISPLAY=self.display), check=True)

    def to_screen(self, point):
        # The probe looks for the window for 2 s; a few more tries while the launcher runs on.
        for _ in range(3):
            st = self.state()
            if st is not None or self.process.poll() is not None:
                break
            time.sleep(0.3)
        if st is None:
            out = self.last_probe
            alive = "alive" if self.process.poll() is None else f"ended with {self.process.returncode}"
            raise RuntimeError(f"no window to click (probe exit {out.returncode}: {out.stderr.strip()[-300:]!r}; "
                               f"launcher {alive})")
        return st["client_x"] + point[0], st["client_y"] + point[1]

    def move(self, point):
        self.xdotool("mousemove", *self.to_screen(point))
        time.sleep(0.15)

    def click(self, point):
        self.move(point)
        self.xdotool("click", 1)
        time.sleep(0.3)

    def drag(self, point, dx, dy):
        """Press at a client point, move by (dx, dy) in steps, release: the system's move and size loop."""
        x, y = self.to_screen(point)
        self.xdotool("mousemove", "--sync", x, y)
        self.xdotool("mousedown", 1)
        for step in range(1, 5):
            self.xdotool("mousemove", x + dx * step // 4, y + dy * step // 4)
            time.sleep(0.1)
        self.xdotool("mouseup", 1)
        time.sleep(0.3)

    def key(self, *names):
        self.xdotool("key", "--delay", 60, *names)
        time.sleep(0.3)

    def shot(self, name):
        """The client area; the PNG is kept for people to look at."""
        st = self.state()
        os.makedirs(self.shots, exist_ok=True)
        path = os.path.join(self.shots, name + ".png")
        taken = time.time()
        subprocess.run(["import", "-display", self.display, "-window", "root", "-crop",
                        f"{st['client_w']}x{st['client_h']}+{st['client_x']}+{st['client_y']}", "+repage",
                        path], check=True)
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
        shot = Shot(raw, st["client_w"], st["client_h"])
        shot.taken = taken
        return shot

    def shot_when(self, name, ready, timeout=5):
        """The first shot for which ready holds: frames arrive a tick or more after the input."""
        end = time.monotonic() + timeout
        shot = self.shot(name)
        while not ready(shot) and time.monotonic() < end:
            time.sleep(0.2)
            shot = self.shot(name)
        return shot

    def act_until(self, action, name, ready, tries=3, timeout=6):
        """Repeats an input until a shot shows what it does: on a loaded machine X can deliver the move
        (the control shows its hover) and lose the press, and pressing again is what a player would do.
        Only for inputs that are safe to repeat. Returns the last shot; the caller asserts on it."""
        for _ in range(tries):
            action()
            shot = self.shot_when(name, ready, timeout)
            if ready(shot):
                break
        return shot

    def click_until(self, point, name, ready, tries=3, timeout=6):
        return self.act_until(lambda: self.click(point), name, ready, tries, timeout)

    def exit_code(self, timeout=15):
        return self.process.wait(timeout)
