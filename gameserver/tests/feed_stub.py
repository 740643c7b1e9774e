"""A stand-in for the link service's changes feed (docs/game-server.md), in the test's own process, for
what the real service will not do on demand: answer garbage, too much, slowly or with a given status.

    stub = FeedStub("the-key", tls=("cert.pem", "cert.key"))
    stub.set_player("76561198000000001", ready=True)
    stub.fault = (503, {"Retry-After": "5"}, b'{"error": "storage"}')   # every answer until cleared
    stub.url   # https://127.0.0.1:PORT/orvane-launcher/v1/9e3f51d0
"""
import http.server
import json
import ssl
import threading
import urllib.parse

BASE = "/orvane-launcher/v1/9e3f51d0"
MAX_CURSOR = 9007199254740991


class FeedStub:
    DROP = "drop"

    def __init__(self, key, tls=None):
        self.key = key
        self.rule = "steam+discord"
        self.entries = []  # player documents with their cursors, in cursor order, each account once
        self.cursor = 0
        # Every answer while set: (status, headers, body bytes), DROP (the connection closed unanswered),
        # or a callable(since) giving either or None.
        self.fault = None
        self.requests = []  # (query dict, authorization header)
        self.lock = threading.Lock()
        stub = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                answer = stub.answer(self.path, self.headers.get("Authorization"))
                if answer == FeedStub.DROP:
                    self.close_connection = True
                    return
                status, headers, body = answer
                self.send_response(status)
                for name, value in {"Content-Type": "application/json", **headers}.items():
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        scheme = "http"
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*tls)
            self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
            scheme = "https"
        self.url = f"{scheme}://127.0.0.1:{self.server.server_address[1]}{BASE}"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()

    def set_player(self, steam, ready, banned=False, discord=None):
        """Moves the account to the end of the feed with a new cursor, as a link, unlink or ban does."""
        with self.lock:
            self.entries = [e for e in self.entries if e["steam"] != steam]
            self.cursor += 1
            self.entries.append({"cursor": self.cursor, "steam": steam, "discord": discord, "ready": ready,
                                 "banned": banned})

    def set_rule(self, rule, ready_of):
        """A new rule, and every account's `ready` under it (ready_of(entry) -> bool), with new cursors."""
        with self.lock:
            self.rule = rule
            moved = []
            for e in self.entries:
                self.cursor += 1
                moved.append({**e, "cursor": self.cursor, "ready": ready_of(e) and not e["banned"]})
            self.entries = moved

    def fills_since_zero(self):
        return sum(1 for query, _ in self.requests if query.get("since") == "0")

    @staticmethod
    def error(status, code, headers=None):
        return status, headers or {}, json.dumps({"error": code}).encode()

    def answer(self, path, authorization):
        parsed = urllib.parse.urlsplit(path)
        query = dict(urllib.parse.parse_qsl(parsed.query))
        with self.lock:
            self.requests.append((query, authorization))
            fault = self.fault(query.get("since")) if callable(self.fault) else self.fault
            if fault:
                return fault
            if parsed.path != BASE + "/gameserver/changes":
                return self.error(404, "not_found")
            if authorization != "Bearer " + self.key:
                return self.error(401, "gameserver_key", {"WWW-Authenticate": "Bearer"})
            since, limit = query.get("since", "0"), query.get("limit", "1000")
            if not since.isdigit() or int(since) > MAX_CURSOR:
                return self.error(400, "since")
            if not limit.isdigit() or not 1 <= int(limit) <= 5000:
                return self.error(400, "limit")
            since, limit = int(since), int(limit)
            page = [e for e in self.entries if e["cursor"] > since][:limit]
            document = {"rule": self.rule, "changes": page, "next": page[-1]["cursor"] if page else since,
                        "more": len(page) == limit}
            return 200, {}, json.dumps(document).encode()
