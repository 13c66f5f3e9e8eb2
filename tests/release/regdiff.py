#!/usr/bin/env python3
"""Compares two registry exports (reg export, UTF-16) key by key and value by value, and
prints every difference: "- key" / "+ key" for a key that only one has, "- key: value" /
"+ key: value" for a value that only one has (also in such a key). Exit code 1 when they
differ.

  --ignore REGEX         keys (and their values) whose path matches are left out
  --replace OLD NEW      OLD is read as NEW in both exports (case-insensitive), for instance
                         each side's DLL path as one placeholder

usage: regdiff.py [--ignore REGEX]... [--replace OLD NEW]... <expected.reg> <actual.reg>
"""
import re
import sys


def load(path, replacements):
    with open(path, "rb") as f:
        text = f.read().decode("utf-16")
    keys, key = {}, None
    lines = iter(text.splitlines())
    for line in lines:
        while line.endswith("\\") and not line.startswith("["):  # a hex value goes on
            line = line[:-1] + next(lines, "").strip()
        for old, new in replacements:
            line = re.sub(re.escape(old), lambda _: new, line, flags=re.IGNORECASE)
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1].lower()
            keys.setdefault(key, set())
        elif line and key is not None:
            keys[key].add(line)
    return keys


def main(argv):
    ignore, replacements, files = [], [], []
    while argv:
        arg = argv.pop(0)
        if arg == "--ignore":
            ignore.append(re.compile(argv.pop(0), re.IGNORECASE))
        elif arg == "--replace":
            replacements.append((argv.pop(0).replace("\\", "\\\\"), argv.pop(0)))
        else:
            files.append(arg)
    if len(files) != 2:
        sys.exit(__doc__)
    expected, actual = (load(f, replacements) for f in files)
    differences = []
    for key in sorted(set(expected) | set(actual)):
        if any(p.search(key) for p in ignore):
            continue
        if key not in actual:
            differences.append("- " + key)
        elif key not in expected:
            differences.append("+ " + key)
        differences += ["- %s: %s" % (key, v) for v in sorted(expected.get(key, set()) - actual.get(key, set()))]
        differences += ["+ %s: %s" % (key, v) for v in sorted(actual.get(key, set()) - expected.get(key, set()))]
    print("\n".join(differences))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
