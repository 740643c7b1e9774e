#!/usr/bin/env python3
"""Writes the players' zip from the staged program folder, the same bytes for the same inputs:
entries in a fixed order, one date for all of them, fixed modes, no extra fields.

usage: make-package.py --stage DIR --guide LEEME.txt --zip OUT.zip --epoch SECONDS
"""
import argparse
import os
import sys
import time
import zipfile

TOP = "OrvaneGaming/"
PICTURES = ("vexil-squad.jpg", "galactic-battle.jpg", "orvane-ground.jpg")
DIR_MODE = 0o40755
FILE_MODE = 0o100644
# Zip dates start in 1980 and carry no time zone: the date is written as UTC.
ZIP_EPOCH = 315532800


def entry(name, epoch, mode):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, ZIP_EPOCH))[:6])
    info.create_system = 3  # Unix, so unzip applies the modes below
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= 0x10  # MS-DOS directory flag
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def for_notepad(text):
    """The guide as every Windows editor shows it right: UTF-8 with a byte-order mark, CR LF."""
    return b"\xef\xbb\xbf" + text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def contents(stage, guide):
    """(name in the zip, source file or None for a folder), in the order they are written."""
    items = [(TOP, None), (TOP + "OrvaneGaming.exe", os.path.join(stage, "OrvaneGaming.exe")),
             (TOP + "LEEME.txt", guide), (TOP + "assets/", None)]
    items += [(TOP + "assets/" + p, os.path.join(stage, "assets", p)) for p in PICTURES]
    # An empty folder survives extraction only as an entry of its own.
    items.append((TOP + "reports/", None))
    return items


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("--guide", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--epoch", required=True, type=int)
    args = parser.parse_args(argv)

    items = contents(args.stage, args.guide)
    missing = [source for _, source in items if source and not os.path.isfile(source)]
    if missing:
        print("make-package: missing " + ", ".join(missing), file=sys.stderr)
        return 1
    partial = args.zip + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, source in items:
            if source is None:
                archive.writestr(entry(name, args.epoch, DIR_MODE), b"")
            else:
                with open(source, "rb") as f:
                    data = f.read()
                if source == args.guide:
                    data = for_notepad(data)
                archive.writestr(entry(name, args.epoch, FILE_MODE), data, compresslevel=9)
    os.replace(partial, args.zip)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
