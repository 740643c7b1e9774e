#!/usr/bin/env python3
"""Names what differs between two builds of the players' zip: entries only in one, entries whose
bytes differ, entries whose date or mode differ, and the archive itself when only its layout does.

usage: compare-packages.py FIRST.zip SECOND.zip     (exit 1 when anything differs)
"""
import hashlib
import sys
import zipfile


def entries(path):
    with zipfile.ZipFile(path) as archive:
        return {i.filename: (hashlib.sha256(archive.read(i)).hexdigest(), i.date_time, i.external_attr)
                for i in archive.infolist()}


def differences(first, second):
    a, b = entries(first), entries(second)
    found = []
    for name in sorted(set(a) | set(b)):
        if name not in a or name not in b:
            found.append(f"{name}: only in {'the first' if name in a else 'the second'} build")
            continue
        for label, x, y in zip(("contents", "date", "mode"), a[name], b[name]):
            if x != y:
                found.append(f"{name}: {label} differs ({x} / {y})")
    if not found and open(first, "rb").read() != open(second, "rb").read():
        found.append("the archives' own layout differs (entry order or headers)")
    return found


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    found = differences(*argv)
    for line in found:
        print("differs: " + line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
