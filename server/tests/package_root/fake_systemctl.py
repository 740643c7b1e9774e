#!/usr/bin/env python3
"""systemctl for the throwaway root, where no systemd runs: start, stop, restart, reload, enable --now,
try-reload-or-restart, is-active and daemon-reload of the package's own units, read from the files the
package installed (User=, Environment=, EnvironmentFile=, StateDirectory=, UMask=, ExecStartPre=,
ExecStart=, ExecReload=). A unit's output goes to /var/log/fake-journal/UNIT.log; every call is written to
/run/fake-systemd/calls, so a test can tell what the package's scripts asked for."""
import fnmatch
import os
import pwd
import shlex
import signal
import subprocess
import sys
import time

UNITS = "/lib/systemd/system"
STATE = "/run/fake-systemd"
LOGS = "/var/log/fake-journal"


def full_name(name):
    return name if name.endswith(".service") else name + ".service"


def read_unit(name):
    base, instance = name[: -len(".service")], ""
    path = f"{UNITS}/{name}"
    if "@" in base:
        prefix, instance = base.split("@", 1)
        path = f"{UNITS}/{prefix}@.service"
    unit = {"Environment": [], "EnvironmentFile": []}
    section = None
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                section = line
            elif section == "[Service]" and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                value = value.replace("%i", instance)
                if key in ("Environment", "EnvironmentFile"):
                    unit[key].append(value)
                else:
                    unit[key] = value
    return unit


def environment(unit):
    env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8"}
    for assignment in unit["Environment"]:
        for word in shlex.split(assignment):
            key, value = word.split("=", 1)
            env[key] = value
    for path in unit["EnvironmentFile"]:
        optional = path.startswith("-")
        path = path.lstrip("-")
        if not os.path.exists(path) and optional:
            continue
        with open(path) as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#") and "=" in line:
                    key, value = line.split("=", 1)
                    env[key] = value
    return env


def as_user(unit):
    user = pwd.getpwnam(unit["User"])
    umask = int(unit.get("UMask", "0022"), 8)

    def become():
        os.setsid()
        os.initgroups(user.pw_name, user.pw_gid)
        os.setgid(user.pw_gid)
        os.setuid(user.pw_uid)
        os.umask(umask)

    return user, become


def pid_of(name):
    try:
        pid = int(open(f"{STATE}/{name}.pid").read())
        with open(f"/proc/{pid}/stat") as f:
            if f.read().split(")")[-1].split()[0] != "Z":
                return pid
    except (OSError, ValueError):
        pass
    return None


def start(name):
    if pid_of(name):
        return 0
    unit = read_unit(name)
    user, become = as_user(unit)
    if "StateDirectory" in unit:
        folder = "/var/lib/" + unit["StateDirectory"]
        os.makedirs(folder, exist_ok=True)
        os.chown(folder, user.pw_uid, user.pw_gid)
        os.chmod(folder, int(unit.get("StateDirectoryMode", "0755"), 8))
    env = environment(unit)
    os.makedirs(LOGS, exist_ok=True)
    log_path = f"{LOGS}/{name}.log"
    with open(log_path, "ab") as log:
        if "ExecStartPre" in unit:
            checked = subprocess.run(shlex.split(unit["ExecStartPre"]), env=env, preexec_fn=become,
                                     stdout=log, stderr=log)
            if checked.returncode != 0:
                print(f"fake systemctl: {name}: ExecStartPre failed (see {log_path})", file=sys.stderr)
                return 1
        offset = log.tell()
        process = subprocess.Popen(shlex.split(unit["ExecStart"]), env=env, preexec_fn=become,
                                   stdout=log, stderr=log)
    with open(f"{STATE}/{name}.pid", "w") as f:
        f.write(str(process.pid))
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(log_path, "rb") as f:
            f.seek(offset)
            # The service's JSON start-up line once it listens.
            if b'"event":"serving"' in f.read():
                return 0
        if process.poll() is not None:
            print(f"fake systemctl: {name} exited with {process.returncode} (see {log_path})", file=sys.stderr)
            return 1
        time.sleep(0.05)
    print(f"fake systemctl: {name} did not start within 30 s", file=sys.stderr)
    return 1


def stop(name):
    pid = pid_of(name)
    if not pid:
        return 0
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 25
    while pid_of(name) and time.monotonic() < deadline:
        try:
            os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            pass
        time.sleep(0.05)
    if pid_of(name):
        os.kill(pid, signal.SIGKILL)
        return 1
    return 0


def reload(name):
    pid = pid_of(name)
    if not pid:
        print(f"fake systemctl: {name} is not active, cannot reload", file=sys.stderr)
        return 1
    command = read_unit(name)["ExecReload"].replace("$MAINPID", str(pid))
    return subprocess.run(shlex.split(command)).returncode


def running():
    return [f[: -len(".pid")] for f in os.listdir(STATE) if f.endswith(".pid") and pid_of(f[: -len(".pid")])]


def main(argv):
    os.makedirs(STATE, exist_ok=True)
    with open(f"{STATE}/calls", "a") as f:
        f.write(" ".join(argv) + "\n")
    words = [a for a in argv if not a.startswith("-")]
    if not words:
        return 1
    verb, names = words[0], [full_name(n) for n in words[1:]]
    if verb in ("daemon-reload", "enable") and "--now" not in argv:
        return 0
    if verb == "is-active":
        return 0 if names and all(pid_of(n) for n in names) else 3
    status = 0
    for pattern in names:
        # A pattern names the units running, as systemctl's does the units loaded.
        matched = [n for n in running() if fnmatch.fnmatch(n, pattern)] if "*" in pattern else [pattern]
        for name in matched:
            if verb in ("start", "enable"):
                status |= start(name)
            elif verb == "stop":
                status |= stop(name)
            elif verb == "restart":
                status |= stop(name) or start(name)
            elif verb == "reload":
                status |= reload(name)
            elif verb == "try-reload-or-restart":
                status |= reload(name) if pid_of(name) else 0
            else:
                print(f"fake systemctl: {verb} is not known here", file=sys.stderr)
                return 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
