#!/usr/bin/env python3
"""Long run: the launcher window against the local link service in its demo mode while a driver cycles
through everything a player and a flaky service do, sampling the launcher's resources every minute.

usage: tools/soak.sh [--minutes N]   (default 60; runs this in a Wine session of its own against the
       local link service)

Wine 8 reports 0 for GetGuiResources and GetProcessHandleCount of another process, so the figures are:
from inside Wine, the launcher's GDI objects (the live entries of its own GDI handle table, read by
window_probe) and its windows; from Linux's view of the Wine process, open descriptors (/proc/PID/fd),
threads (/proc/PID/task) and private memory (Private_Clean + Private_Dirty of /proc/PID/smaps_rollup); and
its CPU (user + system time of /proc/PID/stat as a share of one core over each minute; shown, not judged).
Pass: no crash, the window answers at the end, and no figure of a later sample exceeds the largest of the
warm-up samples (the first three minutes) by more than its slack.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from link_control import control  # noqa: E402
from window_support import Launcher, prefix_env  # noqa: E402

WARM_UP_SAMPLES = 3
SLACK = {"gdi_objects": 16, "windows": 2, "descriptors": 4, "threads": 2, "private_kib": 8192}
SAMPLE_EVERY_S = 60
DEMO_NEWS = [{"id": 1, "title": "Servicio de demostración", "published_at": "2026-12-01T12:00:00Z",
              "body": "Prueba de larga duración."}]


class Run:
    """What Launcher needs of a test: cleanups and a way to fail."""

    def __init__(self):
        self.cleanups = []

    def addCleanup(self, function, *args):
        self.cleanups.append((function, args))

    def fail(self, message):
        raise RuntimeError(message)

    def close(self):
        for function, args in reversed(self.cleanups):
            function(*args)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def window_objects(app):
    """GDI objects (the launcher's own GDI handle table, read by window_probe) and windows."""
    out = app.probe("objects")
    if out.returncode != 0:
        raise RuntimeError(f"window_probe objects failed ({out.returncode})")
    gdi, windows = map(int, out.stdout.split())
    return {"gdi_objects": gdi, "windows": windows}


def sample(pid):
    private = 0
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                private += int(line.split()[1])
    return {"descriptors": len(os.listdir(f"/proc/{pid}/fd")), "threads": len(os.listdir(f"/proc/{pid}/task")),
            "private_kib": private}


class Driver:
    def __init__(self, app):
        self.app, self.actions, self.size = app, 0, None

    def design(self, x, y):
        return self.app.layout.px(x, y)

    def click(self, x, y, settle=0.5):
        self.app.click(self.design(x, y))
        self.actions += 1
        time.sleep(settle)

    def cycle(self):
        """One round of what a player and the service do; about a minute and a half."""
        app, L = self.app, self.app.layout
        W, H, X, Y = L.W, L.H, L.X, L.Y
        # Back to the linking card, link both accounts (the player accepting in the browser after 4 s is
        # the double's control port here: this run needs a service it can also make misbehave), go home.
        self.click(W - 276 + 107, 70)
        for k, provider in enumerate(("steam", "discord")):
            self.click(X + 476 + 92, Y + 159 + 98 * k + 22, 4)
            try:
                control("POST", "/link", {"provider": provider})
            except urllib.error.HTTPError:
                pass  # nothing awaited a link: the account was linked already
            time.sleep(5)
        self.click(X + 40 + 310, Y + 355 + 25)
        # Tabs, carousel controls and keys.
        for k in (1, 2, 0):
            self.click(W / 2 - 156 + 104 * k + 50, 70)
        for k in (0, 1, 1, 2):
            self.click(W - 194 + 42 * k + 19, H - 65 + 19)
        for k in (2, 0, 1):
            self.click(W - 372 + 30 * k + 14, H - 62 + 16)
        app.key("Left", "Right", "Tab", "Tab")
        self.actions += 4
        # Resize and back, minimise and restore.
        st = app.state()
        self.size = self.size or (st["width"], st["height"])
        app.probe("size", 1100, 720)
        time.sleep(1)
        app.probe("size", *self.size)
        time.sleep(1)
        self.click(W - 126 + 21, 16, 2)
        app.probe("restore")
        time.sleep(1)
        self.actions += 3
        # Service faults, each lifted after a while, with REINTENTAR on the linking card.
        for fault in ({"method": "*", "path": "*", "drop": True},
                      {"method": "GET", "path": "/config", "status": 503, "body": '{"error":"x"}'},
                      {"method": "GET", "path": "/session", "delay_ms": 8000, "times": 2}):
            control("POST", "/answer", fault)
            self.click(W - 276 + 107, 70)
            self.click(X + 488 + 86, Y + 324 + 13, 10)
            control("POST", "/reset", {})
            self.click(X + 488 + 86, Y + 324 + 13, 3)
        # The session expires; then the service forgets every session and link (a logout): Play, not
        # ready, asks for the status.
        control("POST", "/expire", {})
        self.click(W / 2 - 156 + 50, 70)
        self.click(64 + 111, H - 168 + 26, 5)
        control("POST", "/reset", {"all": True})
        control("POST", "/config", {"news": DEMO_NEWS})
        self.click(64 + 111, H - 168 + 26, 5)


def exchange_counts():
    """How often each request was answered with each status, from the service's log."""
    log = control("GET", "/log")["events"]
    requests = {e["seq"]: f'{e["method"]} {e["path"]}' for e in log if e["event"] == "request"}
    counts = {}
    for e in log:
        if e["event"] == "response" and e["request"] in requests:
            key = f'{requests[e["request"]]} {e["status"]}'
            counts[key] = counts.get(key, 0) + 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("probe")
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--log", default=os.path.join(tempfile.gettempdir(), "orvane-soak-launcher.log"),
                        help="where the launcher's Wine messages go")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="orvane-soak-")
    folder = os.path.join(work, "OrvaneGaming")
    os.makedirs(os.path.join(folder, "reports"))
    shutil.copy(args.exe, folder)
    shutil.copytree(os.path.join(os.path.dirname(os.path.abspath(args.exe)), "assets"),
                    os.path.join(folder, "assets"))
    control("POST", "/config", {"news": DEMO_NEWS})
    env = dict(prefix_env(), ORVANE_DEMO="1", ORVANE_WINEDEBUG="fixme-all")
    run = Run()
    samples, errors = [], []
    cycles, actions, crashed, answers, exit_code = 0, 0, True, False, None
    try:
        # Wine's own messages of the launcher (a crash's backtrace among them) outlive the run's folder.
        log = open(args.log, "wb")
        run.addCleanup(log.close)
        app = Launcher(run, env, os.path.join(folder, "OrvaneGaming.exe"), args.probe,
                       os.path.join(work, "shots"), log=log)
        pid = app.process.pid
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            if b"OrvaneGaming.exe" not in f.read():
                raise RuntimeError("the sampled process is not the launcher")
        started = time.monotonic()
        end = started + args.minutes * 60
        stop = threading.Event()

        def sampler():
            while not stop.is_set():
                if app.process.poll() is not None:
                    return
                minute = (time.monotonic() - started) / 60
                cpu = cpu_seconds(pid)
                share = None
                if samples:
                    share = round(100 * (cpu - samples[-1]["cpu_s"]) / (60 * (minute - samples[-1]["minute"])), 1)
                try:
                    objects = window_objects(app)
                except (RuntimeError, ValueError, subprocess.TimeoutExpired) as e:
                    errors.append(f"sample at minute {minute:.1f}: {e}")
                    print(f"  sampler error: {errors[-1]}", flush=True)
                    stop.wait(5)
                    continue
                samples.append(dict(objects, **sample(pid), cpu_percent=share, minute=minute, cpu_s=cpu))
                print(f"  minute {minute:5.1f}: " + ", ".join(f"{k} {v}" for k, v in samples[-1].items()
                                                             if k not in ("minute", "cpu_s")), flush=True)
                stop.wait(SAMPLE_EVERY_S)

        thread = threading.Thread(target=sampler, daemon=True)
        thread.start()
        driver = Driver(app)
        while time.monotonic() < end and app.process.poll() is None:
            try:
                driver.cycle()
                cycles += 1
            except Exception as e:  # noqa: BLE001 -- one failed action must not end the long run
                errors.append(f"cycle {cycles}: {type(e).__name__}: {e}")
                print(f"  driver error: {errors[-1]}", flush=True)
                time.sleep(2)
        stop.set()
        thread.join(5)
        actions = driver.actions
        crashed = app.process.poll() is not None
        if not crashed:
            samples.append(dict(window_objects(app), **sample(pid), minute=(time.monotonic() - started) / 60))
        # The window still answers: its state through Win32, then the close button ends it cleanly.
        answers = not crashed and app.state() is not None
        if answers:
            app.click(app.layout.px(app.layout.W - 21, 16))
            exit_code = app.process.wait(30)
    finally:
        run.close()
        shutil.rmtree(work, True)

    print(f"\nsoak: {args.minutes:g} min, {cycles} cycles, {actions} actions, {len(errors)} driver errors")
    print("service exchanges: " + ", ".join(f"{k} {v}" for k, v in sorted(exchange_counts().items())))
    for e in errors[:10]:
        print("  " + e)
    if not samples:
        print("result: FAIL (no sample)")
        return 1
    warm = samples[:WARM_UP_SAMPLES]
    ok = not crashed and answers and exit_code == 0 and len(samples) > WARM_UP_SAMPLES
    print("\n| figure | first | last | max | warm-up max | allowed |\n|---|---|---|---|---|---|")
    for key, slack in SLACK.items():
        values = [s[key] for s in samples]
        allowed = max(s[key] for s in warm) + slack
        grew = any(v > allowed for v in values[WARM_UP_SAMPLES:])
        ok = ok and not grew
        print(f"| {key} | {values[0]} | {values[-1]} | {max(values)} | {allowed - slack} | {allowed} |"
              + (" GREW" if grew else ""))
    shares = [s["cpu_percent"] for s in samples if s.get("cpu_percent") is not None]
    if shares:
        print(f"| cpu_percent (shown, not judged) | {shares[0]} | {shares[-1]} | {max(shares)} |"
              f" mean {sum(shares) / len(shares):.1f} | — |")
    print(f"\ncrashed: {crashed}; answered at the end: {answers}; exit code: {exit_code}")
    print("result:", "PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
