#!/usr/bin/env python3
"""Fails when README.md or a page in docs/ links to a file or heading that is not there, when
a page of docs/ is not linked from README.md, or when README.md stops being a front door: more
than 220 lines, or its two commands (the main job, the test suite) not within its first 60.

    scripts/check-docs.py [ROOT]      # ROOT: the tree to check, the script's own by default
"""
import os
import re
import sys
from pathlib import Path

README_MAX_LINES = 220
COMMANDS_WITHIN = 60
COMMANDS = ("./scripts/demo.sh", "./scripts/test.sh")

FENCE = re.compile(r"^\s*(```|~~~)")
# [text](target) and ![alt](target); a target may carry a "title".
LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
CODE_SPAN = re.compile(r"(`+).*?\1")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")


def OutsideFences(lines):
    """The lines outside fenced code blocks, with their numbers (from 1)."""
    fenceMark = None
    for number, line in enumerate(lines, 1):
        fence = FENCE.match(line)
        if fence:
            if fenceMark is None:
                fenceMark = fence.group(1)
            elif fence.group(1) == fenceMark:
                fenceMark = None
        elif fenceMark is None:
            yield number, line


def InsideFences(lines):
    """The lines inside fenced code blocks."""
    outside = {number for number, _ in OutsideFences(lines)}
    return [line for number, line in enumerate(lines, 1)
            if number not in outside and not FENCE.match(line)]


def Anchors(path):
    """The anchors GitHub gives the headings of a page: lower case, punctuation dropped,
    spaces made hyphens, a repeated heading numbered."""
    seen = {}
    anchors = set()
    for _, line in OutsideFences(path.read_text(encoding="utf-8").splitlines()):
        match = HEADING.match(line)
        if not match:
            continue
        title = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", match.group(2)).replace("`", "")
        slug = re.sub(r"[^\w\- ]", "", title.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        anchors.add(slug if count == 0 else f"{slug}-{count}")
    return anchors


def CheckLinks(root, page, problems):
    linked = set()
    text = page.read_text(encoding="utf-8")
    for number, line in OutsideFences(text.splitlines()):
        for target in LINK.findall(CODE_SPAN.sub("", line)):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.IGNORECASE):
                continue  # http:, https:, mailto: and the like are not checked
            where = f"{page.relative_to(root)}:{number}"
            pathPart, _, anchor = target.partition("#")
            resolved = (page.parent / pathPart).resolve() if pathPart else page
            if pathPart and not resolved.exists():
                problems.append(f"{where}: link to {target}: no such file")
                continue
            linked.add(resolved)
            if anchor and resolved.suffix == ".md" and resolved.is_file():
                if anchor not in Anchors(resolved):
                    problems.append(
                        f"{where}: link to {target}: {os.path.relpath(resolved, root)} has no "
                        f"heading with the anchor #{anchor}")
    return linked


def CheckFrontDoor(root, readme, problems):
    lines = readme.read_text(encoding="utf-8").splitlines()
    if len(lines) > README_MAX_LINES:
        problems.append(f"README.md: {len(lines)} lines, at most {README_MAX_LINES}")
    shown = set()
    for line in InsideFences(lines[:COMMANDS_WITHIN]):
        words = line.split()
        if words and words[0] in COMMANDS:
            shown.add(words[0])
    for command in COMMANDS:
        if command not in shown:
            problems.append(
                f"README.md: `{command}` is not a command in a code block within its first "
                f"{COMMANDS_WITHIN} lines")


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    root = root.resolve()
    readme = root / "README.md"
    pages = sorted((root / "docs").glob("*.md"))
    problems = []
    CheckFrontDoor(root, readme, problems)
    linkedFromReadme = CheckLinks(root, readme, problems)
    for page in pages:
        CheckLinks(root, page, problems)
        if page.resolve() not in linkedFromReadme:
            problems.append(f"{page.relative_to(root)}: not linked from README.md")
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
