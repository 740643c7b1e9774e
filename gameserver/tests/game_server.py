"""A Garry's Mod server for the tests: the addon under LuaJIT and gmod_shim.lua (gmod_server.lua), with
the game's clock virtual and its HTTP real. Every answer is checked for Lua errors and for the addon's
own "internal error" log lines: either fails the test at once.

    server = GameServer(folder, ca=ca_file)
    server.start(url, key, policy="last_known", refresh=5)
    server.connect("76561198000000001")   # (admitted, reason)
"""
import json
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ADDON = os.path.join(HERE, "..", "garrysmod", "orvane_allowlist")
SERVER_LUA = os.path.join(HERE, "gmod_server.lua")


# What players read, as the community wrote it.
TEXT = {
    "not_linked": "Para jugar aquí vincula tus cuentas de Steam y Discord en el launcher de OrvaneGaming "
                  "y vuelve a entrar.",
    "not_linked_steam": "Para jugar aquí vincula tu cuenta de Steam en el launcher de OrvaneGaming "
                        "y vuelve a entrar.",
    "banned": "Tu cuenta está bloqueada en esta comunidad.",
    "service_down": "El servicio de vinculación no responde. Inténtalo de nuevo en unos minutos.",
    "loading": "El servidor está cargando la lista de jugadores. Inténtalo de nuevo en unos segundos.",
}


class LuaFault(AssertionError):
    pass


def as_list(value):
    """lua-cjson writes an empty array as {}."""
    return [] if value == {} else value


class GameServer:
    def __init__(self, folder, ca=None, allow_local_http=True, echo=False):
        self.data = os.path.join(folder, "data")
        self.tmp = os.path.join(folder, "requests")
        os.makedirs(self.data, exist_ok=True)
        os.makedirs(self.tmp, exist_ok=True)
        command = ["luajit", SERVER_LUA, "--addon", ADDON, "--data", self.data, "--tmp", self.tmp]
        if ca:
            command += ["--ca", ca]
        if allow_local_http:
            command.append("--allow-local-http")
        if echo or os.environ.get("ORVANE_GMOD_ECHO"):
            command.append("--echo")
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            self.process.wait(30)
        self.process.stdout.close()

    def send(self, op, **fields):
        self.process.stdin.write(json.dumps({"op": op, **fields}) + "\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        if not line:
            raise LuaFault(f"the game server ended during {op}")
        reply = json.loads(line)
        if "failed" in reply:
            raise LuaFault(f"{op}: {reply['failed']}")
        errors = as_list(reply["errors"])
        if errors:
            raise LuaFault("Lua errors: " + "\n".join(errors))
        internal = [entry["line"] for entry in self.logs() if "internal error" in entry["line"]] \
            if op != "logs" else []
        if internal:
            raise LuaFault("the addon caught its own errors: " + "\n".join(internal))
        self.now = reply["now"]
        return reply

    def write_config(self, document):
        with open(os.path.join(self.data, "orvane_allowlist.json"), "w") as f:
            f.write(document if isinstance(document, str) else json.dumps(document))

    def start(self, url=None, key=None, policy=None, refresh=None):
        """Loads the addon and sets the convars given, as server.cfg would after the addon's load."""
        self.send("load")
        for name, value in (("url", url), ("key", key), ("policy", policy), ("refresh", refresh)):
            if value is not None:
                self.send("convar", name="orvane_" + name, value=str(value))

    def convar(self, name, value):
        self.send("convar", name=name, value=str(value))

    def connect(self, steam, bot=False, loading=False):
        reply = self.send("connect", steam=steam, bot=bot, loading=loading)
        returned = as_list(reply["returned"])
        if returned and returned[0] is True:
            raise AssertionError("CheckPassword returned true, which skips sv_password")
        return reply["admitted"], reply["reason"]

    def spawn(self, steam):
        self.send("spawn", steam=steam)

    def advance(self, seconds):
        return self.send("advance", seconds=seconds)

    def wait(self, what, seconds, **fields):
        """Runs the game until `what` holds or `seconds` of game time pass; whether it held."""
        return self.send("until", what=what, seconds=seconds, **fields)["met"]

    def status(self):
        reply = self.send("status")
        for name in ("connected", "kicks"):
            reply[name] = as_list(reply[name])
        return reply

    def logs(self, start=1):
        return as_list(self.send("logs", **{"from": start})["logs"])

    def log_lines(self, start=1):
        return [entry["line"] for entry in self.logs(start)]

    def fetched(self, start=1):
        return as_list(self.send("fetched", **{"from": start})["fetched"])

    def lua_kib(self):
        """Lua's heap after a full collection."""
        return self.send("memory")["kib"]
