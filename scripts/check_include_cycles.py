#!/usr/bin/env python3
"""Fails when the project's own includes form a circle.

A unit is a header and the source files of the same name beside it
(flowlens.h + flowlens.cpp). Unit A depends on unit B when a file of A
includes a header of B, and when a file of A uses a function or variable
that a header it includes declares and a source file of B defines (so a
header shared by several sources, like zelanalyzer.h, still leads to the
unit that owns each name). Any circle in that graph (A -> B -> ... -> A) is
reported; a circle that crosses modules (folders) is marked as such.

Usage: check_include_cycles.py [--across-modules] [source root]
  source root       default: the repository this script is in
  --across-modules  fail only on circles between units of different modules;
                    circles within one module are listed as notes
Exit status: 0 no (failing) circle, 1 circles found (listed), 2 usage error.
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


COMMENT_OR_STRING = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"', re.S)
IDENTIFIER = re.compile(r"[A-Za-z_]\w*")
NOT_A_DECLARATION = re.compile(r"^(#|typedef\b|struct\b|class\b|enum\b|union\b|namespace\b|using\b|"
                               r"template\b|static\b|inline\b|constexpr\b|return\b|public\b|private\b|"
                               r"protected\b|extern\s+\"C\"\s*\{|\}|\{)")
NOT_A_DEFINITION = re.compile(r"^(#|extern\b|static\b|using\b|typedef\b|return\b|\})")
DECLARED_FUNCTION = re.compile(r"\b([A-Za-z_]\w*)\s*\(")
DECLARED_VARIABLE = re.compile(r"\b([A-Za-z_]\w*)\s*(?:\[[^\]]*\])?\s*;\s*$")


def code_text(root, path):
    """The file without comments and string literals."""
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as handle:
        return COMMENT_OR_STRING.sub(" ", handle.read())


def declared_names(text):
    """Functions and variables a header declares at file scope (lines that
    start in the first column)."""
    names = set()
    for line in text.splitlines():
        if not line or line[0].isspace() or NOT_A_DECLARATION.match(line):
            continue
        function = DECLARED_FUNCTION.search(line)
        if function:
            names.add(function.group(1))
            continue
        if line.startswith("extern") or "_API " in line:
            variable = DECLARED_VARIABLE.search(line)
            if variable:
                names.add(variable.group(1))
    return names


def defined_names(text, candidates):
    """Which of the candidate names a source file defines at file scope."""
    found = set()
    statements = []
    for line in text.splitlines():
        if not line or line[0].isspace() or NOT_A_DEFINITION.match(line):
            continue
        statements.append(line)
    for line in statements:
        function = DECLARED_FUNCTION.search(line)
        if function and function.group(1) in candidates and not line.rstrip().endswith(";"):
            # A definition names the function after its type, not inside an
            # expression or an argument list.
            if not re.search(r"[=(,]", line[:function.start(1)]):
                found.add(function.group(1))
            continue
        for name in IDENTIFIER.findall(line.split("=")[0]):
            if name in candidates and re.search(r"\b" + name + r"\s*(?:\[[^\]]*\])?\s*(?:=|;)", line):
                found.add(name)
    return found


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
    args = argv[1:]
    across_modules_only = "--across-modules" in args
    args = [a for a in args if a != "--across-modules"]
    if len(args) > 1 or any(a.startswith("-") for a in args):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = args[0] if args else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if not os.path.isdir(root):
        print(f"check_include_cycles: no such folder: {root}", file=sys.stderr)
        return 2

    files = source_files(root)
    resolver = Resolver(files)
    texts = {path: code_text(root, path) for path in files}
    headers = [p for p in files if p.endswith((".h", ".hpp"))]
    declarations = {h: declared_names(texts[h]) for h in headers}
    all_declared = set().union(*declarations.values()) if declarations else set()
    definers = defaultdict(list)  # name -> source files that define it
    for path in files:
        if not path.endswith((".h", ".hpp")):
            for name in defined_names(texts[path], all_declared):
                definers[name].append(path)

    graph = defaultdict(set)
    # (from unit, to unit) -> the lines that make the edge
    evidence = defaultdict(list)

    def add_edge(unit, target_unit, why):
        if target_unit != unit:
            graph[unit].add(target_unit)
            evidence[(unit, target_unit)].append(why)

    for path in files:
        unit = unit_of(path)
        graph[unit]
        used = set(IDENTIFIER.findall(texts[path]))
        for number, text in includes_of(root, path):
            for target in resolver.resolve(path, text):
                add_edge(unit, unit_of(target), f"{path}:{number} includes \"{text}\"")
                for name in sorted(declarations.get(target, set()) & used):
                    owners = definers.get(name, [])
                    if not owners:
                        continue
                    best = max(common_prefix_length(path, o) for o in owners)
                    for owner in owners:
                        if common_prefix_length(path, owner) == best:
                            add_edge(unit, unit_of(owner),
                                     f"{path} uses {name} (declared in {target}, defined in {owner})")

    circles = strongly_connected(graph)
    failing = [c for c in circles if not across_modules_only or len({module_of(m) for m in c}) > 1]
    if not circles:
        print(f"{len(files)} files, {len(graph)} units, no include circle")
        return 0
    if not failing:
        print(f"{len(files)} files, {len(graph)} units, no include circle across modules "
              f"({len(circles)} within one module, listed below)")
    else:
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
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
