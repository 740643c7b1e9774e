#!/usr/bin/env python3
"""Kills a saving launcher at random moments and checks what each kill left behind.

usage: tools/crash-safe-run.sh [--trials N] [--seed S]   (builds crash_loop.exe, runs this in a Wine
       session of its own)

For the session store and for the configuration writer in turn, each trial starts crash_loop.exe (which
saves new values in a loop with the launcher's own code), waits until it has saved once, kills the Wine
process with SIGKILL at a random moment of the next 300 ms, and checks:
- session: the next run's load gives the token being saved or the one saved before it, never anything
  else, and that run's first save succeeds although temporary files of killed saves lie beside it, and
  leaves none of them;
- configuration: the file is byte for byte the configuration being written or the one written before;
  a pending file left by the kill refuses the next write (as designed) without changing anything, and
  is then removed, as a person would, so the next trial can write.
Prints the figures; exit status 1 when any check failed.
"""
import argparse
import os
import queue
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

TOOLS = os.path.dirname(os.path.abspath(__file__))
KILL_WINDOW_S = 0.3
NEWS_LINES = 40


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def expected_config(n):
    """The file the writer makes for crash_loop's configuration number n."""
    body = f"Línea {n}\\n" * NEWS_LINES
    text = (f"\ufeff[launcher]\r\nserver=rp.orvane.test:27015\r\ncommunity=https://orvane.example/foro\r\n"
            f"news_title=Noticia {n}\r\nnews_body={body}\r\nbackground=scene.png\r\n")
    return text.encode("utf-16-le")


class Run:
    """One crash_loop process and the lines it printed."""

    def __init__(self, exe, kind, folder, seed):
        self.process = subprocess.Popen([os.path.join(TOOLS, "wine-run"), exe, kind, wine_path(folder), str(seed)],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.process.stdout:
            self.lines.put(line.split())
        self.lines.put(None)

    def next_line(self, timeout=60):
        line = self.lines.get(timeout=timeout)
        if line is not None:
            self.seen.append(line)
        return line

    def until(self, kind, value=None, timeout=60):
        """Reads up to the first line of that kind (and value); None when the program ended first."""
        while True:
            line = self.next_line(timeout)
            if line is None or (line[0] == kind and (value is None or line[1:] == [value])):
                return line

    def kill_after(self, delay):
        time.sleep(delay)
        if self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGKILL)
        self.process.wait(30)
        while self.next_line() is not None:
            pass

    def finish(self):
        while self.next_line() is not None:
            pass
        return self.process.wait(30)

    def saves(self):
        """(values announced, how many of them were reported saved)."""
        announced = [line[1] for line in self.seen if line[0] == "S"]
        return announced, sum(1 for line in self.seen if line == ["D", "1"])


def new_seed(rng):
    return rng.randrange(1, 1 << 40)


def kill_and_count(run, rng, figures):
    """Kills the run at a random moment and counts it; returns (the value being saved, the value saved
    before it), the two a whole file may hold."""
    run.kill_after(rng.uniform(0, KILL_WINDOW_S))
    announced, saved = run.saves()
    figures["trials"] += 1
    figures["saves"] += saved
    figures["killed_while_saving" if saved < len(announced) else "killed_between_saves"] += 1
    # Killed after its save reported success, only the new value will do.
    return announced[-1], announced[-1] if saved == len(announced) else announced[-2]


def session_trials(exe, folder, trials, rng):
    figures = dict(trials=0, killed_while_saving=0, killed_between_saves=0, loaded_new=0, loaded_previous=0,
                   loaded_other=0, first_save_failed=0, saves=0, temporary_left_by_kill=0,
                   temporary_kept_by_next_save=0)

    def temporaries():
        return {n for n in os.listdir(folder) if ".tmp." in n}
    expected = None  # (token being saved, token saved before it)
    for trial in range(trials + 1):
        left = temporaries()
        if expected is not None:
            figures["temporary_left_by_kill"] += len(left)
        run = Run(exe, "session", folder, new_seed(rng))
        loaded = run.until("L")
        first = run.until("D")
        if expected is not None:
            # The running loop may be saving again; only the files the kill left are looked for.
            figures["temporary_kept_by_next_save"] += len(left & temporaries())
        if expected is not None:
            got = loaded[1] if loaded else None
            outcome = "new" if got == expected[0] else "previous" if got == expected[1] else "other"
            figures["loaded_" + outcome] += 1
            if outcome == "other":
                print(f"  trial {trial}: loaded {got!r}, expected {expected}", file=sys.stderr)
        if first != ["D", "1"]:
            figures["first_save_failed"] += 1
            run.finish()
            print(f"  trial {trial}: the first save failed: {run.seen}", file=sys.stderr)
            expected = None
            continue
        if trial == trials:
            run.kill_after(0)
            break
        expected = kill_and_count(run, rng, figures)
    figures["leftover_temporary_files"] = len(temporaries())
    return figures


def config_trials(exe, folder, trials, rng):
    figures = dict(trials=0, killed_while_saving=0, killed_between_saves=0, file_new=0, file_previous=0,
                   file_other=0, pending_left=0, pending_refused_next_write=0, pending_changed=0, saves=0)
    target = os.path.join(folder, "OrvaneGaming.ini")
    pending = target + ".pending"
    for trial in range(trials):
        run = Run(exe, "config", folder, new_seed(rng))
        if run.until("D") != ["D", "1"]:
            run.finish()
            print(f"  trial {trial}: the first write failed: {run.seen}", file=sys.stderr)
            figures["file_other"] += 1
            break
        new, previous = map(int, kill_and_count(run, rng, figures))
        with open(target, "rb") as f:
            content = f.read()
        outcome = ("new" if content == expected_config(new) else
                   "previous" if content == expected_config(previous) else "other")
        figures["file_" + outcome] += 1
        if outcome == "other":
            print(f"  trial {trial}: the file is neither configuration {new} nor {previous}", file=sys.stderr)
        if os.path.exists(pending):
            figures["pending_left"] += 1
            with open(pending, "rb") as f:
                left = f.read()
            refused = Run(exe, "config", folder, new_seed(rng))
            code = refused.finish()
            if refused.seen[-1:] == [["D", "0"]] and code == 3:
                figures["pending_refused_next_write"] += 1
            with open(target, "rb") as f:
                unchanged = f.read() == content
            with open(pending, "rb") as f:
                unchanged = unchanged and f.read() == left
            if not unchanged:
                figures["pending_changed"] += 1
            os.remove(pending)
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--trials", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 32)
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix="orvane-crash-")
    try:
        ok = True
        print(f"crash-safe run: {args.trials} kills per writer, seed {seed}")
        for name, trials in (("session store", session_trials), ("configuration writer", config_trials)):
            folder = os.path.join(work, name.split()[0])
            os.makedirs(folder)
            started = time.monotonic()
            figures = trials(args.exe, folder, args.trials, rng)
            print(f"\n{name} ({time.monotonic() - started:.0f} s)")
            for key, value in figures.items():
                print(f"  {key.replace('_', ' ')}: {value}")
            bad = figures.get("loaded_other", 0) + figures.get("first_save_failed", 0) + \
                figures.get("file_other", 0) + figures.get("pending_changed", 0) + \
                figures.get("temporary_kept_by_next_save", 0) + \
                (figures.get("pending_left", 0) - figures.get("pending_refused_next_write", 0))
            ok = ok and bad == 0 and figures["trials"] == args.trials
        print("\nresult:", "PASS" if ok else "FAIL")
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    sys.exit(main())
