#!/usr/bin/env python3
"""What the window costs when it can and cannot be seen, beside the least a window costs under Wine.

usage: measure_hidden.py OrvaneGaming.exe window_bench.exe idle_floor.exe [--seconds S]

Runs inside the Wine prefix and on the display that the environment names (tools/benchmark.sh sets
both up). Each figure is utime + stime over wall time, as a share of one core, of the program's Linux
process plus the prefix's wineserver (which does part of every Win32 call's work), over S seconds
(default 60):

  floor     bench/idle_floor.exe: a window and its message loop, no timer, nothing else; then the
            same with a 1 s timer whose messages do nothing
  in front  the launcher open and active
  behind    a small window of window_bench.exe in the foreground; the launcher inactive but visible
  covered   a window of window_bench.exe larger than the launcher on top of it
  minimised the launcher minimised
  floor     once more, after the launcher: how far the prefix's own share drifted meanwhile

and then, from the exact figures, how far covered and minimised are above the mean of the two floors.

Each state is measured from 2.5 s after it was set up, so the launcher's own 2 s of full rate after
losing the focus is not counted. Each figure is given twice: from utime + stime, which Linux samples in
whole clock ticks (10 ms: one tick in a minute is 0.017 %), and exact, from the scheduler's own count of
nanoseconds on a CPU of each thread alive at the end (a thread that ended meanwhile is missed there, and
said so).
"""
import argparse
import os
import re
import subprocess
import sys
import time
import uuid

from measure_window import WINE_RUN, await_process, cpu_share, find_wineserver, open_session

SETTLE_S = 2.5
# Covered or minimised, the launcher may cost at most this much more than the floor (% of one core).
GOAL_ABOVE_FLOOR = 0.05
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The launcher's wake-up period while it cannot be seen, as the program has it.
with open(os.path.join(ROOT, "app", "visibility.h")) as header:
    HIDDEN_WAKE_MS = int(re.search(r"kHiddenWakeMs = (\d+);", header.read()).group(1))


def row(label, shares, pid, server, exact):
    print(f"    {label:<42}{share_text(shares, pid, server)}")
    print(f"    {'':<42}{exact_text(exact, pid, server)}")


def share_text(shares, pid, server):
    own, wine = shares.get(pid, 0.0), shares.get(server, 0.0)
    return f"{own + wine:7.3f} %   (process {own:6.3f} %, wineserver {wine:6.3f} %)"


def exact_text(exact, pid, server):
    own, wine = exact.get(pid, 0.0), exact.get(server, 0.0)
    ended = exact.get("threads ended", 0)
    missed = f"; {ended} thread(s) ended, not counted" if ended else ""
    return f"{own + wine:7.3f} %   exact (process {own:6.3f} %, wineserver {wine:6.3f} %{missed})"


def floor_figure(exe, server, seconds, args=()):
    tag, pid = uuid.uuid4().hex, None
    process = subprocess.Popen([WINE_RUN, exe, *args], env=dict(os.environ, ORVANE_BENCH_TAG=tag),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        pid = await_process(tag, 10.0, b"idle_floor.exe")
        if pid is None:
            return None
        time.sleep(SETTLE_S)
        exact = {}
        return pid, cpu_share([pid, server], seconds, exact), exact
    finally:
        process.kill()
        process.wait(10)
        # Ending the wine-run wrapper may leave the Windows process; it goes with its pid.
        if pid:
            subprocess.run(["kill", "-9", str(pid)], stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("tool")
    parser.add_argument("floor")
    parser.add_argument("--seconds", type=float, default=60.0)
    args = parser.parse_args()
    prefix = os.environ["ORVANE_WINEPREFIX"]
    server = find_wineserver(prefix)
    if server is None:
        print("no wineserver found for the prefix; no figures")
        return 1
    failures = 0

    print(f"Hidden window: CPU share of one core, process + wineserver, {args.seconds:.0f} s per state,")
    print(f"from {SETTLE_S} s after the state was set up.")
    floor = floor_figure(args.floor, server, args.seconds)
    if floor is None:
        print("    floor program did not start")
        return 1
    row("floor (message loop, no timer)", floor[1], floor[0], server, floor[2])
    timed = floor_figure(args.floor, server, args.seconds, [str(HIDDEN_WAKE_MS)])
    if timed:
        row(f"floor and a {HIDDEN_WAKE_MS} ms timer doing nothing", timed[1], timed[0], server, timed[2])

    session, pid, failure = open_session(args.exe, args.tool)
    try:
        if pid is None:
            print("    " + failure)
            return 1
        # Each state: the commands that set it up, the answer each must give, its label.
        states = (
            ([], [], "in front"),
            (["background"], [["background", "1", "0", "0"]], "behind another window, visible"),
            (["activate", "cover"], [["activate", "1", "1"], ["cover", "1"]], "covered completely"),
            (["uncover", "minimise"], [["uncover"], ["minimise", "1"]], "minimised"),
        )
        hidden = {}
        for commands, expected, label in states:
            answers = [session.ask(c) for c in commands]
            time.sleep(SETTLE_S)
            # The process's first thread runs the window; the others are the link service's worker
            # and Wine's and WinHTTP's own.
            first_thread = f"{pid}/task/{pid}"
            exact = {}
            shares = cpu_share([pid, server, first_thread], args.seconds, exact)
            note = "" if answers == expected else f"   NOT SET UP: {answers}"
            failures += answers != expected
            print(f"    {'launcher, ' + label:<42}{share_text(shares, pid, server)}{note}")
            print(f"    {'':<42}{exact_text(exact, pid, server)}")
            print(f"    {'':<42}(window's thread {shares.get(first_thread, 0.0):6.3f} %, "
                  f"exact {exact.get(first_thread, 0.0):6.3f} %)")
            hidden[label] = exact.get(pid, 0.0) + exact.get(server, 0.0)
        session.ask("restore")
    finally:
        session.end()
    # The wineserver also serves the prefix's own programs, whose share drifts by a few hundredths
    # of a percent from one minute to the next: the floor once more, after the launcher, shows how much.
    again = floor_figure(args.floor, server, args.seconds)
    if again is None:
        print("    floor program did not start again")
        return 1
    row("floor again, after the launcher", again[1], again[0], server, again[2])
    floors = [f[2].get(f[0], 0.0) + f[2].get(server, 0.0) for f in (floor, again)]
    base = sum(floors) / len(floors)
    print(f"  Exact, against the mean of the two floors ({base:.3f} %; they differ by "
          f"{abs(floors[0] - floors[1]):.3f} %), the goal being within {GOAL_ABOVE_FLOOR:.2f} %:")
    for label in ("covered completely", "minimised"):
        above = hidden[label] - base
        verdict = "within" if above <= GOAL_ABOVE_FLOOR else "NOT within"
        print(f"    {'launcher, ' + label:<42}{above:+7.3f} %   {verdict}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
