#!/usr/bin/env python3
"""Fails when the folders break the layout's rules:
- two folders include each other, directly or round a longer cycle;
- the dashboard (web/) reaches the running hub's host (hub/posix/host/), by its own includes
  or through a folder it includes;
- hub/posix holds a file of its own other than main.cpp and CMakeLists.txt (the rest lives in
  its rooms: cli/, host/, status/, config/ ...).
Quoted includes name files from the project's root; a bare name is beside the file."""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
HUB_POSIX_OWN = {"main.cpp", "CMakeLists.txt"}
HOST = "hub/posix/host"


def folder_edges(sources):
    """folder -> {folder it includes: the first file that does}"""
    edges = {}
    for path in sources:
        folder = os.path.dirname(path)
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as source:
            for name in INCLUDE.findall(source.read()):
                beside = os.path.join(folder, name)
                if "/" in name and not os.path.isfile(os.path.join(ROOT, beside)):
                    beside = name
                target = os.path.normpath(os.path.dirname(beside))
                if target != folder:
                    edges.setdefault(folder, {}).setdefault(target, path)
    return edges


def cycles(edges):
    """The groups of folders that reach each other (Tarjan's strongly connected components)."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for target in edges.get(node, {}):
            if target not in index:
                visit(target)
                low[node] = min(low[node], low[target])
            elif target in on_stack:
                low[node] = min(low[node], index[target])
        if low[node] == index[node]:
            group = []
            while not group or group[-1] != node:
                group.append(stack.pop())
                on_stack.discard(group[-1])
            if len(group) > 1:
                groups.append(set(group))

    sys.setrecursionlimit(10000)
    for node in sorted(edges):
        if node not in index:
            visit(node)
    return groups


def route(edges, start, goal):
    """The folders from start to goal along includes, or None."""
    came_from, queue = {start: None}, [start]
    while queue:
        node = queue.pop(0)
        if node == goal or node.startswith(goal + "/"):
            path = []
            while node is not None:
                path.append(node)
                node = came_from[node]
            return path[::-1]
        for target in sorted(edges.get(node, {})):
            if target not in came_from:
                came_from[target] = node
                queue.append(target)
    return None


def main():
    files = subprocess.run(["git", "ls-files"], cwd=ROOT, check=True, capture_output=True,
                           text=True).stdout.splitlines()
    sources = [path for path in files if path.endswith((".cpp", ".h", ".c", ".rc")) and
               os.path.isfile(os.path.join(ROOT, path))]
    edges = folder_edges(sources)
    problems = []
    for path in files:
        if os.path.dirname(path) == "hub/posix" and os.path.basename(path) not in HUB_POSIX_OWN:
            problems.append(f"{path}: hub/posix keeps its files in its rooms (cli/, host/ ...)")
    for group in cycles(edges):
        links = [f"  {folder} -> {target} ({edges[folder][target]})" for folder in sorted(group)
                 for target in sorted(edges[folder]) if target in group]
        problems.append("folders that include each other:\n" + "\n".join(links))
    for folder in sorted(edges):
        if folder == "web" or folder.startswith("web/"):
            found = route(edges, folder, HOST)
            if found:
                steps = [f"  {a} -> {b} ({edges[a][b]})" for a, b in zip(found, found[1:])]
                problems.append(f"the dashboard reaches the hub's host:\n" + "\n".join(steps))
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
