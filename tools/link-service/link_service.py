#!/usr/bin/env python3
"""The community's link service, small enough to run beside the launcher: the test double of every
link test and the demo service. Python 3 standard library only.

  link_service.py serve --cert PEM --key PEM [options]     run the service (HTTPS) and its control port
  link_service.py link steam|discord [--session T] ...     the player accepts in the browser
  link_service.py answer METHOD PATH [--status N] ...      make an endpoint answer something chosen
  link_service.py reset | log | state | tls trusted|untrusted | config KEY=JSON ... | expire

The commands other than serve talk to the control port given by --control, or by ORVANE_LINK_CONTROL
(host:port), or 127.0.0.1:8471. Run any command with --help for its options.
"""
import argparse
import base64
import datetime
import errno
import hashlib
import http.server
import ipaddress
import json
import re
import os
import random
import secrets
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
import urllib.request

BASE_PATH = "/orvane-launcher/v1/9e3f51d0"
STEAM_LOGIN = "https://steamcommunity.com/openid/login"
DISCORD_AUTHORIZE = "https://discord.com/oauth2/authorize"
DISCORD_CLIENT_ID = "1290431147662499840"
OPENID_NS = "http://specs.openid.net/auth/2.0"
MAX_REQUEST_BODY = 4096
MAX_SESSIONS = 10000
SESSION_DAYS = 30
MAX_LOG_EVENTS = 20000
DEFAULT_CONTROL = "127.0.0.1:8471"
TOKEN_LENGTH = 43
TOKEN_RUN = re.compile(r"[A-Za-z0-9_-]{%d,}" % TOKEN_LENGTH)
FINGERPRINT = re.compile(r"sha256:[0-9a-f]{16}")

DEFAULT_CONFIG = {
    "server_address": "127.0.0.1:27015",
    "community_url": "https://orvanegaming.com/comunidad",
    "require_linking": True,
    "discord_enabled": True,
    "news": [
        {
            "id": 3,
            "title": "Temporada 3: ¡ya disponible!",
            "body": "Nuevas facciones, mapa renovado y eventos cada fin de semana.\nNos vemos en el servidor.",
            "published_at": "2026-10-08T17:00:00Z",
        },
        {
            "id": 2,
            "title": "Mantenimiento programado",
            "body": "El servidor se reinicia el martes a las 06:00.",
            "published_at": "2026-10-01T09:30:00+02:00",
        },
    ],
}


def timestamp(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def now_utc():
    return datetime.datetime.now(datetime.timezone.utc)


def random_digits(count, first_nonzero=True):
    digits = [str(random.randint(1 if first_nonzero else 0, 9))]
    digits += [str(random.randint(0, 9)) for _ in range(count - 1)]
    return "".join(digits)


def json_bytes(document):
    return json.dumps(document, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def fingerprint(token):
    """What the log and the state answer show in place of a bearer token: enough to tell sessions
    apart and to match a token one holds, never the token itself. A fingerprint stays as it is, so
    hiding twice changes nothing."""
    if FINGERPRINT.fullmatch(token):
        return token
    return "sha256:" + hashlib.sha256(token.encode("utf-8", "surrogateescape")).hexdigest()[:16]


def is_loopback(host):
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return host == "localhost"


def padded_document(size):
    """A JSON object of exactly `size` bytes (at least 10)."""
    if size < 10:
        return b"x" * size
    return b'{"pad":"' + b"a" * (size - 10) + b'"}'


class ServiceState:
    """Sessions, link state, the request log and the chosen answers; one lock guards all of it."""

    def __init__(self, public_host, contexts, log_path, discord_enabled):
        self.lock = threading.RLock()  # the control replies hide tokens under it too
        self.public_host = public_host
        self.contexts = contexts
        self.certificate = "trusted"
        self.keep_alive = False  # answers say "Connection: close" unless the control port says otherwise
        self.config = json.loads(json.dumps(DEFAULT_CONFIG))
        self.config["discord_enabled"] = discord_enabled
        self.sessions = {}
        self.pending = []  # (provider, state, token), newest last
        self.answers = []
        self.events = []
        self.next_seq = 1
        self.known_tokens = {}  # every token issued or presented, to be found and hidden anywhere
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None
        self.token_file = None

    # --- tokens never leave in clear ---------------------------------------------------------------
    def remember_token(self, token):
        """Called with the lock held."""
        if len(token) == TOKEN_LENGTH and token not in self.known_tokens:
            self.known_tokens[token] = fingerprint(token)
            while len(self.known_tokens) > 2 * MAX_SESSIONS:
                del self.known_tokens[next(iter(self.known_tokens))]
            if self.token_file:
                self.token_file.write(token + "\n")
                self.token_file.flush()

    def tokens_in(self, text):
        """Called with the lock held: the known tokens inside text."""
        found = []
        for run in TOKEN_RUN.finditer(text):
            word = run.group(0)
            found += [word[i:i + TOKEN_LENGTH] for i in range(len(word) - TOKEN_LENGTH + 1)
                      if word[i:i + TOKEN_LENGTH] in self.known_tokens]
        return found

    def hide_tokens(self, value):
        """Called with the lock held: value (a JSON-like structure) with every known token, every
        "token" member and every bearer credential replaced by its fingerprint."""
        if isinstance(value, str):
            if value.startswith("Bearer "):
                return "Bearer " + fingerprint(value[len("Bearer "):])
            for token in self.tokens_in(value):
                value = value.replace(token, self.known_tokens[token])
            if value.startswith("{") and '"token"' in value:
                try:
                    document = json.loads(value)
                except ValueError:
                    return value
                if isinstance(document, dict) and "token" in document:
                    return json.dumps(self.hide_tokens(document), ensure_ascii=False, separators=(",", ":"))
            return value
        if isinstance(value, dict):
            if isinstance(value.get("token"), str) and not FINGERPRINT.fullmatch(value["token"]):
                self.remember_token(value["token"])
            return {k: (fingerprint(v) if k == "token" and isinstance(v, str) else self.hide_tokens(v))
                    for k, v in value.items()}
        if isinstance(value, (list, tuple)):
            return [self.hide_tokens(v) for v in value]
        return value

    # --- log -------------------------------------------------------------------------------------
    def record(self, event):
        with self.lock:
            if event.get("event") == "request":
                # Where a token travelled besides the Authorization header, said before it is hidden.
                for name, value in event["headers"]:
                    if name.lower() == "authorization" and value.startswith("Bearer "):
                        self.remember_token(value[len("Bearer "):])
                elsewhere = [event["target"], event["body"]] + [
                    v for k, v in event["headers"] if k.lower() != "authorization"]
                event["tokens_elsewhere"] = sorted({self.known_tokens[t] for text in elsewhere
                                                    for t in self.tokens_in(text)})
            event = self.hide_tokens(event)
            event["seq"] = self.next_seq
            event["time"] = round(time.time(), 3)
            self.next_seq += 1
            self.events.append(event)
            del self.events[:-MAX_LOG_EVENTS]
            if self.log_file:
                self.log_file.write(json.dumps(event, ensure_ascii=False) + "\n")
                self.log_file.flush()
        return event

    def log_since(self, since):
        with self.lock:
            return {"next": self.next_seq, "events": [e for e in self.events if e["seq"] >= since]}

    # --- TLS -------------------------------------------------------------------------------------
    def tls_context(self):
        """The certificate served from now on, by name, and its context."""
        with self.lock:
            return self.certificate, self.contexts[self.certificate]

    # --- chosen answers --------------------------------------------------------------------------
    def take_answer(self, method, path):
        with self.lock:
            for answer in self.answers:
                if answer["method"] in ("*", method) and answer["path"] in ("*", path):
                    if answer.get("times") is not None:
                        answer["times"] -= 1
                        if answer["times"] <= 0:
                            self.answers.remove(answer)
                    return dict(answer)
        return None

    # --- sessions --------------------------------------------------------------------------------
    def create_session(self):
        token = secrets.token_urlsafe(32)
        expires = now_utc() + datetime.timedelta(days=SESSION_DAYS)
        with self.lock:
            while len(self.sessions) >= MAX_SESSIONS:
                oldest = min(self.sessions, key=lambda t: self.sessions[t]["created"])
                del self.sessions[oldest]
            self.sessions[token] = {"created": time.time(), "expires": expires, "steam": None, "discord": None}
            self.remember_token(token)
        return token, timestamp(expires)

    def session_for(self, headers):
        value = headers.get("Authorization", "")
        if not value.startswith("Bearer "):
            return None, None
        token = value[len("Bearer "):]
        with self.lock:
            session = self.sessions.get(token)
            if session is None or session["expires"] <= now_utc():
                return None, None
            return token, session

    def status_document(self, session):
        with self.lock:
            steam, discord = session["steam"], session["discord"]
            if self.config.get("require_linking", True):
                # Discord counts only while the community has it enabled.
                discord_needed = bool(self.config.get("discord_enabled", True))
                ready = steam is not None and (discord is not None or not discord_needed)
            else:
                ready = True
            return {"steam": steam, "discord": discord, "expires_at": timestamp(session["expires"]),
                    "ready": ready}

    def start_link(self, token, provider):
        state = secrets.token_urlsafe(16)
        with self.lock:
            self.pending = [p for p in self.pending if not (p[0] == provider and p[2] == token)]
            self.pending.append((provider, state, token))
            del self.pending[:-MAX_SESSIONS]
        return_to = f"https://{self.public_host}{BASE_PATH}/callback/{provider}?state={state}"
        if provider == "steam":
            query = {
                "openid.ns": OPENID_NS,
                "openid.mode": "checkid_setup",
                "openid.return_to": return_to,
                "openid.realm": f"https://{self.public_host}/",
                "openid.identity": OPENID_NS + "/identifier_select",
                "openid.claimed_id": OPENID_NS + "/identifier_select",
            }
            return STEAM_LOGIN + "?" + urllib.parse.urlencode(query)
        query = {
            "response_type": "code",
            "client_id": DISCORD_CLIENT_ID,
            "scope": "identify",
            "redirect_uri": f"https://{self.public_host}{BASE_PATH}/callback/discord",
            "state": state,
            "prompt": "consent",
        }
        return DISCORD_AUTHORIZE + "?" + urllib.parse.urlencode(query)

    def accept_link(self, provider, token=None, state=None, account_id=None, name=None):
        """What the service does when the player comes back from the provider's page."""
        with self.lock:
            chosen = None
            if token is not None and token.startswith("sha256:"):
                token = next((t for t in self.sessions if fingerprint(t) == token), token)
            for p in reversed(self.pending):
                if p[0] == provider and (token is None or p[2] == token) and (state is None or p[1] == state):
                    chosen = p
                    break
            if chosen is None and token is not None and token in self.sessions:
                chosen = (provider, None, token)
            if chosen is None or chosen[2] not in self.sessions:
                return None
            if chosen in self.pending:
                self.pending.remove(chosen)
            if account_id is None:
                account_id = "7656119" + random_digits(10, False) if provider == "steam" else random_digits(18)
            if name is None:
                name = "Jugador Orvane" if provider == "steam" else "jugador.orvane"
            self.sessions[chosen[2]][provider] = {"id": account_id, "display_name": name}
            return chosen[2]


class ServiceHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvaneLinkService/1.0"
    sys_version = ""
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.handle_call()

    def do_POST(self):
        self.handle_call()

    def do_PUT(self):
        self.handle_call()

    def do_DELETE(self):
        self.handle_call()

    def do_PATCH(self):
        self.handle_call()

    def do_HEAD(self):
        self.handle_call()

    def send_document(self, status, document=None, body=None, content_type="application/json", headers=(),
                      truncate=False, trickle_ms=0, header_lines=0):
        """truncate: the whole length is announced but only half the body is sent before the connection
        closes; trickle_ms: the body goes out one byte at a time, this long apart; header_lines: that
        many filler header lines before the end of the header block."""
        if body is None:
            body = json_bytes(document if document is not None else {})
        with self.server.state.lock:
            keep_alive = self.server.state.keep_alive and not truncate
        self.send_response(status)
        if content_type is not None:
            self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        for i in range(header_lines):
            self.send_header(f"X-Filler-{i}", "x")
        self.send_header("Content-Length", str(len(body)))
        if not keep_alive:
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            sent = body[:len(body) // 2] if truncate else body
            if trickle_ms:
                self.trickle(sent, trickle_ms)
            else:
                self.wfile.write(sent)
        self.close_connection = not keep_alive
        self.server.state.record({"event": "response", "request": self.request_seq, "status": status,
                                  "body": body.decode("utf-8", "backslashreplace")})

    def trickle(self, body, interval_ms):
        for i in range(len(body)):
            try:
                self.wfile.write(body[i:i + 1])
                self.wfile.flush()
            except OSError:
                return  # the client gave up
            time.sleep(interval_ms / 1000.0)

    def error(self, status, code, headers=()):
        self.send_document(status, {"error": code}, headers=headers)

    def handle_call(self):
        state = self.server.state
        length_text = self.headers.get("Content-Length", "0")
        try:
            length = int(length_text)
        except ValueError:
            length = -1
        too_large = length > MAX_REQUEST_BODY
        body = b""
        if 0 < length <= MAX_REQUEST_BODY:
            body = self.rfile.read(length)
        path = self.path.split("?", 1)[0]
        relative = path[len(BASE_PATH):] if path.startswith(BASE_PATH + "/") else None
        event = state.record({
            "event": "request", "client": f"{self.client_address[0]}:{self.client_address[1]}",
            "method": self.command, "target": self.path,
            "path": relative if relative is not None else path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("utf-8", "backslashreplace"),
        })
        self.request_seq = event["seq"]

        answer = state.take_answer(self.command, relative if relative is not None else path)
        if answer is not None:
            return self.chosen_answer(answer, event)
        if length < 0 or "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            return self.error(411, "length_required")
        if too_large:
            return self.error(413, "body_too_large")
        if relative is None or "?" in self.path:
            return self.error(404, "not_found")
        if body:
            try:
                if not isinstance(json.loads(body.decode("utf-8")), dict):
                    raise ValueError
            except ValueError:
                return self.error(400, "body_not_a_json_object")

        routes = {
            ("GET", "/config"): self.get_config,
            ("POST", "/sessions"): self.post_sessions,
            ("GET", "/session"): self.get_session,
            ("POST", "/link/steam"): lambda: self.post_link("steam"),
            ("POST", "/link/discord"): lambda: self.post_link("discord"),
            ("POST", "/logout"): self.post_logout,
        }
        route = routes.get((self.command, relative))
        if route is None:
            allowed = [m for (m, p) in routes if p == relative]
            if allowed:
                return self.error(405, "method_not_allowed", headers=[("Allow", ", ".join(allowed))])
            return self.error(404, "not_found")
        return route()

    def chosen_answer(self, answer, event):
        state = self.server.state
        state.record({"event": "chosen-answer", "request": event["seq"],
                      "answer": {k: v for k, v in answer.items() if k != "body"}})
        if answer.get("delay_ms"):
            time.sleep(answer["delay_ms"] / 1000.0)
        if answer.get("drop"):
            # The connection ends without a byte of answer, as a crashed or cut-off service would.
            self.close_connection = True
            try:
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            except OSError:
                pass
            return
        if "body_size" in answer:
            body = padded_document(int(answer["body_size"]))
        elif "body_base64" in answer:
            body = base64.b64decode(answer["body_base64"])
        else:
            body = str(answer.get("body", "{}")).encode("utf-8")
        self.send_document(int(answer.get("status", 200)), body=body,
                           content_type=answer.get("content_type", "application/json"),
                           headers=[tuple(h) for h in answer.get("headers", [])],
                           truncate=bool(answer.get("truncate")), trickle_ms=int(answer.get("trickle_ms", 0)),
                           header_lines=int(answer.get("header_lines", 0)))

    def get_config(self):
        with self.server.state.lock:
            document = json.loads(json.dumps(self.server.state.config))
        self.send_document(200, document)

    def post_sessions(self):
        token, expires = self.server.state.create_session()
        self.send_document(201, {"token": token, "expires_at": expires})

    def authorised(self):
        token, session = self.server.state.session_for(self.headers)
        if session is None:
            self.error(401, "session_expired_or_unknown", headers=[("WWW-Authenticate", "Bearer")])
        return token, session

    def get_session(self):
        token, session = self.authorised()
        if session is not None:
            self.send_document(200, self.server.state.status_document(session))

    def post_link(self, provider):
        state = self.server.state
        token, session = self.authorised()
        if session is None:
            return
        with state.lock:
            discord_enabled = bool(state.config.get("discord_enabled"))
            steam, discord = session["steam"], session["discord"]
        if provider == "discord" and not discord_enabled:
            return self.error(503, "discord_not_configured")
        if provider == "discord" and steam is None:
            return self.error(400, "steam_not_linked")
        if (steam if provider == "steam" else discord) is not None:
            return self.error(409, "already_linked")
        self.send_document(200, {"url": state.start_link(token, provider)})

    def post_logout(self):
        state = self.server.state
        token, session = self.authorised()
        if session is None:
            return
        with state.lock:
            state.sessions.pop(token, None)
            state.pending = [p for p in state.pending if p[2] != token]
        self.send_document(200, {"ok": True})


class ServiceServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state):
        self.state = state
        super().__init__(address, ServiceHandler)

    def finish_request(self, request, client_address):
        # TLS is set up per connection, so the control port can switch certificates between requests.
        certificate, context = self.state.tls_context()
        self.state.record({"event": "connection", "client": f"{client_address[0]}:{client_address[1]}",
                           "certificate": certificate})
        request.settimeout(30)
        try:
            tls = context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as failure:
            self.state.record({"event": "tls-failed", "reason": str(failure)})
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
            pass
        finally:
            try:
                tls.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        pass


class ControlHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def reply(self, status, document):
        with self.server.state.lock:
            body = json_bytes(self.server.state.hide_tokens(document))
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def do_GET(self):
        state = self.server.state
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/log":
            return self.reply(200, state.log_since(int(query.get("since", ["0"])[0])))
        if url.path == "/state":
            with state.lock:
                sessions = [{"session": fingerprint(t), "steam": s["steam"], "discord": s["discord"],
                             "expires_at": timestamp(s["expires"])} for t, s in state.sessions.items()]
                return self.reply(200, {"sessions": sessions, "config": state.config, "answers": state.answers,
                                        "certificate": state.certificate,
                                        "pending": [{"provider": p[0], "state": p[1]} for p in state.pending]})
        self.reply(404, {"error": "not_found"})

    def do_POST(self):
        state = self.server.state
        length = int(self.headers.get("Content-Length", "0"))
        try:
            request = json.loads(self.rfile.read(length) or b"{}")
        except ValueError:
            return self.reply(400, {"error": "not_json"})
        path = self.path
        if path == "/link":
            if request.get("provider") not in ("steam", "discord"):
                return self.reply(400, {"error": "provider must be steam or discord"})
            token = state.accept_link(request["provider"], request.get("session"), request.get("state"),
                                      request.get("id"), request.get("display_name"))
            if token is None:
                return self.reply(409, {"error": "no session awaits this link"})
            return self.reply(200, {"session": fingerprint(token)})
        if path == "/answer":
            answer = dict(request)
            answer.setdefault("method", "*")
            answer.setdefault("path", "*")
            with state.lock:
                state.answers.insert(0, answer)
            return self.reply(200, {"answers": len(state.answers)})
        if path == "/reset":
            with state.lock:
                state.answers.clear()
                state.certificate = "trusted"
                state.keep_alive = False
                if request.get("all"):
                    state.sessions.clear()
                    state.pending.clear()
                    state.config = json.loads(json.dumps(DEFAULT_CONFIG))
            return self.reply(200, {"ok": True})
        if path == "/config":
            with state.lock:
                state.config.update(request)
                return self.reply(200, state.config)
        if path == "/connections":
            with state.lock:
                state.keep_alive = bool(request.get("keep_alive"))
            return self.reply(200, {"keep_alive": state.keep_alive})
        if path == "/tls":
            if request.get("certificate") not in state.contexts:
                return self.reply(400, {"error": "certificate must be one of " + ", ".join(state.contexts)})
            with state.lock:
                state.certificate = request["certificate"]
            return self.reply(200, {"certificate": request["certificate"]})
        if path == "/expire":
            expired = now_utc() - datetime.timedelta(seconds=1)
            with state.lock:
                for token, session in state.sessions.items():
                    if request.get("session") in (None, token, fingerprint(token)):
                        session["expires"] = expired
            return self.reply(200, {"ok": True})
        self.reply(404, {"error": "not_found"})


class ControlServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state):
        self.state = state
        super().__init__(address, ControlHandler)


def split_address(text, default_port):
    host, _, port = text.rpartition(":")
    if not host:
        return text, default_port
    return host, int(port)


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


def bind_service(listen, state, server_class=None):
    """Binds the HTTPS port; "auto" picks a free loopback address in 127.0.0.0/8 for port 443, so two
    test runs never fight over 127.0.0.1:443. server_class (default ServiceServer) takes (address, state)."""
    server_class = server_class or ServiceServer
    if listen != "auto":
        return server_class(split_address(listen, 443), state)
    rng = random.Random(os.getpid() ^ int(time.time() * 1000))
    for _ in range(200):
        address = f"127.{rng.randint(1, 254)}.{rng.randint(0, 255)}.{rng.randint(1, 254)}"
        try:
            return server_class((address, 443), state)
        except OSError as failure:
            if failure.errno not in (errno.EADDRINUSE, errno.EADDRNOTAVAIL):
                raise
    raise OSError("no free loopback address for port 443")


def serve(args):
    service_host = "127.0.0.1" if args.listen == "auto" else split_address(args.listen, 443)[0]
    if not is_loopback(service_host) and not args.allow_non_loopback:
        print(f"link_service: refusing to serve on {service_host}, which is not a loopback address: this is "
              "a test double that links any account on request; pass --allow-non-loopback to do it anyway",
              file=sys.stderr)
        return 2
    # The control port links accounts and changes answers at will: loopback only, always.
    if args.control and not is_loopback(split_address(args.control, 8471)[0]):
        print(f"link_service: the control port must listen on a loopback address, not {args.control}",
              file=sys.stderr)
        return 2
    contexts = {"trusted": tls_context(args.cert, args.key)}
    if args.untrusted_cert:
        contexts["untrusted"] = tls_context(args.untrusted_cert, args.untrusted_key)
    state = ServiceState(args.public_host, contexts, args.log, not args.no_discord)
    service = bind_service(args.listen, state)
    service_host = service.server_address[0]
    default_control = f"{service_host}:8471" if is_loopback(service_host) else DEFAULT_CONTROL
    control_host, control_port = split_address(args.control or default_control, 8471)
    if args.token_file:
        descriptor = os.open(args.token_file, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
        state.token_file = os.fdopen(descriptor, "a", encoding="utf-8")
    control = ControlServer((control_host, control_port), state)
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in (service, control)]
    for thread in threads:
        thread.start()
    ready = {"listen": f"{service_host}:{service.server_address[1]}",
             "control": f"{control.server_address[0]}:{control.server_address[1]}",
             "public_host": args.public_host, "pid": os.getpid()}
    write_ready_file(args.ready_file, ready)
    print(f"link service on https://{args.public_host}{BASE_PATH} at {ready['listen']}, "
          f"control at http://{ready['control']}", flush=True)
    serve_until_stopped((service, control), args.exit_with_parent)
    return 0


def write_ready_file(path, ready):
    """Written whole or not at all, so a waiting script never reads half of it."""
    if path:
        with open(path + ".part", "w") as f:
            json.dump(ready, f)
        os.replace(path + ".part", path)


def serve_until_stopped(servers, exit_with_parent):
    """Until SIGTERM or SIGINT, or the starting process going away when exit_with_parent."""
    stop = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stop.set())
    parent = os.getppid()
    while not stop.wait(0.5):
        if exit_with_parent and os.getppid() != parent:
            break
    for server in servers:
        server.shutdown()


def control_call(args, method, path, document=None):
    address = args.control or os.environ.get("ORVANE_LINK_CONTROL") or DEFAULT_CONTROL
    data = json_bytes(document) if document is not None else None
    request = urllib.request.Request(f"http://{address}{path}", data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    # Straight to the loopback control port, whatever proxy the environment names.
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    try:
        with opener.open(request, timeout=10) as response:
            print(response.read().decode("utf-8"))
            return 0
    except urllib.error.HTTPError as failure:
        print(failure.read().decode("utf-8"), file=sys.stderr)
        return 1


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--control", help="control address host:port (default ORVANE_LINK_CONTROL or %s)"
                        % DEFAULT_CONTROL)
    commands = parser.add_subparsers(dest="command", required=True)

    p = commands.add_parser("serve", help="run the service")
    p.add_argument("--cert", required=True, help="server certificate chain (PEM)")
    p.add_argument("--key", required=True, help="server private key (PEM)")
    p.add_argument("--untrusted-cert", help="a second certificate the control port can switch to")
    p.add_argument("--untrusted-key")
    p.add_argument("--listen", default="127.0.0.1:443",
                   help="HTTPS address (default 127.0.0.1:443; 'auto' picks a free 127.x.y.z:443)")
    p.add_argument("--public-host", default="link.orvanegaming.com",
                   help="the host name the launcher uses, for the callback URLs")
    p.add_argument("--ready-file", help="written with the addresses once both ports listen")
    p.add_argument("--log", help="append every event as one JSON line to this file")
    p.add_argument("--no-discord", action="store_true", help="start with Discord not configured")
    p.add_argument("--exit-with-parent", action="store_true",
                   help="stop when the process that started the service goes away")
    p.add_argument("--allow-non-loopback", action="store_true",
                   help="serve on an address other than loopback (never needed by the tests or the demo)")
    p.add_argument("--token-file", help="tests only: append every token issued or presented to this file "
                   "(created with mode 600); the log and the state answer show only fingerprints")

    p = commands.add_parser("link", help="mark an account linked, as accepting in the browser would")
    p.add_argument("provider", choices=["steam", "discord"])
    p.add_argument("--session", help="session token (default: the session that asked most recently)")
    p.add_argument("--state", help="the state of the authorisation URL")
    p.add_argument("--id", help="account id (default: a random 17-digit Steam or 18-digit Discord id)")
    p.add_argument("--name", help="display name")

    p = commands.add_parser("answer", help="make an endpoint answer something chosen")
    p.add_argument("method", help="GET, POST ... or * for any")
    p.add_argument("path", help="path below the base path (/config, /link/steam ...) or * for any")
    p.add_argument("--status", type=int, default=200)
    p.add_argument("--content-type", default="application/json")
    p.add_argument("--no-content-type", action="store_true", help="send no Content-Type header")
    p.add_argument("--body", help="body text")
    p.add_argument("--body-size", type=int, help="a JSON object of exactly this many bytes")
    p.add_argument("--header", action="append", default=[], help="extra header Name:Value")
    p.add_argument("--delay-ms", type=int, default=0, help="wait before answering")
    p.add_argument("--drop", action="store_true", help="close the connection without answering")
    p.add_argument("--truncate", action="store_true", help="announce the whole body, send half of it, close")
    p.add_argument("--trickle-ms", type=int, default=0, help="send the body a byte at a time, this far apart")
    p.add_argument("--header-lines", type=int, default=0, help="that many filler header lines")
    p.add_argument("--times", type=int, help="only for the next N requests")

    commands.add_parser("reset", help="forget chosen answers and use the trusted certificate again")
    p = commands.add_parser("log", help="print the request log")
    p.add_argument("--since", type=int, default=0)
    commands.add_parser("state", help="print sessions, configuration and chosen answers")
    p = commands.add_parser("connections", help="keep connections open between answers, or close each")
    p.add_argument("mode", choices=["keep-alive", "close"])
    p = commands.add_parser("tls", help="choose the certificate served from the next connection on")
    p.add_argument("certificate", choices=["trusted", "untrusted"])
    p = commands.add_parser("config", help="change members of the configuration document")
    p.add_argument("members", nargs="+", help="KEY=JSON, for example discord_enabled=false")
    p = commands.add_parser("expire", help="expire one session or all (the next call gets 401)")
    p.add_argument("--session")

    args = parser.parse_args(argv)
    if args.command == "serve":
        return serve(args)
    if args.command == "link":
        return control_call(args, "POST", "/link", {"provider": args.provider, "session": args.session,
                                                    "state": args.state, "id": args.id,
                                                    "display_name": args.name})
    if args.command == "answer":
        answer = {"method": args.method, "path": args.path, "status": args.status,
                  "content_type": None if args.no_content_type else args.content_type,
                  "headers": [h.split(":", 1) for h in args.header], "delay_ms": args.delay_ms,
                  "drop": args.drop, "truncate": args.truncate, "trickle_ms": args.trickle_ms,
                  "header_lines": args.header_lines,
                  "times": args.times}
        if args.body is not None:
            answer["body"] = args.body
        if args.body_size is not None:
            answer["body_size"] = args.body_size
        return control_call(args, "POST", "/answer", answer)
    if args.command == "reset":
        return control_call(args, "POST", "/reset", {})
    if args.command == "log":
        return control_call(args, "GET", f"/log?since={args.since}")
    if args.command == "state":
        return control_call(args, "GET", "/state")
    if args.command == "connections":
        return control_call(args, "POST", "/connections", {"keep_alive": args.mode == "keep-alive"})
    if args.command == "tls":
        return control_call(args, "POST", "/tls", {"certificate": args.certificate})
    if args.command == "config":
        members = {}
        for item in args.members:
            key, _, value = item.partition("=")
            members[key] = json.loads(value)
        return control_call(args, "POST", "/config", members)
    if args.command == "expire":
        return control_call(args, "POST", "/expire", {"session": args.session})
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
