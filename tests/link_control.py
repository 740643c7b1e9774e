"""Control ports of the test services, as plain HTTP on loopback with JSON documents: the link service's
test double (tools/link-service/README.md) and the fake providers (server/tests/fake_providers.py)."""
import json
import os
import urllib.request


def json_call(address, method, path, document=None):
    data = json.dumps(document).encode() if document is not None else None
    request = urllib.request.Request(f"http://{address}{path}", data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(request, timeout=10) as response:
        return json.loads(response.read())


def control(method, path, document=None):
    return json_call(os.environ["ORVANE_LINK_CONTROL"], method, path, document)
