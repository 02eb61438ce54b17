#!/usr/bin/env python3
"""Checks that the client's layers only include downwards.

Every quoted #include in a layer's folder must name a header of that layer
or of a layer below it, or a public header (include/talvor/). The build
already refuses most such includes, because a layer's targets only see the
folders of the layers they link; this check names the offending line and
also catches a path written relative to the repository ("../core/api.h").

Usage: check_layers.py REPOSITORY_ROOT
"""
import os
import re
import sys

# Each layer's folder and the folders it may include from, itself included.
ALLOWED = {
    "socket": ["socket"],
    "comm": ["comm", "socket"],
    "util": ["util"],
    "core": ["core", "comm", "socket", "util"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def headers_of(root, folder):
    path = os.path.join(root, folder)
    return {f for f in os.listdir(path) if f.endswith(".h")}


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    root = sys.argv[1]
    public = {"talvor/" + f for f in os.listdir(os.path.join(root, "include", "talvor"))}
    owner = {}
    for folder in ALLOWED:
        for h in headers_of(root, folder):
            owner.setdefault(h, folder)
    problems = []
    for folder, allowed in ALLOWED.items():
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith((".h", ".cpp")):
                continue
            text = open(os.path.join(root, folder, name), encoding="utf-8").read()
            for included in INCLUDE.findall(text):
                if included in public:
                    continue
                if "/" in included:
                    problems.append(f"{folder}/{name}: includes \"{included}\" by a path; "
                                    "layers include each other's headers by name")
                    continue
                home = owner.get(included)
                if home is None:
                    problems.append(f"{folder}/{name}: includes \"{included}\", which no layer has")
                elif home not in allowed:
                    problems.append(f"{folder}/{name}: includes \"{included}\" of {home}/, "
                                    f"a layer above or beside {folder}/")
    for p in problems:
        print(p)
    if problems:
        return 1
    print("layers include only downwards: " + ", ".join(ALLOWED))
    return 0


if __name__ == "__main__":
    sys.exit(main())
