#!/usr/bin/env python3
"""Checks that includes point down: every project include of a file names a
file on its own floor or a lower one, for the client's floors and the
server's rooms alike. Prints each include that points up; exit 1 if any."""
import os
import re
import sys

# Lowest first; folders on one line share a floor.
CLIENT = [["core"], ["settings"], ["media"], ["link"], ["ui", "input"], ["app"]]
SERVER = [["server"], ["server/encode"], ["server/sources"], ["server/moonlight"],
          ["server/sessions"], ["server/net"], ["server/main.cpp"]]


def floor_of(path, floors):
    best = None
    for level, rooms in enumerate(floors):
        for room in rooms:
            if path == room or path.startswith(room + "/"):
                if best is None or len(room) > len(best[1]):
                    best = (level, room)
    return best


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    bad = 0
    for top in ["core", "settings", "media", "link", "ui", "input", "app", "server"]:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root)
                floors = SERVER if path.startswith("server/") else CLIENT
                mine = floor_of(path, floors)
                for line in open(os.path.join(root, path), encoding="utf-8"):
                    m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                    if not m:
                        continue
                    target = m.group(1)
                    theirs = floor_of(target, floors) if target.startswith("server/") == (floors is SERVER) \
                        else (-1, "client")  # the server may use the client's wire headers
                    if theirs is None or mine is None:
                        continue
                    if theirs[0] > mine[0]:
                        print("%s includes %s, a floor above it" % (path, target))
                        bad += 1
    print("includes: %d pointing up" % bad)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
