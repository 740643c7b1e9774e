#!/usr/bin/env python3
"""Fake Steam OpenID 2.0 provider and fake Discord OAuth2 provider for tests and the demo.

One HTTPS port serves both, told apart by the Host header, so the programs under test reach them under
the providers' real names (steamcommunity.com, discord.com) through a hosts mapping and a test CA.
A plain-HTTP control port on loopback sets the next accounts and modes and reads what was received.

Steam (steamcommunity.com):
  GET  /openid/login  checkid_setup: 302 to return_to with a signed id_res assertion for the current
                      SteamID64 (as a browser would follow it).
  POST /openid/login  check_authentication: "is_valid:true" only for an assertion this process issued,
                      unmodified (mode "verify", the default); "always_valid" answers true to anything,
                      "always_invalid" false to anything, "error" answers 500.
Discord (discord.com):
  GET  /oauth2/authorize       302 to redirect_uri with a one-time code and the state (or
                               error=access_denied when "deny" is set); the code keeps the page's
                               PKCE code_challenge (S256 only).
  POST /api/v10/oauth2/token   checks client id and secret, redirect_uri, the one-time code and its
                               code_verifier (400 invalid_grant unless its S256 is the code's challenge).
  GET  /api/v10/users/@me      the user for the bearer token.
  PUT|DELETE /api/v10/guilds/{guild}/members/{user}/roles/{role}
                               gives or takes a member's role: 204 for "Bot <bot_token>", 401 for another
                               token, 404 for another guild_id or role_id (when set) or a user not in
                               members (when set); "roles_status" other than 204 answers that instead,
                               429 with retry_after in the body and a Retry-After header (its ceiling,
                               "retry_after_header" as given when a string, none when false).

Control (JSON over HTTP, loopback only):
  GET  /log                 every request received: host, method, path, query and form fields, and
                            for role calls guild, user, role and audit_reason; "member_roles" holds
                            the roles the fake Discord's members have now
  POST /reset               defaults, empty log, codes forgotten
  POST /steam               {"steamid": "...", "mode": "verify|always_valid|always_invalid|error"}
  POST /discord             {"user": {...}, "deny": bool, "token_status": int, "users_status": int,
                             "users_unsized": bool (no Content-Length), "client_id": "...",
                             "client_secret": "...", "bot_token": "...", "guild_id": "...",
                             "role_id": "...", "members": [...], "roles_status": int,
                             "retry_after": number, "retry_after_header": null|false|"..."}
  POST /tls                 {"certificate": "trusted|untrusted"}: the certificate new connections get
                            (untrusted: self-signed, for checking that clients verify)
"""
import argparse
import base64
import copy
import datetime
import hashlib
import hmac
import http.server
import ipaddress
import json
import math
import os
import re
import secrets
import socketserver
import sys
import threading
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "link-service"))
import link_service  # noqa: E402  (the launcher's test double: its TLS server and certificate loading)

OPENID_NS = "http://specs.openid.net/auth/2.0"
IDENTIFIER_SELECT = "http://specs.openid.net/auth/2.0/identifier_select"
STEAM_LOGIN = "https://steamcommunity.com/openid/login"
STEAM_SIGNED = ["op_endpoint", "claimed_id", "identity", "return_to", "response_nonce", "assoc_handle"]
STEAM_HOST = "steamcommunity.com"
DISCORD_HOST = "discord.com"
DEFAULT_STEAMID = "76561198000000001"
DEFAULT_DISCORD_USER = {"id": "80351110224678912", "username": "jugador", "global_name": "Jugador Uno",
                        "discriminator": "0", "avatar": None}
DEFAULT_CLIENT_ID = "1100000000000000001"
DEFAULT_CLIENT_SECRET = "fake-discord-client-secret"
DEFAULT_BOT_TOKEN = "fake-discord-bot-token"
ROLE_PATH = re.compile(r"/api/v10/guilds/([0-9]+)/members/([0-9]+)/roles/([0-9]+)")
MAX_BODY = 64 * 1024
MAX_CONTROL_BODY = 1024 * 1024  # room for oversized accounts


def kv_form(pairs):
    return "".join(f"{key}:{value}\n" for key, value in pairs)


class ProviderState:
    def __init__(self, client_id, client_secret, bot_token, contexts):
        self.lock = threading.Lock()
        self.contexts = contexts
        self.defaults = {"client_id": client_id, "client_secret": client_secret, "bot_token": bot_token}
        self.steam_key = secrets.token_bytes(32)
        self.assoc_handle = "fake" + secrets.token_hex(8)
        self.reset()

    def reset(self):
        with self.lock:
            self.certificate = "trusted"
            self.steamid = DEFAULT_STEAMID
            self.steam_mode = "verify"
            self.discord = {"user": copy.deepcopy(DEFAULT_DISCORD_USER), "deny": False, "token_status": 200,
                            "users_status": 200, "users_unsized": False, "guild_id": None, "role_id": None,
                            "members": None, "roles_status": 204, "retry_after": 1.0,
                            "retry_after_header": None, **self.defaults}
            self.codes = {}
            self.tokens = {}
            self.member_roles = {}
            self.log = []

    def record(self, entry):
        with self.lock:
            # Connection events of the shared server class are not requests.
            if "event" not in entry:
                self.log.append(entry)

    def tls_context(self):
        with self.lock:
            return self.certificate, self.contexts[self.certificate]

    def steam_signature(self, fields, signed_names):
        text = kv_form((name, fields.get("openid." + name, "")) for name in signed_names)
        return base64.b64encode(hmac.new(self.steam_key, text.encode(), hashlib.sha256).digest()).decode()


class ProviderHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeProvider/1"

    def log_message(self, *args):
        pass

    @property
    def state(self):
        return self.server.state

    def answer(self, status, body=b"", content_type="text/plain; charset=utf-8", location=None, sized=True):
        if isinstance(body, str):
            body = body.encode()
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Type", content_type)
        if sized:
            self.send_header("Content-Length", str(len(body)))
        else:  # the body ends when the connection does, so a client cannot know its size in advance
            self.send_header("Connection", "close")
            self.close_connection = True
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def answer_json(self, status, document, sized=True):
        self.answer(status, json.dumps(document), "application/json", sized=sized)

    def read_form(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > MAX_BODY:
            return None, b""
        raw = self.rfile.read(length)
        return urllib.parse.parse_qsl(raw.decode("utf-8", "replace"), keep_blank_values=True), raw

    def handle_request(self, method):
        host = (self.headers.get("Host") or "").lower()
        if host.endswith(":443"):
            host = host[:-4]
        path, _, query = self.path.partition("?")
        form, raw = (self.read_form() if method in ("POST", "PUT") else ([], b""))
        entry = {"host": host, "method": method, "path": path, "query": query,
                 "form": form, "body": raw.decode("utf-8", "replace"),
                 "authorization": self.headers.get("Authorization")}
        role = ROLE_PATH.fullmatch(path) if host == DISCORD_HOST and method in ("PUT", "DELETE") else None
        if role:
            entry.update(guild=role[1], user=role[2], role=role[3],
                         audit_reason=self.headers.get("X-Audit-Log-Reason"))
        self.state.record(entry)
        if form is None:
            return self.answer(413, "too large\n")
        params = urllib.parse.parse_qsl(query, keep_blank_values=True)
        if host == STEAM_HOST and path == "/openid/login":
            return self.steam_setup(params) if method == "GET" else self.steam_check(form)
        if host == DISCORD_HOST and path == "/oauth2/authorize" and method == "GET":
            return self.discord_authorize(params)
        if host == DISCORD_HOST and path == "/api/v10/oauth2/token" and method == "POST":
            return self.discord_token(form)
        if host == DISCORD_HOST and path == "/api/v10/users/@me" and method == "GET":
            return self.discord_user()
        if role:
            return self.discord_role(method == "PUT", *role.groups())
        return self.answer(404, "not found\n")

    def do_GET(self):
        self.handle_request("GET")

    def do_POST(self):
        self.handle_request("POST")

    def do_PUT(self):
        self.handle_request("PUT")

    def do_DELETE(self):
        self.handle_request("DELETE")

    # Steam

    def steam_setup(self, params):
        fields = dict(params)
        return_to = fields.get("openid.return_to", "")
        realm = fields.get("openid.realm", "")
        if (fields.get("openid.ns") != OPENID_NS or fields.get("openid.mode") != "checkid_setup"
                or fields.get("openid.identity") != IDENTIFIER_SELECT
                or fields.get("openid.claimed_id") != IDENTIFIER_SELECT
                or not return_to.startswith("https://") or not realm or not return_to.startswith(realm)):
            return self.answer(400, "bad checkid_setup request\n")
        with self.state.lock:
            steamid = self.state.steamid
        identity = f"https://steamcommunity.com/openid/id/{steamid}"
        nonce = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ") + secrets.token_hex(6)
        answer = {"openid.ns": OPENID_NS, "openid.mode": "id_res", "openid.op_endpoint": STEAM_LOGIN,
                  "openid.claimed_id": identity, "openid.identity": identity, "openid.return_to": return_to,
                  "openid.response_nonce": nonce, "openid.assoc_handle": self.state.assoc_handle,
                  "openid.signed": ",".join(STEAM_SIGNED)}
        answer["openid.sig"] = self.state.steam_signature(answer, STEAM_SIGNED)
        separator = "&" if "?" in return_to else "?"
        location = return_to + separator + urllib.parse.urlencode(answer, quote_via=urllib.parse.quote)
        self.answer(302, "signed in\n", location=location)

    def steam_check(self, form):
        with self.state.lock:
            mode = self.state.steam_mode
        if mode == "error":
            return self.answer(500, "error\n")
        fields = dict(form)
        valid = mode == "always_valid"
        if mode == "verify" and len(fields) == len(form) and fields.get("openid.mode") == "check_authentication":
            signed = fields.get("openid.signed", "").split(",")
            valid = (all(name in signed for name in STEAM_SIGNED)
                     and fields.get("openid.assoc_handle") == self.state.assoc_handle
                     and hmac.compare_digest(fields.get("openid.sig", ""),
                                             self.state.steam_signature(fields, signed)))
        self.answer(200, kv_form([("ns", OPENID_NS), ("is_valid", "true" if valid else "false")]))

    # Discord

    def discord_authorize(self, params):
        fields = dict(params)
        redirect_uri = fields.get("redirect_uri", "")
        with self.state.lock:
            discord = copy.deepcopy(self.state.discord)
        if (fields.get("client_id") != discord["client_id"] or fields.get("response_type") != "code"
                or fields.get("scope") != "identify" or not redirect_uri.startswith("https://")
                or fields.get("code_challenge_method", "S256") != "S256"):
            return self.answer(400, "bad authorization request\n")
        reply = {"state": fields.get("state", "")}
        if discord["deny"]:
            reply = {"error": "access_denied", "error_description": "The resource owner denied the request",
                     **reply}
        else:
            code = secrets.token_urlsafe(22)
            with self.state.lock:
                self.state.codes[code] = {"redirect_uri": redirect_uri, "user": discord["user"],
                                          "used": False, "challenge": fields.get("code_challenge")}
            reply = {"code": code, **reply}
        separator = "&" if "?" in redirect_uri else "?"
        self.answer(302, "authorized\n", location=redirect_uri + separator + urllib.parse.urlencode(reply))

    def discord_token(self, form):
        fields = dict(form)
        with self.state.lock:
            discord = self.state.discord
            if discord["token_status"] != 200:
                return self.answer_json(discord["token_status"], {"error": "server_error"})
            if (len(fields) != len(form) or fields.get("client_id") != discord["client_id"]
                    or fields.get("client_secret") != discord["client_secret"]):
                return self.answer_json(401, {"error": "invalid_client"})
            grant = self.state.codes.get(fields.get("code", ""))
            if (fields.get("grant_type") != "authorization_code" or grant is None or grant["used"]
                    or fields.get("redirect_uri") != grant["redirect_uri"]
                    or not pkce_matches(fields.get("code_verifier"), grant["challenge"])):
                return self.answer_json(400, {"error": "invalid_grant"})
            grant["used"] = True
            token = secrets.token_urlsafe(24)
            self.state.tokens[token] = grant["user"]
        self.answer_json(200, {"access_token": token, "token_type": "Bearer", "expires_in": 604800,
                               "refresh_token": secrets.token_urlsafe(24), "scope": "identify"})

    def discord_user(self):
        authorization = self.headers.get("Authorization") or ""
        with self.state.lock:
            status = self.state.discord["users_status"]
            sized = not self.state.discord["users_unsized"]
            user = self.state.tokens.get(authorization[len("Bearer "):]) if authorization.startswith(
                "Bearer ") else None
        if status != 200:
            return self.answer_json(status, {"message": "error", "code": 0})
        if user is None:
            return self.answer_json(401, {"message": "401: Unauthorized", "code": 0})
        self.answer_json(200, user, sized)

    def discord_role(self, add, guild, user, role):
        with self.state.lock:
            discord = copy.deepcopy(self.state.discord)
        if (self.headers.get("Authorization") or "") != "Bot " + discord["bot_token"]:
            return self.answer_json(401, {"message": "401: Unauthorized", "code": 0})
        status = discord["roles_status"]
        if status == 429:
            header = discord["retry_after_header"]
            if header is None:
                header = str(math.ceil(discord["retry_after"]))
            body = json.dumps({"message": "You are being rate limited.",
                               "retry_after": discord["retry_after"], "global": False}).encode()
            self.send_response(429)
            if header is not False:
                self.send_header("Retry-After", header)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        if status != 204:
            return self.answer_json(status, {"message": "error", "code": 0})
        if discord["guild_id"] not in (None, guild):
            return self.answer_json(404, {"message": "Unknown Guild", "code": 10004})
        if discord["role_id"] not in (None, role):
            return self.answer_json(404, {"message": "Unknown Role", "code": 10011})
        if discord["members"] is not None and user not in discord["members"]:
            return self.answer_json(404, {"message": "Unknown Member", "code": 10007})
        with self.state.lock:
            roles = self.state.member_roles.setdefault(user, [])
            if add and role not in roles:
                roles.append(role)
            if not add and role in roles:
                roles.remove(role)
        self.send_response(204)
        self.end_headers()


def pkce_matches(verifier, challenge):
    """RFC 7636 S256: base64url(sha256(verifier)) without padding is the challenge."""
    if not verifier or not challenge:
        return False
    digest = hashlib.sha256(verifier.encode("ascii", "replace")).digest()
    return hmac.compare_digest(base64.urlsafe_b64encode(digest).rstrip(b"="), challenge.encode())


class ControlHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, document):
        body = json.dumps(document).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        state = self.server.state
        if self.path == "/log":
            with state.lock:
                return self.answer(200, {"requests": list(state.log),
                                         "member_roles": {u: r for u, r in state.member_roles.items() if r}})
        self.answer(404, {"error": "not found"})

    def do_POST(self):
        state = self.server.state
        length = int(self.headers.get("Content-Length") or 0)
        try:
            document = json.loads(self.rfile.read(length) or b"{}") if 0 <= length <= MAX_CONTROL_BODY else None
        except ValueError:
            document = None
        if not isinstance(document, dict):
            return self.answer(400, {"error": "a JSON object is expected"})
        if self.path == "/reset":
            state.reset()
            return self.answer(200, {"ok": True})
        with state.lock:
            if self.path == "/tls":
                if document.get("certificate") not in state.contexts:
                    return self.answer(400, {"error": "no such certificate"})
                state.certificate = document["certificate"]
                return self.answer(200, {"certificate": state.certificate})
            if self.path == "/steam":
                state.steamid = str(document.get("steamid", state.steamid))
                state.steam_mode = document.get("mode", state.steam_mode)
                return self.answer(200, {"steamid": state.steamid, "mode": state.steam_mode})
            if self.path == "/discord":
                unknown = set(document) - set(state.discord)
                if unknown:
                    return self.answer(400, {"error": "unknown keys", "keys": sorted(unknown)})
                state.discord.update(document)
                return self.answer(200, {key: value for key, value in state.discord.items()
                                         if key not in ("client_secret", "bot_token")})
        self.answer(404, {"error": "not found"})


class ProviderServer(link_service.ServiceServer):
    """The launcher's test double's server, TLS per connection included, with the providers' handler."""

    def __init__(self, address, state):
        self.state = state
        http.server.HTTPServer.__init__(self, address, ProviderHandler)


class ControlServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state):
        self.state = state
        super().__init__(address, ControlHandler)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cert", required=True, help="certificate for steamcommunity.com and discord.com")
    parser.add_argument("--key", required=True)
    parser.add_argument("--untrusted-cert", help="a certificate nothing trusts, switched to through /tls")
    parser.add_argument("--untrusted-key")
    parser.add_argument("--listen", default="auto", help="ADDRESS:PORT on loopback, or auto (127.x.y.z:443)")
    parser.add_argument("--ready-file", help="written with the addresses once both ports listen")
    parser.add_argument("--discord-client-id", default=DEFAULT_CLIENT_ID)
    parser.add_argument("--discord-client-secret", default=DEFAULT_CLIENT_SECRET)
    parser.add_argument("--discord-bot-token", default=DEFAULT_BOT_TOKEN)
    parser.add_argument("--exit-with-parent", action="store_true")
    args = parser.parse_args(argv)

    contexts = {"trusted": link_service.tls_context(args.cert, args.key)}
    if args.untrusted_cert:
        contexts["untrusted"] = link_service.tls_context(args.untrusted_cert, args.untrusted_key)
    state = ProviderState(args.discord_client_id, args.discord_client_secret, args.discord_bot_token,
                          contexts)
    providers = link_service.bind_service(args.listen, state, ProviderServer)
    address = providers.server_address[0]
    if not ipaddress.ip_address(address).is_loopback:
        print(f"fake_providers: refusing to serve on {address}, which is not loopback", file=sys.stderr)
        return 2
    control = ControlServer((address, 0), state)
    for server in (providers, control):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    ready = {"listen": f"{address}:{providers.server_address[1]}",
             "control": f"{address}:{control.server_address[1]}", "pid": os.getpid()}
    link_service.write_ready_file(args.ready_file, ready)
    print(f"fake providers at {ready['listen']}, control at http://{ready['control']}", flush=True)
    link_service.serve_until_stopped((providers, control), args.exit_with_parent)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
