#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

Layers, lowest first: base; platform/events and platform/imagefiles; the
platform libraries (engine, media, link, which do not include each other);
shared; the programs (cli, join). The application is layered in itself:
its views and its render jobs (which do not include each other), then the
Record Input window over the views, then the controller, then its main.
"""
import pathlib
import re
import sys

RANK = {"base": 0, "platform/events": 1, "platform/imagefiles": 1, "platform/engine": 2,
        "platform/media": 2, "platform/link": 2, "shared": 3, "cli": 4, "join": 4,
        "app/view": 4, "app/job": 4, "app/recording": 5, "app/controller": 6, "app": 7}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    for name in sorted(RANK, key=len, reverse=True):
        if path == name or path.startswith(name + "/"):
            return name
    return None


def main(source_root):
    src = pathlib.Path(source_root) / "src"
    faults = []
    for file in sorted(src.rglob("*")):
        if file.suffix not in (".h", ".cpp"):
            continue
        own = layer_of(file.relative_to(src).as_posix())
        if own is None:
            continue
        for included in INCLUDE.findall(file.read_text(encoding="utf-8", errors="replace")):
            other = layer_of(included)
            if other is None or other == own:
                continue
            if RANK[other] > RANK[own] or (RANK[other] == RANK[own] and own != other):
                faults.append(f"{file.relative_to(src)}: includes {included} ({other} is not below {own})")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} layering faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
