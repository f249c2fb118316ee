#!/usr/bin/env python3
"""Checks that every include of the library's sources runs down the floors.

A source may include a header of its own folder or of a folder on a lower
floor, never one on its own floor in another folder or on a higher one.
The floors, from the ground up, are those of docs/architecture.md.
Usage: include_layers.py SOURCE_DIR; exit status 1 names every include
that breaks the order.
"""
import os
import re
import sys

FLOORS = [
    ["core/base"],
    ["config", "appearance"],
    ["pdf"],
    ["crypto"],
    ["crypto/revocation"],
    ["crypto/keys", "crypto/timestamps", "crypto/trust"],
    ["crypto/signing", "crypto/changes"],
    ["core"],
    ["cli", "jni"],
]
FLOOR = {folder: level for level, folders in enumerate(FLOORS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def main(root):
    faults = []
    for folder in FLOOR:
        directory = os.path.join(root, folder)
        if not os.path.isdir(directory):
            faults.append(f"{folder}/: the folder is missing")
            continue
        for name in sorted(os.listdir(directory)):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(folder, name)
            with open(os.path.join(root, path), encoding="utf-8") as source:
                text = source.read()
            for target in INCLUDE.findall(text):
                to = os.path.dirname(target)
                if to == folder or to not in FLOOR:
                    continue
                if FLOOR[to] >= FLOOR[folder]:
                    faults.append(f"{path} includes {target}, which stands on the same floor or above")
    # Every library folder has a floor: a new one must be placed before it is used.
    for top in ("core", "config", "appearance", "pdf", "crypto"):
        for dirpath, dirnames, _ in os.walk(os.path.join(root, top)):
            rel = os.path.relpath(dirpath, root)
            if rel not in FLOOR:
                faults.append(f"{rel}/: a folder with no floor")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
