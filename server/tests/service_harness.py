"""Real orvane-link-service processes for the multi-instance test, the edge's tests, the fault and attack
runs and the game server's addon: each instance on a loopback port of its own, on plain HTTP (as behind a
reverse proxy) or over TLS with a throwaway certificate, a round-robin TCP front before them, calls over
either, its admin commands, a scrape of the metrics, and the fake Steam and Discord (fake_providers.py,
under with-fake-providers.sh) for links.
"""
import http.client
import json
import os
import random
import resource
import socket
import ssl
import subprocess
import threading
import time
import urllib.parse
import urllib.request

BASE = "/orvane-launcher/v1/9e3f51d0"
PUBLIC_HOST = "link.example.org"
# Ports of the instances that terminate TLS, and the context that trusts each one's certificate.
_tls_ports = {}


def free_port():
    """A free port below the ephemeral range: a client waiting for the service to listen on one of those
    could be given the same port as its own and connect to itself, keeping the service from binding it."""
    with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
        lowest_ephemeral = int(f.read().split()[0])
    for _ in range(1000):
        port = random.randrange(max(1025, lowest_ephemeral - 12000), lowest_ephemeral)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise RuntimeError("no free port below the ephemeral range")


def make_certificate(folder, name="service", key="ec"):
    """(certificate, key) files of a self-signed certificate for localhost and 127.0.0.1; key "ec" (P-256)
    or "rsa" (2048 bits)."""
    certificate, private_key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"] if key == "ec" else ["-newkey", "rsa:2048"]
    subprocess.run(["openssl", "req", "-x509", *new_key, "-nodes", "-days", "1", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", private_key,
                    "-out", certificate], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return certificate, private_key


class Instance:
    """One service process on `database` (a SQLite path or a postgresql:// string). settings: lines to
    add or replace in its configuration, a value of None leaving that line out (discord_client_id=None
    turns Discord off); tls: (certificate, private key), or with a third member the CA file that signed
    it, to serve TLS; metrics: a metrics port of its own; descriptors: (soft, hard) limit to start it
    with. Its standard output (the log) is `out`, its standard error `err`."""

    def __init__(self, binary, folder, database, name, sessions_per_minute=100000, settings=None, tls=None,
                 metrics=False, descriptors=None, extra=""):
        self.binary, self.folder, self.name = binary, folder, name
        self.port = free_port()
        self.config = os.path.join(folder, name + ".conf")
        self.out = os.path.join(folder, name + ".out")
        self.err = os.path.join(folder, name + ".err")
        self.ca = (tls[2] if len(tls) > 2 else tls[0]) if tls else None
        self.metrics_port = free_port() if metrics else None
        self.descriptors = descriptors
        lines = {
            "public_host": PUBLIC_HOST,
            "listen": f"127.0.0.1:{self.port}",
            "trusted_proxy": "127.0.0.1",
            "database": database,
            "server_address": "play.example.org:27015",
            "community_url": "https://example.org/comunidad",
            "require_linking": "true",
            "discord_client_id": os.environ.get("ORVANE_DISCORD_CLIENT_ID", "1100000000000000001"),
            "discord_client_secret": os.environ.get("ORVANE_DISCORD_CLIENT_SECRET", "not-used"),
            "sessions_per_minute": sessions_per_minute,
            # The tests drive many links from one address; the per-address bounds have tests of their own.
            "links_per_minute": 100000,
            "callbacks_per_minute": 100000,
            "threads": 2,
        }
        if tls:
            lines["tls_certificate"], lines["tls_private_key"] = tls[0], tls[1]
            _tls_ports[self.port] = ssl.create_default_context(cafile=self.ca)
        if metrics:
            lines["metrics_listen"] = f"127.0.0.1:{self.metrics_port}"
        lines.update(settings or {})
        with open(self.config, "w") as f:
            f.writelines(f"{key} = {value}\n" for key, value in lines.items() if value is not None)
            f.write(extra)
        self.scheme = "https" if tls else "http"
        self.process = None

    def start(self, wait=True):
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, self.descriptors)) if self.descriptors else None
        with open(self.out, "ab") as out, open(self.err, "ab") as err:
            self.process = subprocess.Popen([self.binary, "--config", self.config], stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=err, preexec_fn=limit)
        if wait:
            self.wait_ready()
        return self

    def wait_ready(self, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"{self.name} ended with {self.process.returncode}: {self.log()}")
            try:
                if call(self.port, "GET", "/config", timeout=2, ca=self.ca)[0] == 200:
                    return
            except OSError:
                pass
            time.sleep(0.05)
        raise RuntimeError(f"{self.name} did not answer: {self.log()}")

    def log(self):
        text = ""
        for path in (self.out, self.err):
            with open(path, errors="replace") as f:
                text += f.read()[-2000:]
        return text

    def log_lines(self):
        """Every line of the log, each read as JSON (a line that is not raises)."""
        with open(self.out, errors="replace") as f:
            return [json.loads(line) for line in f]

    def command(self, *args):
        """An admin command (players …, gameserver-keys …) on this configuration: its stdout."""
        done = subprocess.run([self.binary, "--config", self.config, *args], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(args[:2])} exited {done.returncode}: {done.stderr}")
        return done.stdout

    def url(self):
        """The base address a client of this instance uses."""
        return f"{self.scheme}://127.0.0.1:{self.port}{BASE}"

    def scrape(self):
        """The metrics as {name{labels}: value}."""
        with urllib.request.urlopen(f"http://127.0.0.1:{self.metrics_port}/metrics", timeout=10) as answer:
            text = answer.read().decode()
        return {line.rsplit(" ", 1)[0]: float(line.rsplit(" ", 1)[1])
                for line in text.splitlines() if line and not line.startswith("#")}

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.kill()


def call(port, method, path, token=None, timeout=10, query="", source="127.0.0.1", body=None, ca=None):
    """(status, headers, body) of one request over a new connection from the loopback address source; over
    TLS trusting only the certificate ca when it is given."""
    context = ssl.create_default_context(cafile=ca) if ca else _tls_ports.get(port)
    if context:
        connection = http.client.HTTPSConnection("127.0.0.1", port, timeout=timeout, source_address=(source, 0),
                                                 context=context)
    else:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout, source_address=(source, 0))
    try:
        headers = {"Host": PUBLIC_HOST}
        if token:
            headers["Authorization"] = "Bearer " + token
        if body is not None:
            headers["Content-Type"] = "application/x-www-form-urlencoded"
        elif method == "POST":
            body = "{}"
            headers["Content-Type"] = "application/json"
        connection.request(method, BASE + path + (("?" + query) if query else ""), body=body, headers=headers)
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def new_session(port, source="127.0.0.1"):
    status, _, body = call(port, "POST", "/sessions", source=source)
    if status != 201:
        raise RuntimeError(f"POST /sessions answered {status}")
    return json.loads(body)["token"]


def session_status(port, token):
    status, _, body = call(port, "GET", "/session", token)
    return status, (json.loads(body) if status == 200 else None)


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


def _provider_redirect(url, provider):
    """Opens the provider's authorisation page at the fake: the path?query it sends the browser back to."""
    context = ssl.create_default_context(cafile=os.environ["ORVANE_PROVIDERS_CA"])
    opener = urllib.request.build_opener(urllib.request.HTTPSHandler(context=context), _NoRedirect)
    try:
        opener.open(url, timeout=10)
        raise RuntimeError("the fake provider did not redirect")
    except urllib.error.HTTPError as redirect:
        location = redirect.headers["Location"]
    parsed = urllib.parse.urlsplit(location)
    if parsed.hostname != PUBLIC_HOST or not parsed.path.startswith(BASE + "/callback/" + provider):
        raise RuntimeError("unexpected return address " + parsed.path)
    return parsed.query


def providers_control(path, document):
    """POST a document to the fake providers' control port."""
    request = urllib.request.Request(f"http://{os.environ['ORVANE_PROVIDERS_CONTROL']}{path}",
                                     data=json.dumps(document).encode(),
                                     headers={"Content-Type": "application/json"})
    urllib.request.urlopen(request, timeout=10).read()


def provider_callback(port, token, provider, account, source="127.0.0.1"):
    """POST /link/<provider> on port from source, then sign in at the fake provider as account (a SteamID64
    for Steam, a user document for Discord): the query of the callback the provider sends the browser to."""
    status, _, body = call(port, "POST", "/link/" + provider, token, source=source)
    if status != 200:
        raise RuntimeError(f"POST /link/{provider} answered {status}")
    providers_control("/" + provider, {"steamid": account} if provider == "steam" else {"user": account})
    return _provider_redirect(json.loads(body)["url"], provider)


def steam_callback(port, token, steamid):
    """POST /link/steam on port, then sign in at the fake Steam as steamid: the callback's path?query."""
    return provider_callback(port, token, "steam", steamid)


def link_discord(port, token, user):
    """Links the fake Discord's `user` ({"id", "username"}) to the session: the callback's status and page."""
    return complete(port, provider_callback(port, token, "discord", user), "discord")


def complete(port, query, provider="steam", source="127.0.0.1"):
    status, _, body = call(port, "GET", "/callback/" + provider, query=query, source=source)
    return status, body.decode("utf-8", "replace")


class RoundRobinFront:
    """One loopback address before several instances: each new connection goes to the next one."""

    def __init__(self, ports):
        self.ports = list(ports)
        self.turn = 0
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                port = self.ports[self.turn % len(self.ports)]
                self.turn += 1
            threading.Thread(target=self._forward, args=(client, port), daemon=True).start()

    @staticmethod
    def _pipe(source, target):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                target.sendall(data)
        except OSError:
            pass
        finally:
            try:
                target.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    def _forward(self, client, port):
        try:
            backend = socket.create_connection(("127.0.0.1", port), timeout=10)
        except OSError:
            client.close()
            return
        back = threading.Thread(target=self._pipe, args=(backend, client), daemon=True)
        back.start()
        self._pipe(client, backend)
        back.join()
        client.close()
        backend.close()

    def close(self):
        self.listener.close()
