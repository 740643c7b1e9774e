"""The local link service's control port (tools/link-service/README.md), as plain HTTP on loopback."""
import json
import os
import urllib.request


def control(method, path, document=None):
    data = json.dumps(document).encode() if document is not None else None
    request = urllib.request.Request(f"http://{os.environ['ORVANE_LINK_CONTROL']}{path}", data=data,
                                     method=method, headers={"Content-Type": "application/json"})
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(request, timeout=10) as response:
        return json.loads(response.read())
