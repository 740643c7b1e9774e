"""A player's browser, as much of one as the linking road needs: it opens an authorisation page and
follows the redirects (the provider's sign-in, then the link service's callback) to the page the road
ends on. Used by the demo's browser and by the end-to-end test in place of a player.

Only https is followed, at most MAX_HOPS redirects, and only to names that resolve to loopback
addresses (the harness's hosts mapping): this browser never reaches another machine. Certificates are verified against the system's
store plus the test CAs named by ORVANE_PROVIDERS_CA and ORVANE_LINK_CA (tools/with-real-service.sh).
"""
import html
import ipaddress
import os
import re
import socket
import ssl
import urllib.error
import urllib.parse
import urllib.request
from dataclasses import dataclass, field

MAX_HOPS = 5


@dataclass
class Page:
    status: int
    title: str
    text: str
    url: str
    hops: list = field(default_factory=list)


def _check(url):
    parts = urllib.parse.urlsplit(url)
    if parts.scheme != "https" or not parts.hostname:
        raise ValueError(f"only https pages are opened, not {url[:80]}")
    addresses = {info[4][0] for info in socket.getaddrinfo(parts.hostname, parts.port or 443)}
    if not all(ipaddress.ip_address(a).is_loopback for a in addresses):
        raise ValueError(f"{parts.hostname} does not lead to this machine: not opened")


class _Redirects(urllib.request.HTTPRedirectHandler):
    max_redirections = MAX_HOPS

    def __init__(self, hops):
        self.hops = hops

    def redirect_request(self, request, fp, code, msg, headers, new_url):
        _check(new_url)
        self.hops.append(new_url)
        return super().redirect_request(request, fp, code, msg, headers, new_url)


def _context():
    context = ssl.create_default_context()
    for name in ("ORVANE_PROVIDERS_CA", "ORVANE_LINK_CA"):
        if os.environ.get(name):
            context.load_verify_locations(os.environ[name])
    return context


def _page(status, body, url, hops):
    text = body.decode("utf-8", "replace")
    title = re.search(r"<title>(.*?)</title>", text, re.S)
    paragraph = re.search(r"<p>(.*?)</p>", text, re.S)
    return Page(status, html.unescape(title.group(1)) if title else "",
                html.unescape(paragraph.group(1)) if paragraph else "", url, hops)


def follow(url, timeout=30):
    """The page the road from url ends on (an error page too); OSError when it cannot be reached,
    ValueError when it would leave https or this machine."""
    _check(url)
    hops = []
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}),
                                         urllib.request.HTTPSHandler(context=_context()), _Redirects(hops))
    try:
        with opener.open(url, timeout=timeout) as response:
            return _page(response.status, response.read(), response.geturl(), hops)
    except urllib.error.HTTPError as answer:
        return _page(answer.code, answer.read() if answer.fp else b"", answer.geturl() or url, hops)
