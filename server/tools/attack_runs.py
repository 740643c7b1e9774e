#!/usr/bin/env python3
"""Floods against a real orvane-link-service over TLS on loopback, each printing its figures, and exiting 1
when the service broke a promise of its bounds (docs/running-the-service.md, "Bounds"):

  attack_runs.py BINARY descriptors       started with a soft descriptor limit of 1,024 (a unit without
                                          LimitNOFILE): 1,100 silent connections from 20 addresses, and
                                          80 players' GET /config meanwhile
  attack_runs.py BINARY silent [-n N]     N silent connections (never a handshake) from addresses of 60
                                          each: resident memory before, at the peak and after, and a
                                          player's GET /config latency meanwhile
  attack_runs.py BINARY one-address [-n N]  the same N from a single address
  attack_runs.py BINARY idle-tls [-n N]   N connections that finish the handshake and say nothing

Loopback only; each run bounded in connections (at most 50,000) and time (a few minutes at most). The
service's own configuration keys can be given with --set key=value (an older program refuses keys it does
not know, so none are set by default). Needs enough descriptors: the runs raise their own soft limit to the
hard one and split the connections among worker processes.
"""
import argparse
import multiprocessing
import os
import resource
import socket
import ssl
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import service_harness as h  # noqa: E402

PLAYER = "127.0.0.2"
PLAYER_TIMEOUT = 5      # a GET /config unanswered by then counts as timed out
MAX_CONNECTIONS = 50000
PER_ADDRESS = 60        # below the default per-address cap, so the total is what a flood meets
MiB = 1 << 20


def raise_own_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return hard


def addresses(count, per_address, base):
    """[(source address, connections)] from 127.base.x.y, per_address each."""
    plan, left, i = [], count, 0
    while left > 0:
        take = min(per_address, left)
        plan.append((f"127.{base}.{1 + i // 250}.{1 + i % 250}", take))
        left -= take
        i += 1
    return plan


def worker(pipe, port, plan, ca):
    """Holds connections for the run: "open" opens them (silent, or through the handshake when ca is
    given), "close" lets them go."""
    raise_own_limit()
    held = []
    context = ssl.create_default_context(cafile=ca) if ca else None
    while True:
        command = pipe.recv()
        if command == "open":
            failed = 0
            for source, count in plan:
                for _ in range(count):
                    s = socket.socket()
                    try:
                        s.bind((source, 0))
                        if context:
                            s.settimeout(10)
                            s.connect(("127.0.0.1", port))
                            s = context.wrap_socket(s, server_hostname="localhost")
                        else:
                            s.setblocking(False)
                            s.connect_ex(("127.0.0.1", port))
                        held.append(s)
                    except OSError:
                        failed += 1
                        s.close()
            pipe.send(failed)
        elif command == "close":
            for s in held:
                s.close()
            held = []
            pipe.send(0)
        else:
            return


class Flood:
    """Connections from the plan, split over worker processes of at most `per_worker` each."""

    def __init__(self, port, plan, ca=None):
        per_worker = max(1000, resource.getrlimit(resource.RLIMIT_NOFILE)[1] - 500)
        shares, share, size = [], [], 0
        for source, count in plan:
            if size + count > per_worker:
                shares.append(share)
                share, size = [], 0
            share.append((source, count))
            size += count
        shares.append(share)
        self.workers = []
        for share in shares:
            ours, theirs = multiprocessing.Pipe()
            process = multiprocessing.Process(target=worker, args=(theirs, port, share, ca), daemon=True)
            process.start()
            self.workers.append((process, ours))

    def ask(self, command):
        for _, pipe in self.workers:
            pipe.send(command)
        return sum(pipe.recv() for _, pipe in self.workers)

    def end(self):
        for process, pipe in self.workers:
            pipe.send("exit")
            process.join(10)


def get_config(port, ca):
    """A player's GET /config over a new TLS connection: (latency s, status or why there was none)."""
    started = time.monotonic()
    try:
        status = h.call(port, "GET", "/config", timeout=PLAYER_TIMEOUT, source=PLAYER, ca=ca)[0]
    except (TimeoutError, socket.timeout):
        status = "timed out"
    except OSError as e:
        status = type(e).__name__
    return time.monotonic() - started, status


def player(port, ca, stop, pipe, every=0.1):
    """GET /config every `every` s until stop; then sends every (latency, status)."""
    samples = []
    while not stop.is_set():
        samples.append(get_config(port, ca))
        stop.wait(max(0.0, every - samples[-1][0]))
    pipe.send(samples)


class Watch:
    """The service's resident memory and open descriptors, sampled every 0.1 s from /proc: what it holds,
    whether or not it counts its own connections."""

    def __init__(self, pid):
        self.pid, self.samples, self.stop = pid, [], threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def rss(self):
        with open(f"/proc/{self.pid}/status") as f:
            return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmRSS:"))

    def descriptors(self):
        return len(os.listdir(f"/proc/{self.pid}/fd"))

    def _run(self):
        while not self.stop.is_set():
            try:
                self.samples.append((time.monotonic(), self.rss(), self.descriptors()))
            except (OSError, StopIteration):
                return
            self.stop.wait(0.1)

    def peak(self, since, column=1):
        return max((sample[column] for sample in self.samples if sample[0] >= since), default=0)

    def hold(self, since, quiet=3.0, longest=20):
        """Until the descriptors held have not reached a new height for `quiet` s, or for `longest` s."""
        deadline = time.monotonic() + longest
        while time.monotonic() < deadline:
            time.sleep(0.2)
            samples = [sample for sample in self.samples if sample[0] >= since]
            highest = max(samples, key=lambda sample: sample[2])  # the first sample at the height
            if time.monotonic() - highest[0] >= quiet:
                return

    def end(self):
        self.stop.set()
        self.thread.join()


def soft_descriptor_limit(pid):
    with open(f"/proc/{pid}/limits") as f:
        return next(line.split()[3] for line in f if line.startswith("Max open files"))


def metric(instance, name, default="-"):
    try:
        value = instance.scrape().get(name)
    except OSError:
        return default
    return default if value is None else int(value)


def latency_rows(samples):
    answered = sorted(latency for latency, status in samples if status == 200)
    others = {}
    for _, status in samples:
        if status != 200:
            others[status] = others.get(status, 0) + 1
    def at(q):
        return f"{1000 * answered[min(len(answered) - 1, int(len(answered) * q))]:.1f}" if answered else "-"
    return [
        ("player GET /config asked / answered 200", f"{len(samples)} / {len(answered)}"),
        ("  not answered", ", ".join(f"{k}: {v}" for k, v in others.items()) or "none"),
        ("  latency p50 / p99 / max (ms)", f"{at(0.5)} / {at(0.99)} / {at(1.0)}"),
    ]


def report(title, rows, failures):
    print(f"# {title}")
    for name, value in rows:
        print(f"{name:<52} {value}")
    for failure in failures:
        print("FAILED:", failure)
    print("result:", "FAILED" if failures else "passed")
    sys.stdout.flush()
    return 1 if failures else 0


def start_service(binary, folder, args, descriptors):
    tls = h.make_certificate(folder)
    extra = "".join(f"{setting.replace('=', ' = ', 1)}\n" for setting in args.set)
    instance = h.Instance(binary, folder, os.path.join(folder, "links.sqlite"), "service", extra=extra, tls=tls,
                          metrics=True, descriptors=descriptors).start()
    return instance


def settle(watch, resting_descriptors, seconds=20):
    """Waits for the service to let the flood's descriptors go, then past its next memory trim."""
    deadline = time.monotonic() + seconds
    while watch.descriptors() > resting_descriptors + 8 and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(6)


def descriptors_run(binary, folder, args):
    hard = raise_own_limit()
    instance = start_service(binary, folder, args, (1024, hard))
    limit = soft_descriptor_limit(instance.process.pid)
    watch = Watch(instance.process.pid)
    resting_descriptors = watch.descriptors()
    flood = Flood(instance.port, addresses(1100, 55, 10))
    began = time.monotonic()
    failed = flood.ask("open")
    # The players come while the flood is held: 80 of them 50 ms apart, each waited for at most 5 s.
    samples = []
    threads = [threading.Thread(target=lambda: samples.append(get_config(instance.port, instance.ca)))
               for _ in range(80)]
    for thread in threads:
        thread.start()
        time.sleep(0.05)
    for thread in threads:
        thread.join()
    held = watch.peak(began, 2) - resting_descriptors
    flood.ask("close")
    flood.end()
    watch.end()
    instance.stop()
    answered = sum(1 for _, status in samples if status == 200)
    failures = [] if answered == len(samples) else [f"{len(samples) - answered} of {len(samples)} GET /config "
                                                       f"not answered within {PLAYER_TIMEOUT} s"]
    return report("1,100 silent connections on a service started with 1,024 descriptors (soft)", [
        ("descriptor limit the service serves with (soft)", limit),
        ("silent connections opened / failed", f"{1100 - failed} / {failed}"),
        ("  held by the service at most (its descriptors)", held),
    ] + latency_rows(samples), failures)


def flood_run(binary, folder, args, plan, title, handshake=False):
    hard = raise_own_limit()
    instance = start_service(binary, folder, args, (hard, hard))
    watch = Watch(instance.process.pid)
    # A player and a scrape first, so their own first allocations are not counted as the flood's.
    h.call(instance.port, "GET", "/config", ca=instance.ca)
    metric(instance, "orvane_connections_open")
    time.sleep(1)
    resting, resting_descriptors = watch.rss(), watch.descriptors()
    stop, (results, theirs) = multiprocessing.Event(), multiprocessing.Pipe()
    playing = multiprocessing.Process(target=player, args=(instance.port, instance.ca, stop, theirs), daemon=True)
    playing.start()
    flood = Flood(instance.port, plan, instance.ca if handshake else None)
    began = time.monotonic()
    failed = flood.ask("open")
    opened_s = time.monotonic() - began
    watch.hold(began)
    open_gauge = metric(instance, "orvane_connections_open")
    held = watch.peak(began, 2) - resting_descriptors
    peak = watch.peak(began)
    flood.ask("close")
    flood.end()
    settle(watch, resting_descriptors)
    after = watch.rss()
    stop.set()
    samples = results.recv()
    playing.join()
    refused = [metric(instance, f'orvane_connections_refused_total{{cap="{cap}"}}')
               for cap in ("max_connections", "max_connections_per_address")]
    handshake_timeouts = metric(instance, "orvane_handshake_timeouts_total")
    watch.end()
    instance.stop()
    total = sum(count for _, count in plan)
    per_connection = (peak - resting) / max(1, held)
    failures = []
    if any(status != 200 for _, status in samples):
        failures.append("a player's GET /config was not answered")
    if after - resting > max(16 * MiB, resting // 4):
        failures.append(f"resident memory stayed {(after - resting) / MiB:.0f} MiB above its resting value")
    return report(title, [
        ("connections opened / failed", f"{total - failed} / {failed} in {opened_s:.1f} s"),
        ("  held by the service at most (its descriptors)", held),
        ("  open by its own gauge once they stopped rising", open_gauge),
        ("  refused: max_connections / per address", f"{refused[0]} / {refused[1]}"),
        ("  handshake timeouts", handshake_timeouts),
        ("resident memory before / peak / after (MiB)",
         f"{resting / MiB:.1f} / {peak / MiB:.1f} / {after / MiB:.1f}"),
        ("  per held connection at the peak (KiB)", f"{per_connection / 1024:.1f}"),
    ] + latency_rows(samples), failures)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("run", choices=["descriptors", "silent", "one-address", "idle-tls"])
    parser.add_argument("-n", "--connections", type=int)
    parser.add_argument("--set", action="append", default=[], metavar="KEY=VALUE")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    with tempfile.TemporaryDirectory(prefix="orvane-attack.") as folder:
        if args.run == "descriptors":
            return descriptors_run(binary, folder, args)
        if args.run == "silent":
            n = min(args.connections or 18000, MAX_CONNECTIONS)
            return flood_run(binary, folder, args, addresses(n, PER_ADDRESS, 20),
                             f"{n:,} silent connections from {PER_ADDRESS} per address")
        if args.run == "one-address":
            n = min(args.connections or 18000, 28000)  # the ephemeral ports of one source address
            return flood_run(binary, folder, args, [("127.0.9.1", n)], f"{n:,} silent connections from one address")
        n = min(args.connections or 2000, MAX_CONNECTIONS)
        return flood_run(binary, folder, args, addresses(n, 50, 30),
                         f"{n:,} connections through the TLS handshake, then silent, 50 per address", handshake=True)


if __name__ == "__main__":
    sys.exit(main())
