#!/usr/bin/env python3
"""What the project's Wine prefix runs in place of a browser and of the Steam client.

usage: handler.py browser|steam URL

Wine hands every https URL the launcher opens to winebrowser, which runs the prefix's browser
(tools/shell-handler/browser), and every steam: URL to the prefix's steam: protocol handler
(tools/shell-handler/steam). Neither ever fetches the URL, so nothing leaves the machine.

- ORVANE_URL_LOG=FILE: append {"handler": ..., "url": ...} to FILE as one JSON line (the tests).
- ORVANE_DEMO_CONTROL=HOST:PORT, the local link service's control port (the demo of tools/run.sh):
  the browser says what it opened and, a few seconds later, accepts the Steam or Discord
  authorisation as a player would; the Steam client says what it was asked to do.
- Neither: one line saying the URL was not opened.

Messages go to stderr: Wine passes a child's stderr, not its stdout, to the launcher's terminal.
"""
import json
import os
import sys
import time
import urllib.parse
import urllib.request

APPROVE_AFTER_SECONDS = 4
AUTHORISATION_PAGES = {
    ("steamcommunity.com", "/openid/login"): "steam",
    ("discord.com", "/oauth2/authorize"): "discord",
}


def say(text):
    print(text, file=sys.stderr, flush=True)


def record(role, url):
    path = os.environ.get("ORVANE_URL_LOG")
    if not path:
        return
    line = json.dumps({"handler": role, "url": url}, ensure_ascii=False) + "\n"
    # One write of one line in append mode, so two handlers writing at once never interleave.
    with open(path, "a", encoding="utf-8") as log:
        log.write(line)


def authorisation(url):
    """(provider, state) of a Steam OpenID or Discord OAuth2 page, else (None, None). Steam carries the
    link service's state inside its return address."""
    parts = urllib.parse.urlsplit(url)
    provider = AUTHORISATION_PAGES.get((parts.hostname, parts.path))
    query = urllib.parse.parse_qs(parts.query)
    if provider == "steam":
        back = urllib.parse.urlsplit(query.get("openid.return_to", [""])[0])
        query = urllib.parse.parse_qs(back.query)
    state = query.get("state", [None])[0]
    return (provider, state) if provider and state else (None, None)


def approve_later(control, provider, state):
    """The player reads the page and accepts: a few seconds later, in a process of its own so the
    browser call returns at once."""
    if os.fork() != 0:
        return
    try:
        os.setsid()
        time.sleep(APPROVE_AFTER_SECONDS)
        body = json.dumps({"provider": provider, "state": state}).encode()
        request = urllib.request.Request(f"http://{control}/link", data=body, method="POST",
                                         headers={"Content-Type": "application/json"})
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        try:
            with opener.open(request, timeout=10):
                say(f"[demo browser] the player accepted on the {provider.capitalize()} page: linked")
        except OSError as failure:
            say(f"[demo browser] the {provider.capitalize()} approval was not taken: {failure}")
    finally:
        os._exit(0)


def demo_browser(control, url):
    provider, state = authorisation(url)
    if provider is None:
        say(f"[demo browser] would open {url}")
        return
    say(f"[demo browser] opened the {provider.capitalize()} authorisation page; the player accepts in "
        f"{APPROVE_AFTER_SECONDS} s")
    approve_later(control, provider, state)


def demo_steam(url):
    prefix = "steam://run/4000//%2Bconnect%20"
    if url == "steam://run/4000":
        say("[demo Steam] Steam would start Garry's Mod (application 4000)")
    elif url.startswith(prefix) and url.endswith("/"):
        address = urllib.parse.unquote(url[len(prefix):-1])
        say(f"[demo Steam] Steam would start Garry's Mod (application 4000) and connect to {address}")
    else:
        say(f"[demo Steam] Steam would be asked to open {url}")


def main(argv):
    if len(argv) != 3 or argv[1] not in ("browser", "steam"):
        say(__doc__.split("\n\n")[1])
        return 2
    role, url = argv[1], argv[2]
    record(role, url)
    control = os.environ.get("ORVANE_DEMO_CONTROL")
    if control and role == "browser":
        demo_browser(control, url)
    elif control:
        demo_steam(url)
    elif not os.environ.get("ORVANE_URL_LOG"):
        say(f"OrvaneGaming prefix: the {role} handler did not open {url}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
