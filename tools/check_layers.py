#!/usr/bin/python3
"""Checks that the code's layers depend one way only.

Layers, lowest first: core (portable) <- win <- framework <- localisation, update, guard
<- app. Each may use the layers listed for it below and nothing else; resources/ holds
shared data (ids, the update host, the version) that every layer may include.

Three checks, each over the checked-in sources:
  includes    every #include "X" of a layer names a header of that layer, of a layer it
              may use, or of resources/;
  links       every project library a layer's CMakeLists.txt links is one it may use;
  circles     no circle among components (X.h with X.cpp and X_win.cpp), inside a
              layer or across layers.
Prints each violation and exits 1 when there is any. Usage: check_layers.py [SOURCE_DIR]
"""

import os
import re
import sys

ALLOWED = {
    "core": [],
    "win": ["core"],
    "framework": ["win", "core"],
    "localisation": ["framework", "win", "core"],
    "update": ["win", "core"],
    "guard": ["localisation", "framework", "win", "core"],
    "app": ["update", "guard", "localisation", "framework", "win", "core"],
}
SHARED_DATA = "resources"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
LINK = re.compile(r"target_link_libraries\(\s*(\S+)\s+(?:PUBLIC|PRIVATE|INTERFACE)?([^)]*)\)", re.DOTALL)
SOURCE = re.compile(r"\.(h|cpp)$")


def component(name):
    """Seekwell_win.cpp, Seekwell.cpp and Seekwell.h are one component."""
    stem = SOURCE.sub("", name)
    return stem[:-4] if stem.endswith("_win") else stem


def layer_files(root):
    files = {}
    for layer in list(ALLOWED) + [SHARED_DATA]:
        folder = os.path.join(root, layer)
        for name in sorted(os.listdir(folder)):
            if SOURCE.search(name):
                files.setdefault(name, layer)
    return files


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    owner = layer_files(root)
    problems = []
    edges = {}
    for layer in ALLOWED:
        folder = os.path.join(root, layer)
        for name in sorted(os.listdir(folder)):
            if not SOURCE.search(name):
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as source:
                text = source.read()
            if layer == "core" and re.search(r"#\s*include\s+<(windows|winbase|wininet|urlmon)\.h>", text, re.I):
                problems.append("%s/%s: core includes a platform header" % (layer, name))
            for header in INCLUDE.findall(text):
                target = owner.get(header)
                if target is None:
                    problems.append("%s/%s: includes %s, which no layer holds" % (layer, name, header))
                    continue
                if target not in (layer, SHARED_DATA) and target not in ALLOWED[layer]:
                    problems.append("%s/%s: includes %s of %s, which %s may not use" % (layer, name, header, target, layer))
                if target != SHARED_DATA:
                    edges.setdefault((layer, component(name)), set()).add((target, component(header)))
        with open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8") as cmake:
            for _, libraries in LINK.findall(cmake.read()):
                for library in libraries.split():
                    if library in ALLOWED and library != layer and library not in ALLOWED[layer]:
                        problems.append("%s/CMakeLists.txt: links %s, which %s may not use" % (layer, library, layer))

    # Depth-first search for a circle among components.
    state = {}
    def visit(node, path):
        state[node] = "open"
        for nxt in sorted(edges.get(node, ())):
            if nxt == node:
                continue
            if state.get(nxt) == "open":
                circle = path[path.index(nxt):] + [nxt]
                problems.append("circle: " + " -> ".join("%s/%s" % pair for pair in circle))
            elif nxt not in state:
                visit(nxt, path + [nxt])
        state[node] = "done"
    for node in sorted(edges):
        if node not in state:
            visit(node, [node])

    for problem in problems:
        print(problem)
    components = len({node for node in edges} | {n for targets in edges.values() for n in targets})
    print("layers: %d problem(s) in %d components of %d layers" % (len(problems), components, len(ALLOWED)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
