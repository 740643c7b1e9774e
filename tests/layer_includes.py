#!/usr/bin/env python3
"""Every project include in the program's sources stays within the layers its file may use."""
import pathlib
import re
import sys

# Files of app/ that belong to the base layer; the rest of app/ is the shell.
BASE_APP = {"back_buffer", "diagnostic_stage", "monotonic", "owned", "program_paths", "run_mode", "text",
            "ui_state"}
ALLOWED = {
    "link": {"link"},
    "base": {"base"},
    "render": {"base", "link", "render"},
    "actions": {"base", "link", "render", "actions"},
    "shell": {"base", "link", "render", "actions", "shell"},
}
FOLDER_LAYER = {"link": "link", "config": "base", "scenes": "base", "render": "render",
                "actions": "actions", "selftest": "shell"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def layer_of(relative):
    folder, _, name = relative.partition("/")
    if folder == "app":
        return "base" if pathlib.PurePosixPath(name).stem in BASE_APP else "shell"
    return FOLDER_LAYER.get(folder)


def main():
    root = pathlib.Path(sys.argv[1])
    faults = []
    checked = 0
    for path in sorted(root.glob("*/*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        relative = path.relative_to(root).as_posix()
        layer = layer_of(relative)
        if layer is None:
            continue
        checked += 1
        for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = layer_of(header)
            if target is None:
                faults.append(f"{relative}: includes {header}, which is in no layer")
            elif target not in ALLOWED[layer]:
                faults.append(f"{relative} ({layer}) includes {header} ({target})")
    for fault in faults:
        print(fault)
    print(f"{checked} files checked, {len(faults)} includes outside their layers")
    return 1 if faults or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
