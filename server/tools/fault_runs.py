#!/usr/bin/env python3
"""Fault runs of orvane-link-service: each prints its figures and exits 1 when the service broke a promise.

  fault_runs.py BINARY kill [--links N]        kill -9 of an instance while links complete (SQLite, or
                                               PostgreSQL with two instances when ORVANE_TEST_POSTGRES is set)
  fault_runs.py BINARY database-restart [--seconds S] [--down S]
                                               PostgreSQL stopped and started again under load
  fault_runs.py BINARY full-disk               SQLite on the small folder of with-small-folder.sh filled up

Run through tools/fault-*.sh, which set up the fake providers, PostgreSQL or the small folder.
"""
import argparse
import concurrent.futures
import os
import shlex
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import service_harness as h  # noqa: E402

CLIENT_TIMEOUT = 15  # a request without an answer by then counts as hung


def report(title, rows, failures):
    print(f"# {title}")
    for name, value in rows:
        print(f"{name:<46} {value}")
    for failure in failures:
        print("FAILED:", failure)
    print("result:", "FAILED" if failures else "passed")
    return 1 if failures else 0


def kill_run(binary, folder, args):
    postgres = os.environ.get("ORVANE_TEST_POSTGRES")
    database = postgres or os.path.join(folder, "links.sqlite3")
    victim = h.Instance(binary, folder, database, "victim").start()
    other = h.Instance(binary, folder, database, "other").start() if postgres else victim
    links = []
    for i in range(args.links):
        token = h.new_session(other.port)
        links.append((token, f"{76561198100000000 + i}", h.steam_callback(other.port, token, f"{76561198100000000 + i}")))
    answers = {}
    killed_after = threading.Event()

    def complete(link):
        token, steamid, query = link
        try:
            answers[token] = h.complete(victim.port, query)[0]
        except OSError:
            answers[token] = 0
        if sum(1 for s in answers.values() if s == 200) >= len(links) // 3:
            killed_after.set()

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        futures = [pool.submit(complete, link) for link in links]
        killed_after.wait(60)
        victim.process.kill()  # SIGKILL, mid-flight
        killed_at = time.monotonic()
        concurrent.futures.wait(futures)
    victim.process.wait()
    victim.start()
    restarted_s = time.monotonic() - killed_at
    acknowledged = [link for link in links if answers.get(link[0]) == 200]
    lost, linked_unanswered, not_linked = [], 0, 0
    for token, steamid, _ in links:
        status, document = h.session_status(victim.port, token)
        linked = status == 200 and document["steam"] is not None and document["steam"]["id"] == steamid
        if answers.get(token) == 200 and not linked:
            lost.append(steamid)
        elif answers.get(token) != 200:
            linked_unanswered += linked
            not_linked += not linked
    sessions_lost = sum(1 for token, _, _ in links if h.session_status(victim.port, token)[0] != 200)
    other_statuses = sorted({s for s in answers.values() if s not in (0, 200)})
    victim.stop()
    other.stop()
    failures = []
    if lost:
        failures.append(f"{len(lost)} links answered 200 are gone after the restart")
    if sessions_lost:
        failures.append(f"{sessions_lost} sessions are gone after the restart")
    if other_statuses:
        failures.append(f"unexpected statuses {other_statuses}")
    return report(f"kill -9 of an instance mid-link ({'PostgreSQL, 2 instances' if postgres else 'SQLite'})", [
        ("links started", len(links)),
        ("callbacks answered 200 before the kill", len(acknowledged)),
        ("callbacks cut off or refused by the kill", sum(1 for s in answers.values() if s == 0)),
        ("  of those, linked all the same", linked_unanswered),
        ("  of those, not linked (the player links again)", not_linked),
        ("acknowledged links lost after the restart", len(lost)),
        ("sessions lost after the restart", sessions_lost),
        ("restart to first answer (s)", f"{restarted_s:.2f}"),
    ], failures)


def load(port, tokens, stop, results, lock):
    i = 0
    while not stop.is_set():
        i += 1
        started = time.monotonic()
        try:
            if i % 5 == 0:
                status = h.call(port, "POST", "/sessions", timeout=CLIENT_TIMEOUT)[0]
            else:
                status = h.call(port, "GET", "/session", tokens[i % len(tokens)], timeout=CLIENT_TIMEOUT)[0]
        except TimeoutError:
            status = "hung"
        except OSError:
            status = "no answer"
        with lock:
            results.append((started, time.monotonic() - started, status))


def database_restart_run(binary, folder, args):
    ctl = shlex.split(os.environ["ORVANE_POSTGRES_CTL"])
    instance = h.Instance(binary, folder, os.environ["ORVANE_TEST_POSTGRES"], "service").start()
    tokens = [h.new_session(instance.port) for _ in range(50)]
    stop, lock, results = threading.Event(), threading.Lock(), []
    workers = [threading.Thread(target=load, args=(instance.port, tokens, stop, results, lock)) for _ in range(4)]
    for worker in workers:
        worker.start()
    time.sleep(args.seconds / 3)
    down_at = time.monotonic()
    subprocess.run(ctl + ["stop", "-m", "fast"], check=True, stdout=subprocess.DEVNULL)
    time.sleep(args.down)
    subprocess.run(ctl + ["start"], check=True, stdout=subprocess.DEVNULL)
    up_at = time.monotonic()
    time.sleep(args.seconds * 2 / 3)
    stop.set()
    for worker in workers:
        worker.join()
    instance.stop()
    statuses = {}
    for _, _, status in results:
        statuses[status] = statuses.get(status, 0) + 1
    failed = [r for r in results if r[2] != 200 and r[2] != 201]
    during = [r for r in results if down_at <= r[0] < up_at]
    after_up = [r for r in results if r[0] >= up_at]
    first_ok = next((r[0] for r in sorted(after_up) if r[2] in (200, 201)), None)
    last_failed = max((r[0] for r in failed), default=None)
    latencies = sorted(r[1] for r in results)
    failures = []
    unexpected = {s: n for s, n in statuses.items() if s not in (200, 201, 503)}
    if unexpected:
        failures.append(f"answers other than 200/201/503: {unexpected}")
    if first_ok is None:
        failures.append("the service did not recover after the database came back")
    if not any(r[2] == 503 for r in during):
        failures.append("no 503 while the database was down")
    if last_failed is not None and last_failed > up_at + 10:
        failures.append("requests still failed 10 s after the database was back")
    return report("PostgreSQL stopped and started under load (4 clients, GET /session and POST /sessions)", [
        ("requests", len(results)),
        ("answers by status", ", ".join(f"{s}: {n}" for s, n in sorted(statuses.items(), key=str))),
        ("database down (s)", f"{up_at - down_at:.2f}"),
        ("requests while down", len(during)),
        ("latency p50 / p99 / max (ms)", "{:.1f} / {:.1f} / {:.1f}".format(
            1000 * latencies[len(latencies) // 2], 1000 * latencies[int(len(latencies) * 0.99)],
            1000 * latencies[-1])),
        ("max latency while down (ms)", f"{1000 * max((r[1] for r in during), default=0):.1f}"),
        ("database up to first success (s)", f"{first_ok - up_at:.2f}" if first_ok else "never"),
        ("last failure after the database was up (s)",
         f"{max(0.0, last_failed - up_at):.2f}" if last_failed else "none"),
    ], failures)


def full_disk_run(binary, folder, args):
    small = os.environ["ORVANE_SMALL_FOLDER"]
    database = os.path.join(small, "links.sqlite3")
    instance = h.Instance(binary, folder, database, "service").start()
    token = h.new_session(instance.port)
    # Leave the database only a little room, so the run is short.
    filler = os.path.join(small, "filler")
    free = os.statvfs(small).f_bavail * os.statvfs(small).f_frsize
    with open(filler, "wb") as f:
        f.write(b"\0" * max(0, free - 512 * 1024))
    committed, statuses, first_full = [token], {}, None
    for i in range(20000):
        status, headers, body = h.call(instance.port, "POST", "/sessions")
        statuses[status] = statuses.get(status, 0) + 1
        if status == 201:
            committed.append(__import__("json").loads(body)["token"])
        elif first_full is None:
            first_full = (i, headers.get("Retry-After"))
        if status != 201 and statuses.get(status) >= 20:
            break
    readable_full = sum(1 for t in committed if h.session_status(instance.port, t)[0] == 200)
    link_status = h.call(instance.port, "POST", "/link/steam", committed[0])[0]
    os.remove(filler)
    recovered = h.call(instance.port, "POST", "/sessions")[0]
    instance.process.kill()
    instance.process.wait()
    instance.start()
    kept = sum(1 for t in committed if h.session_status(instance.port, t)[0] == 200)
    instance.stop()
    failures = []
    if set(statuses) - {201, 503}:
        failures.append(f"answers other than 201/503: {statuses}")
    if first_full is None:
        failures.append("the disk never filled")
    elif first_full[1] is None:
        failures.append("the 503 had no Retry-After")
    if readable_full != len(committed) or kept != len(committed):
        failures.append("committed sessions were lost")
    if link_status != 503:
        failures.append(f"POST /link/steam on a full disk answered {link_status}")
    if recovered != 201:
        failures.append(f"after space was freed POST /sessions answered {recovered}")
    return report("SQLite on a full disk (tmpfs of with-small-folder.sh)", [
        ("sessions committed before the disk was full", len(committed)),
        ("answers by status", ", ".join(f"{s}: {n}" for s, n in sorted(statuses.items()))),
        ("committed sessions readable while full", f"{readable_full} of {len(committed)}"),
        ("POST /link/steam while full", link_status),
        ("POST /sessions once space was freed", recovered),
        ("committed sessions after kill -9 and restart", f"{kept} of {len(committed)}"),
    ], failures)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("run", choices=["kill", "database-restart", "full-disk"])
    parser.add_argument("--links", type=int, default=60)
    parser.add_argument("--seconds", type=float, default=9)
    parser.add_argument("--down", type=float, default=3)
    args = parser.parse_args()
    runs = {"kill": kill_run, "database-restart": database_restart_run, "full-disk": full_disk_run}
    with tempfile.TemporaryDirectory(prefix="orvane-fault.") as folder:
        return runs[args.run](os.path.abspath(args.binary), folder, args)


if __name__ == "__main__":
    sys.exit(main())
