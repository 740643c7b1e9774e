#!/usr/bin/env python3
"""What the project's Wine prefix runs in place of a browser and of the Steam client.

usage: handler.py browser|steam URL

Wine hands every https URL the launcher opens to winebrowser, which runs the prefix's browser
(tools/shell-handler/browser), and every steam: URL to the prefix's steam: protocol handler
(tools/shell-handler/steam). Only the demo's browser fetches anything, and only from names that lead
to this machine (player_browser.py), so nothing leaves it.

- ORVANE_URL_LOG=FILE: append {"handler": ..., "url": ...} to FILE as one JSON line (the tests).
- ORVANE_DEMO=1 (the demo of tools/run.sh, inside tools/with-real-service.sh): the browser says what
  it opened and, a few seconds later, follows a Steam or Discord authorisation page as a player's
  browser would: to the (fake) provider, which signs the player in at once, and back to the link
  service's callback, whose page it reports; the Steam client says what it was asked to do.
- Neither: one line saying the URL was not opened.

Messages go to stderr: Wine passes a child's stderr, not its stdout, to the launcher's terminal.
"""
import json
import os
import sys
import time
import urllib.parse

import player_browser

ACCEPT_AFTER_SECONDS = 4
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


def provider_of(url):
    parts = urllib.parse.urlsplit(url)
    return AUTHORISATION_PAGES.get((parts.hostname, parts.path))


def follow_later(provider, url):
    """The player reads the page and accepts: a few seconds later, in a process of its own so the
    browser call returns at once."""
    if os.fork() != 0:
        return
    try:
        os.setsid()
        time.sleep(ACCEPT_AFTER_SECONDS)
        try:
            page = player_browser.follow(url)
            say(f"[demo browser] the {provider.capitalize()} sign-in led back to the link service: "
                f"{page.status} «{page.title}»")
        except (OSError, ValueError) as failure:
            say(f"[demo browser] the {provider.capitalize()} page could not be followed: {failure}")
    finally:
        os._exit(0)


def demo_browser(url):
    provider = provider_of(url)
    if provider is None:
        say(f"[demo browser] would open {url}")
        return
    say(f"[demo browser] opened the {provider.capitalize()} authorisation page; the player accepts in "
        f"{ACCEPT_AFTER_SECONDS} s")
    follow_later(provider, url)


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
    demo = os.environ.get("ORVANE_DEMO") == "1"
    if demo and role == "browser":
        demo_browser(url)
    elif demo:
        demo_steam(url)
    elif not os.environ.get("ORVANE_URL_LOG"):
        say(f"OrvaneGaming prefix: the {role} handler did not open {url}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
