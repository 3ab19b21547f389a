#!/usr/bin/env python3
"""Fails when the project's own includes form a circle.

A unit is a header and the source files of the same name beside it
(flowlens.h + flowlens.cpp). Unit A depends on unit B when a file of A
includes a header of B. Any circle in that graph (A -> B -> ... -> A) is
reported; a circle that crosses modules (folders) is marked as such.

Usage: check_include_cycles.py [source root]   (default: the repository)
Exit status: 0 no circle, 1 circles found (listed), 2 usage error.
"""

import os
import re
import sys
from collections import defaultdict

SCANNED_FOLDERS = ("capture", "formats", "plugin", "tools", "bench", "fuzz", "tests")
EXTENSIONS = (".c", ".cc", ".cpp", ".h", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def source_files(root):
    found = []
    for folder in SCANNED_FOLDERS:
        top = os.path.join(root, folder)
        for directory, subfolders, files in os.walk(top):
            subfolders.sort()
            for name in sorted(files):
                if name.endswith(EXTENSIONS):
                    found.append(os.path.relpath(os.path.join(directory, name), root))
    return found


def includes_of(root, path):
    """(line number, include string) of every quoted include of a file."""
    result = []
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as handle:
        for number, line in enumerate(handle, 1):
            match = INCLUDE.match(line)
            if match:
                result.append((number, match.group(1)))
    return result


def common_prefix_length(a, b):
    length = 0
    for x, y in zip(a.split("/"), b.split("/")):
        if x != y:
            break
        length += 1
    return length


class Resolver:
    """Finds the repository file an include names: first beside the including
    file, then the file whose path ends with the include string (the include
    paths of the build); among several, the ones closest to the includer."""

    def __init__(self, files):
        self.files = set(files)
        self.by_name = defaultdict(list)
        for path in files:
            self.by_name[os.path.basename(path)].append(path)

    def resolve(self, includer, text):
        beside = os.path.normpath(os.path.join(os.path.dirname(includer), text))
        if beside in self.files:
            return [beside]
        suffix = "/" + os.path.normpath(text)
        candidates = [p for p in self.by_name[os.path.basename(text)]
                      if ("/" + p).endswith(suffix)]
        if len(candidates) <= 1:
            return candidates
        best = max(common_prefix_length(includer, p) for p in candidates)
        return [p for p in candidates if common_prefix_length(includer, p) == best]


def unit_of(path):
    return os.path.splitext(path)[0]


def module_of(unit):
    return os.path.dirname(unit)


def strongly_connected(graph):
    """Tarjan's algorithm, iterative; yields the components of two or more units."""
    index = {}
    low = {}
    on_stack = set()
    stack = []
    counter = 0
    components = []
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            advanced = False
            for succ in successors:
                if succ not in index:
                    index[succ] = low[succ] = counter
                    counter += 1
                    stack.append(succ)
                    on_stack.add(succ)
                    work.append((succ, iter(sorted(graph[succ]))))
                    advanced = True
                    break
                if succ in on_stack:
                    low[node] = min(low[node], index[succ])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    components.append(sorted(component))
    return components


def main(argv):
    if len(argv) > 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = argv[1] if len(argv) == 2 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if not os.path.isdir(root):
        print(f"check_include_cycles: no such folder: {root}", file=sys.stderr)
        return 2

    files = source_files(root)
    resolver = Resolver(files)
    graph = defaultdict(set)
    # (from unit, to unit) -> the include lines that make the edge
    evidence = defaultdict(list)
    for path in files:
        unit = unit_of(path)
        graph[unit]
        for number, text in includes_of(root, path):
            for target in resolver.resolve(path, text):
                target_unit = unit_of(target)
                if target_unit == unit:
                    continue
                graph[unit].add(target_unit)
                evidence[(unit, target_unit)].append(f"{path}:{number} includes \"{text}\"")

    circles = strongly_connected(graph)
    if not circles:
        print(f"{len(files)} files, {len(graph)} units, no include circle")
        return 0

    print(f"{len(files)} files, {len(graph)} units, {len(circles)} include circle(s):")
    for number, members in enumerate(circles, 1):
        modules = sorted({module_of(m) for m in members})
        where = "across modules " + ", ".join(modules) if len(modules) > 1 else "within " + modules[0]
        print(f"\n{number}. {len(members)} units {where}:")
        member_set = set(members)
        for unit in members:
            for target in sorted(graph[unit] & member_set):
                for line in evidence[(unit, target)]:
                    print(f"   {unit} -> {target}: {line}")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
