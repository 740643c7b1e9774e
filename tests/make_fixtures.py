#!/usr/bin/env python3
"""Writes the pictures the loader's limit tests need into OUT (once; reruns are instant).

usage: make_fixtures.py OUT STAGED_ASSETS
"""
import os
import struct
import sys
import zlib

STAMP_VERSION = "3"


def png(path, width, height, rgb=(40, 60, 90)):
    """A solid-colour truecolour PNG, compressed row by row so huge pictures stay small and cheap."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    row = b"\x00" + bytes(rgb) * width
    packer = zlib.compressobj(6)
    parts = [packer.compress(row) for _ in range(height)]
    parts.append(packer.flush())
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", b"".join(parts)))
        f.write(chunk(b"IEND", b""))


def links(out, assets):
    """Program folders whose pictures, or whose whole assets folder, are symbolic links."""
    import shutil
    real = os.path.join(out, "real-assets")
    os.makedirs(real, exist_ok=True)
    for name in ("vexil-squad.jpg", "galactic-battle.jpg", "orvane-ground.jpg"):
        shutil.copyfile(os.path.join(assets, name), os.path.join(real, name))

    linked_file = os.path.join(out, "linked-file", "assets")
    os.makedirs(linked_file, exist_ok=True)
    for name in ("galactic-battle.jpg", "orvane-ground.jpg"):
        shutil.copyfile(os.path.join(real, name), os.path.join(linked_file, name))
    relink(os.path.join(real, "vexil-squad.jpg"), os.path.join(linked_file, "vexil-squad.jpg"))

    os.makedirs(os.path.join(out, "linked-folder"), exist_ok=True)
    relink(real, os.path.join(out, "linked-folder", "assets"))


def relink(target, link):
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.path.abspath(target), link)


def main():
    out, assets = sys.argv[1], sys.argv[2]
    stamp = os.path.join(out, "stamp")
    if os.path.exists(stamp) and open(stamp).read() == STAMP_VERSION:
        return 0
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(assets, "vexil-squad.jpg"), "rb") as f:
        jpeg = f.read()

    png(os.path.join(out, "small-64x36.png"), 64, 36, (200, 120, 30))
    png(os.path.join(out, "wide-16385x1.png"), 16385, 1)
    png(os.path.join(out, "tall-16384x3906.png"), 16384, 3906)
    png(os.path.join(out, "many-10000x6401.png"), 10000, 6401)
    # Header intact, most of the scan data gone.
    with open(os.path.join(out, "truncated.jpg"), "wb") as f:
        f.write(jpeg[: len(jpeg) // 3])
    open(os.path.join(out, "empty.jpg"), "wb").close()
    # A valid picture padded past the size limit: only the size can refuse it.
    with open(os.path.join(out, "oversize.jpg"), "wb") as f:
        f.write(jpeg)
        f.truncate(64 * 1024 * 1024 + 1)
    with open(os.path.join(out, "exact-limit.jpg"), "wb") as f:
        f.write(jpeg)
        f.truncate(64 * 1024 * 1024)
    links(out, assets)
    with open(stamp, "w") as f:
        f.write(STAMP_VERSION)
    return 0


if __name__ == "__main__":
    sys.exit(main())
