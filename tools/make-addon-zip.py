#!/usr/bin/env python3
"""Writes the game server addon's zip, the same bytes for the same inputs, as make-package.py writes the
launcher's: entries sorted, one date for all of them, fixed modes, no extra fields.

usage: make-addon-zip.py --addon DIR --readme README.md --zip OUT.zip --epoch SECONDS
"""
import argparse
import importlib
import os
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
package = importlib.import_module("make-package")


def contents(addon, readme):
    """(name in the zip, source file or None for a folder), sorted by name: the addon's folder as an admin
    drops it into garrysmod/addons/, with the admins' guide inside it."""
    top = os.path.basename(os.path.normpath(addon)) + "/"
    items = [(top, None), (top + "README.md", readme)]
    for folder, folders, files in os.walk(addon):
        folders.sort()
        relative = os.path.relpath(folder, addon)
        prefix = top if relative == "." else top + relative.replace(os.sep, "/") + "/"
        if relative != ".":
            items.append((prefix, None))
        items += [(prefix + name, os.path.join(folder, name)) for name in files]
    return sorted(items)


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--addon", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--epoch", required=True, type=int)
    args = parser.parse_args(argv)

    partial = args.zip + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, source in contents(args.addon, args.readme):
            if source is None:
                archive.writestr(package.entry(name, args.epoch, package.DIR_MODE), b"")
            else:
                with open(source, "rb") as f:
                    data = f.read()
                archive.writestr(package.entry(name, args.epoch, package.FILE_MODE), data, compresslevel=9)
    os.replace(partial, args.zip)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
