"""Real orvane-link-service processes for the multi-instance test, the fault runs and the game server's
addon: each instance on a loopback port of its own, on plain HTTP (as behind a reverse proxy) or
terminating TLS itself, a round-robin TCP front before them, its admin commands, and the fake Steam and
Discord (fake_providers.py, under with-fake-providers.sh) for links.
"""
import http.client
import json
import os
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
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Instance:
    """One service process on `database` (a SQLite path or a postgresql:// string). settings: lines to
    add or replace in its configuration, a value of None leaving that line out (discord_client_id=None
    turns Discord off); tls: (certificate, private key, CA file) to serve HTTPS instead of plain HTTP."""

    def __init__(self, binary, folder, database, name, sessions_per_minute=100000, settings=None, tls=None):
        self.binary, self.folder, self.name = binary, folder, name
        self.port = free_port()
        self.config = os.path.join(folder, name + ".conf")
        self.out = os.path.join(folder, name + ".out")
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
            _tls_ports[self.port] = ssl.create_default_context(cafile=tls[2])
        lines.update(settings or {})
        with open(self.config, "w") as f:
            f.writelines(f"{key} = {value}\n" for key, value in lines.items() if value is not None)
        self.scheme = "https" if tls else "http"
        self.process = None

    def start(self, wait=True):
        with open(self.out, "ab") as out:
            self.process = subprocess.Popen([self.binary, "--config", self.config], stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=subprocess.STDOUT)
        if wait:
            self.wait_ready()
        return self

    def wait_ready(self, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"{self.name} ended with {self.process.returncode}: {self.log()}")
            try:
                if call(self.port, "GET", "/config", timeout=2)[0] == 200:
                    return
            except OSError:
                pass
            time.sleep(0.05)
        raise RuntimeError(f"{self.name} did not answer: {self.log()}")

    def log(self):
        with open(self.out, errors="replace") as f:
            return f.read()[-2000:]

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


def call(port, method, path, token=None, timeout=10, query="", source="127.0.0.1", body=None):
    """(status, headers, body) of one request over a new connection from the loopback address source; a
    body is sent as a form, a POST without one as the launcher's "{}"."""
    if port in _tls_ports:
        connection = http.client.HTTPSConnection("127.0.0.1", port, timeout=timeout, context=_tls_ports[port],
                                                 source_address=(source, 0))
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
