#!/usr/bin/env python3
"""Checks that every relative link and anchor in the Markdown files under a folder resolves.

usage: links.py <folder>

The folder is a repository (the top of a git work tree: its tracked files and the untracked
ones git does not ignore) or any other folder, such as an unpacked release package (every file
under it). Each *.md file's inline links and images, [text](target) and ![alt](target), and its
reference definitions, [label]: target, are read outside code blocks and code spans. A target
with a scheme (https:, mailto:, ...) is external and not checked. Any other target must name a
file or folder inside the folder; a fragment (#anchor) must name a heading of the Markdown file
it points to (or of the linking file itself, for a bare #anchor) as GitHub makes its anchors:
the heading's text in lower case, punctuation dropped, spaces turned into hyphens, the second
and later headings of one anchor suffixed -1, -2, and so on; an HTML element's id or name
counts too. Only ATX headings (# Heading) are recognised.

Prints one line per broken link, <file>:<line>: <target>: <reason>, and exits 1 if there is
any, 0 otherwise.
"""
import os
import re
import subprocess
import sys
import urllib.parse

FENCE = re.compile(r"^ *(`{3,}|~{3,})")
HEADING = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
HTML_ANCHOR = re.compile(r"""<a\s[^>]*?\b(?:id|name)\s*=\s*["']([^"']+)["']""", re.IGNORECASE)
CODE_SPAN = re.compile(r"(`+)(.+?)(?<!`)\1(?!`)")
# [text](target "title") and ![alt](target); a target may hold one level of parentheses.
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|(?:[^()\s]|\([^()\s]*\))*)(?:\s+(?:\"[^\"]*\"|'[^']*'))?\s*\)")
DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")
LINE_FRAGMENT = re.compile(r"^L\d+(-L\d+)?$")  # GitHub's lines of a file that is not Markdown


def heading_text(markdown):
    """The text a heading renders to: code spans as their content, links as their text, no tags."""
    text = CODE_SPAN.sub(lambda m: m.group(2).strip(), markdown)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    return re.sub(r"<[^>]+>", "", text)


def slug(text):
    """GitHub's anchor of a heading's text, before duplicates are numbered."""
    return re.sub(r"[^\w\- ]", "", text.strip().lower()).replace(" ", "-")


def lines_outside_code(text):
    """(line number, line) of the lines outside fenced code blocks."""
    fence = None
    for number, line in enumerate(text.split("\n"), 1):
        match = FENCE.match(line)
        if fence is None and match:
            fence = match.group(1)
        elif fence is not None:
            if match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence) \
                    and not line.strip()[len(match.group(1)):].strip():
                fence = None
        else:
            yield number, line


def anchors(text):
    """Every anchor a Markdown text offers: its headings' (numbered as GitHub numbers them)
    and its HTML elements' ids and names."""
    found, occurrences = set(), {}
    for _, line in lines_outside_code(text):
        found.update(HTML_ANCHOR.findall(line))
        match = HEADING.match(line)
        if not match:
            continue
        base = result = slug(heading_text(match.group(2) or ""))
        while result in occurrences:  # as github-slugger numbers repeated anchors
            occurrences[base] += 1
            result = "%s-%d" % (base, occurrences[base])
        occurrences[result] = 0
        found.add(result)
    return found


def links(text):
    """(line number, target) of every link in a Markdown text, outside code."""
    previous = ""  # a definition cannot interrupt a paragraph: "[40]: after" inside one is text
    for number, line in lines_outside_code(text):
        plain = CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)
        definition = DEFINITION.match(plain)
        starts_block = not previous.strip() or DEFINITION.match(previous) or HEADING.match(previous)
        previous = plain
        if definition and starts_block:
            yield number, definition.group(1)
            continue
        for match in INLINE_LINK.finditer(plain):
            yield number, match.group(1)


def repository_files(root):
    """The files of the folder, relative to it, with '/' between names."""
    try:
        top = subprocess.run(["git", "-C", root, "rev-parse", "--show-toplevel"], capture_output=True, text=True,
                             check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        top = None
    if top and os.path.realpath(top) == os.path.realpath(root):
        listed = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                capture_output=True, check=True).stdout.decode()
        return {name for name in listed.split("\0") if name and os.path.exists(os.path.join(root, name))}
    files = set()
    for folder, subfolders, names in os.walk(root):
        subfolders[:] = [s for s in subfolders if s != ".git"]
        files.update(os.path.relpath(os.path.join(folder, n), root).replace(os.sep, "/") for n in names)
    return files


def check(root):
    """The broken links under root, as '<file>:<line>: <target>: <reason>' lines."""
    files = repository_files(root)
    folders = {"."}
    for name in files:
        parts = name.split("/")
        folders.update("/".join(parts[:i]) for i in range(1, len(parts)))
    texts, offered = {}, {}

    def text_of(name):
        if name not in texts:
            with open(os.path.join(root, name), encoding="utf-8") as f:
                texts[name] = f.read()
        return texts[name]

    def anchors_of(name):
        if name not in offered:
            offered[name] = anchors(text_of(name))
        return offered[name]

    problems = []
    for source in sorted(n for n in files if n.endswith(".md")):
        for number, target in links(text_of(source)):
            where = "%s:%d: %s: " % (source, number, target)
            raw = target[1:-1] if target.startswith("<") else target
            if SCHEME.match(raw):
                continue
            path, _, fragment = raw.partition("#")
            path, fragment = urllib.parse.unquote(path), urllib.parse.unquote(fragment)
            if path.startswith("/"):
                resolved = os.path.normpath(path.lstrip("/"))
            else:
                resolved = os.path.normpath(os.path.join(os.path.dirname(source), path))
            resolved = resolved.replace(os.sep, "/")
            if not path:
                resolved = source
            if resolved == ".." or resolved.startswith("../"):
                problems.append(where + "leads out of the folder")
            elif resolved not in files and resolved not in folders:
                problems.append(where + "no such file or folder")
            elif fragment and resolved.endswith(".md") and resolved in files:
                if fragment not in anchors_of(resolved):
                    problems.append(where + "no such anchor in " + resolved)
            elif fragment and not LINE_FRAGMENT.match(fragment):
                problems.append(where + "an anchor into a file that is not Markdown")
    return problems


def main(argv):
    if len(argv) != 2 or not os.path.isdir(argv[1]):
        sys.exit(__doc__)
    problems = check(argv[1])
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
