#!/usr/bin/env python3
"""Holds the folder diagram of docs/architecture.md to the includes of the
code, so that the picture cannot drift from the tree it draws.

usage: check_diagram.py SOURCE_DIR [DOCUMENT]
    DOCUMENT defaults to SOURCE_DIR/docs/architecture.md; its first Mermaid
    block is read.

The diagram names each folder once, as a node whose label is the folder's
path (plugin["dll/plugin"]), and joins them with arrows that all point one
way: "A --> B" means files in A include files in B. A dotted arrow
("A -. loads .-> B") is for a program that loads or links what B builds and
needs no include behind it. The diagram is refused, with every reason, when
  - a node names a folder that does not exist,
  - a solid arrow has no include behind it,
  - one drawn folder includes another and the arrow is missing,
  - a folder of code (dll/*, hosts/*, tools/*, script, studio) is left out,
  - a line is not one of the forms above.
Includes are read as architecture.layers reads them: "#include "x/..."" in
a .h or .cpp file names the folder that check_layers.cmake (beside this
file) gives for the spelling x; a file belongs to dll/<layer>, hosts/<host>,
tools/<tool> or its top-level folder.

Exit status: 0 the diagram holds, 1 it does not, 2 it cannot be read.
This is a script of its own, not part of check_layers.cmake, because it
parses Markdown and Mermaid, which CMake's regular expressions read poorly.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SKIPPED_FOLDERS = {"build", ".git", "node_modules"}
GROUPED = ("dll", "hosts", "tools")  # folders whose subfolders are drawn one by one
ALONE = ("script", "studio")  # folders drawn whole

NODE = r'([A-Za-z_][A-Za-z0-9_]*)(?:\["([^"]*)"\])?'
ARROW = r'\s*(-->|-\.->|-\.[^.>]*\.->)\s*'
IGNORED_LINE = re.compile(r'^(flowchart|graph|subgraph|end$|direction|classDef|class |style |linkStyle|%%)')


class Unreadable(Exception):
    pass


def include_roots():
    """The include spellings and the folders they name, from check_layers.cmake."""
    path = os.path.join(HERE, "check_layers.cmake")
    with open(path, encoding="utf-8") as f:
        roots = dict(re.findall(r'^set\(root_(\w+) ([\w/]+)\)', f.read(), re.M))
    if not roots:
        raise Unreadable(f"{path}: no include roots (set(root_NAME folder)) found")
    return roots


def folder_of(relative):
    match = re.match(r'^(?:dll|hosts|tools)/[^/]+', relative)
    return match.group(0) if match else relative.split("/")[0]


def include_graph(source, roots):
    """(folder, included folder) -> the first file and include that joins them."""
    edges = {}
    for directory, subdirectories, files in os.walk(source):
        subdirectories[:] = sorted(d for d in subdirectories if d not in SKIPPED_FOLDERS)
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(directory, name)
            relative = os.path.relpath(path, source).replace(os.sep, "/")
            folder = folder_of(relative)
            with open(path, encoding="utf-8", errors="replace") as f:
                for line in f:
                    match = re.match(r'\s*#\s*include\s*"(([^"/]+)/[^"]*)"', line)
                    if not match or match.group(2) not in roots:
                        continue
                    target = roots[match.group(2)]
                    if target != folder:
                        edges.setdefault((folder, target), f"{relative}: {match.group(1)}")
    return edges


def mermaid_block(document):
    try:
        with open(document, encoding="utf-8") as f:
            text = f.read()
    except OSError as error:
        raise Unreadable(f"{document}: {error.strerror}")
    match = re.search(r'^```mermaid\n(.*?)^```', text, re.M | re.S)
    if not match:
        raise Unreadable(f"{document}: no ```mermaid block")
    first_line = text[:match.start()].count("\n") + 2
    return [(first_line + i, line.strip()) for i, line in enumerate(match.group(1).splitlines())]


def read_diagram(lines, problems):
    """Node id -> folder, and the arrows as (line, id, id, solid)."""
    labels, arrows_read = {}, []
    for number, line in lines:
        if not line or IGNORED_LINE.match(line):
            continue
        nodes, arrows, rest = [], [], line
        match = re.match(NODE, rest)
        while match:
            nodes.append((match.group(1), match.group(2)))
            rest = rest[match.end():]
            arrow = re.match(ARROW, rest)
            if not arrow:
                break
            arrows.append(arrow.group(1))
            rest = rest[arrow.end():]
            match = re.match(NODE, rest)
        if rest.strip() or len(nodes) != len(arrows) + 1:
            problems.append(f"line {number}: cannot read \"{line}\" (expected node[\"folder\"], or nodes joined by "
                            "--> or -. text .->)")
            continue
        for node, label in nodes:
            if label is None:
                continue
            label = label.rstrip("/")
            if labels.get(node, label) != label:
                problems.append(f"line {number}: {node} names {label}, and {labels[node]} before")
            labels.setdefault(node, label)
        for i, arrow in enumerate(arrows):
            arrows_read.append((number, nodes[i][0], nodes[i + 1][0], arrow == "-->"))
    return labels, arrows_read


def check(source, document):
    roots = include_roots()
    problems = []
    labels, drawn_arrows = read_diagram(mermaid_block(document), problems)
    drawn = set(labels.values())
    for node, folder in sorted(labels.items()):
        if not os.path.isdir(os.path.join(source, folder)):
            problems.append(f"{node} names {folder}/: no such folder")

    includes = include_graph(source, roots)
    arrows = set()
    for number, a, b, is_solid in drawn_arrows:
        unnamed = [node for node in (a, b) if node not in labels]
        for node in unnamed:
            problems.append(f"line {number}: {node} is drawn without a folder ({node}[\"path\"])")
        if unnamed or not is_solid:
            continue
        arrow = (labels[a], labels[b])
        arrows.add(arrow)
        if arrow not in includes:
            problems.append(f"arrow {arrow[0]} --> {arrow[1]}: no file in {arrow[0]}/ includes "
                            f"a file of {arrow[1]}/")
    for (a, b), example in sorted(includes.items()):
        if a in drawn and b in drawn and (a, b) not in arrows:
            problems.append(f"{a}/ includes {b}/ ({example}) but the diagram has no arrow {a} --> {b}")

    folders = [f"{group}/{name}" for group in GROUPED if os.path.isdir(os.path.join(source, group))
               for name in sorted(os.listdir(os.path.join(source, group)))
               if os.path.isdir(os.path.join(source, group, name))]
    folders += [name for name in ALONE if os.path.isdir(os.path.join(source, name))]
    for folder in folders:
        if folder not in drawn:
            problems.append(f"{folder}/ is not in the diagram")
    return problems, len(arrows), sum(1 for a, b in includes if a in drawn and b in drawn)


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    source = argv[1]
    document = argv[2] if len(argv) == 3 else os.path.join(source, "docs", "architecture.md")
    try:
        problems, arrows, includes = check(source, document)
    except Unreadable as error:
        print(f"check_diagram: {error}", file=sys.stderr)
        return 2
    if problems:
        print(f"{document}: the diagram does not match the includes ({len(problems)} problem(s)):")
        for problem in problems:
            print(f"  {problem}")
        return 1
    print(f"{document}: {arrows} solid arrows, each with includes behind it, "
          f"and every one of the {includes} includes between drawn folders drawn")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
