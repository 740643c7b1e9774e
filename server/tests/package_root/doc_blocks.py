#!/usr/bin/env python3
"""The runnable commands of docs/running-the-service.md: each fenced block preceded by a line
`<!-- runnable: NAME -->`.

  doc_blocks.py DOC NAME     prints that block's commands
  doc_blocks.py DOC --names  prints every runnable block's name, one a line"""
import re
import sys


def blocks(text):
    found = {}
    for match in re.finditer(r"^<!-- runnable: ([a-z0-9-]+) -->\n```[a-z]*\n(.*?)^```$", text, re.M | re.S):
        name = match.group(1)
        if name in found:
            sys.exit(f"doc_blocks: two runnable blocks named {name}")
        found[name] = match.group(2)
    markers = len(re.findall(r"^<!-- runnable:", text, re.M))
    if markers != len(found):
        sys.exit(f"doc_blocks: {markers} markers but {len(found)} blocks follow one: a marker must stand "
                 "right before its fenced block")
    return found


def main():
    doc, name = sys.argv[1], sys.argv[2]
    found = blocks(open(doc, encoding="utf-8").read())
    if name == "--names":
        print("\n".join(found))
    elif name in found:
        sys.stdout.write(found[name])
    else:
        sys.exit(f"doc_blocks: no runnable block named {name} in {doc}")


if __name__ == "__main__":
    main()
